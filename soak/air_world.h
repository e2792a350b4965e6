// The soak's world on virtual air: the whole stack of three stations (A, B and an intruder that
// is heard by both and hears nothing), each with its working folder on the disk.
#pragma once

#include <filesystem>

#include "platform/air/air_stations.h"
#include "soak/soak_world.h"

namespace kavra::soak {

class AirWorld : public SoakWorld {
public:
    AirWorld(std::uint64_t seed, int modem_type, const std::filesystem::path& folder);

    int StationCount() const override { return 3; }
    std::uint64_t NowMs() const override { return air_.NowMs(); }
    void RunUntil(const std::function<bool()>& done, std::uint64_t max_ms) override { air_.RunUntil(done, max_ms); }
    void SetLogSink(std::function<void(int, const std::string&)> sink) override;
    link::LinkSession& Session(int i) override { return air_.At(i).Session(); }
    bool Keyed(int i) override { return air_.At(i).Keyed(); }
    bool OnAir(int i) override;
    bool Connect(int i, const std::string& callsign) override { return air_.At(i).Connect(callsign); }
    void Disconnect(int i) override { air_.At(i).Disconnect(); }
    void Say(int i, const std::string& line) override { air_.At(i).Say(line); }
    bool SendFile(int i, const std::string& path, const std::vector<std::uint8_t>& bytes) override;
    void StopTransfer(int i) override { air_.At(i).StopTransfer(); }
    void Answer(int i, bool accept) override { air_.At(i).Answer(accept); }
    void SetPath(int from, int to, const PathEpisode& path) override;
    void SetDeaf(int i, bool deaf) override { air_.Air().SetDeaf(i, deaf || i == kIntruder); }
    void Vanish(int i) override { air_.Vanish(i); }
    void Restart(int i) override { air_.Restart(i); }
    std::vector<std::uint8_t> ReadFile(int i, const std::string& path) override;
    std::string Where(int i, const std::string& path) override { return air_.Files(i).Resolve(path).string(); }
    std::vector<std::string> StrayFiles() override;

private:
    std::filesystem::path folder_;
    air::AirStations air_;
    std::array<std::uint64_t, 3> played_{};
};

}  // namespace kavra::soak
