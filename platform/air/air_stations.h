// Stations on virtual air in one process: each with its own working folder, in-memory settings,
// a transcript view and VOX keying.  On virtual time (one thread, deterministic) or in real time
// (each station's workers on real threads, the air moved by the steady clock, the caller's thread
// as every station's user-interface thread).  The demo and the tests are built on it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/keying_ports.h"
#include "link/disk_file_system.h"
#include "platform/air/virtual_air.h"
#include "station/station.h"
#include "station/steady_clock.h"
#include "station/thread_runner.h"
#include "station/transcript_view.h"
#include "station/virtual_time.h"

namespace kavra::air {

struct AirStationConfig {
    std::string callsign;             // single-byte text
    int modem_type = 0;
    bool play_8k = false;             // type 1 played at 8000 Hz
    std::uint32_t autoconnect = 2;    // 2 all, 1 privileged, 0 never
    std::uint32_t autoreceive = 2;
    std::filesystem::path folder;     // working folder ("RECEIVED" is made in it)
    station::AnswerPolicy answer = station::AnswerPolicy::Yes;
    int capture_phase_ms = 0;
    // The operator answers every chat line it hears (the demonstration peer).
    bool answers_chat = false;
    // A view of the caller's (the desktop window) instead of a transcript; real time only.
    station::StationView* view = nullptr;
    // The transcript keeps its lines (off for runs of days: the line sink sees them all).
    bool keep_transcript = true;
};

// No keying port: stations on the virtual air key by VOX.
class NoKeyingPorts : public audio::KeyingPorts {
public:
    std::unique_ptr<audio::KeyingPort> Open(int, const std::string&) override { return nullptr; }
};

class AirStations {
public:
    explicit AirStations(std::uint64_t seed = 1, bool real_time = false);
    ~AirStations();
    AirStations(const AirStations&) = delete;
    AirStations& operator=(const AirStations&) = delete;

    // Adds a station to the air and starts it (or leaves that to Launch); answers its index.
    int Add(const AirStationConfig& config, bool start = true);
    // Runs the start-up of a station added without it.
    void Launch(int i);
    // The station vanishes (its card off the air, its threads gone) and, with `restart`, comes
    // back as a fresh Station on the same card, as after a restart of the program.
    void Vanish(int i);
    void Restart(int i);

    station::Station& At(int i) { return *node(i).station; }
    int StationCount() const noexcept { return static_cast<int>(nodes_.size()); }
    // The station's threads in real time (none on virtual time).
    const station::ThreadRunner* Threads(int i) { return node(i).threads.get(); }
    // Real time: when the station last handed a block to its protocol handler.
    std::chrono::steady_clock::time_point LastBlockHandled(int i) { return node(i).last_block; }
    station::TranscriptView& View(int i) { return *node(i).view; }
    station::StationView& ViewOf(int i) { return node(i).config.view ? *node(i).config.view : *node(i).view; }
    link::DiskFileSystem& Files(int i) { return node(i).files; }
    const AirStationConfig& Config(int i) { return node(i).config; }
    void SetAnswer(int i, station::AnswerPolicy p) { node(i).config.answer = p; }
    VirtualAir& Air() { return air_; }
    station::VirtualTimeRunner& Runner() { return runner_; }
    // Station time: virtual, or real time since the start.
    std::uint64_t NowMs() const;
    bool RealTime() const noexcept { return real_time_; }
    // The same path both ways between every pair of stations.
    void SetAllPaths(const AirPath& path);
    // Every transcript line of every station as it is made, with the station's index.
    void SetLineSink(std::function<void(int, const station::TranscriptLine&)> sink) { sink_ = std::move(sink); }

    void Run(std::uint64_t ms) { RunUntil([] { return false; }, ms); }
    // Runs until `done` (checked every millisecond) or `max_ms` of station time have passed.
    bool RunUntil(const std::function<bool()>& done, std::uint64_t max_ms);
    // Real time, from the caller's own loop: one millisecond's user-interface work of every station.
    void Tick();

private:
    struct Node {
        Node(const std::uint64_t& now, AirStationConfig c, std::uint32_t start_tick);
        AirStationConfig config;
        station::VirtualClock clock;
        station::SteadyClock steady;
        std::unique_ptr<station::ThreadRunner> threads;
        std::unique_ptr<station::TranscriptView> view;
        station::MemorySettingsStore store;
        NoKeyingPorts keying;
        link::DiskFileSystem files;
        audio::SoundSystem* sound = nullptr;
        std::unique_ptr<station::Station> station;
        bool on_air = true;
        std::uint64_t blocks_seen = 0;
        std::size_t chat_answered = 0;  // abonent lines answered (answers_chat)
        std::chrono::steady_clock::time_point last_block{};
    };
    Node& node(int i) { return *nodes_.at(static_cast<std::size_t>(i)); }
    void StartStation(int i, bool start);
    void AfterStep();
    void AnswerChat(Node& n);

    bool real_time_;
    VirtualAir air_;
    station::VirtualTimeRunner runner_;
    std::unique_ptr<AirClock> air_clock_;
    std::chrono::steady_clock::time_point real_start_ = std::chrono::steady_clock::now();
    std::vector<std::unique_ptr<Node>> nodes_;
    std::function<void(int, const station::TranscriptLine&)> sink_;
};

}  // namespace kavra::air
