// What a soak run drives and watches: two stations (and perhaps a third) on some air.  On virtual
// air it is the whole stack; on the link layer's block-level simulation the same schedule runs
// many times faster, for many seeds.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/link_session.h"
#include "soak/soak_schedule.h"

namespace kavra::soak {

class SoakWorld {
public:
    virtual ~SoakWorld() = default;

    virtual int StationCount() const = 0;  // 3 with the intruder, 2 without
    virtual std::uint64_t NowMs() const = 0;
    // Runs until `done` (asked every millisecond) or `max_ms` have passed.
    virtual void RunUntil(const std::function<bool()>& done, std::uint64_t max_ms) = 0;
    // Every log line a station writes (not chat, not status), as it is written.
    virtual void SetLogSink(std::function<void(int station, const std::string& text)> sink) = 0;

    // A present station.
    virtual link::LinkSession& Session(int i) = 0;
    virtual bool Keyed(int i) = 0;
    virtual bool OnAir(int i) = 0;  // its transmission is on the air this millisecond

    // The operator.
    virtual bool Connect(int i, const std::string& callsign) = 0;
    virtual void Disconnect(int i) = 0;
    virtual void Say(int i, const std::string& line) = 0;
    // Puts the file in the station's folder and asks to send it; answers whether it was offered.
    virtual bool SendFile(int i, const std::string& path, const std::vector<std::uint8_t>& bytes) = 0;
    virtual void StopTransfer(int i) = 0;
    virtual void Answer(int i, bool accept) = 0;

    // The channel and the stations' fate.
    virtual void SetPath(int from, int to, const PathEpisode& path) = 0;
    virtual void SetDeaf(int i, bool deaf) = 0;
    virtual void Vanish(int i) = 0;
    virtual void Restart(int i) = 0;  // a fresh start of a vanished station

    // The received file as the station stored it, and where (for reports).
    virtual std::vector<std::uint8_t> ReadFile(int i, const std::string& path) = 0;
    virtual std::string Where(int i, const std::string& path) = 0;
    // Everything stored outside "outbox" (the files to send) and "RECEIVED" (flat), one line each.
    virtual std::vector<std::string> StrayFiles() = 0;
};

}  // namespace kavra::soak
