// The soak's world on the link layer's block-level simulation: two stations, files in memory, a
// channel that loses blocks by a simple model of S/N and fading.  No modem runs, so a day of
// station time takes seconds and many seeds can be tried; what it checks is the link layer.
#pragma once

#include <memory>

#include "link/simulation.h"
#include "soak/soak_world.h"

namespace kavra::soak {

class BlockWorld : public SoakWorld {
public:
    BlockWorld(std::uint64_t seed, int modem_type);

    int StationCount() const override { return 2; }
    std::uint64_t NowMs() const override { return sim_->now_ms(); }
    void RunUntil(const std::function<bool()>& done, std::uint64_t max_ms) override;
    void SetLogSink(std::function<void(int, const std::string&)> sink) override { sink_ = std::move(sink); }
    link::LinkSession& Session(int i) override { return sim_->station(i).session(); }
    bool Keyed(int i) override { return sim_->station(i).Keyed(); }
    bool OnAir(int i) override { return sim_->station(i).Transmitting(); }
    bool Connect(int i, const std::string& callsign) override;
    void Disconnect(int i) override { Session(i).Disconnect1Click(); }
    void Say(int i, const std::string& line) override { sim_->station(i).Chat(line); }
    bool SendFile(int i, const std::string& path, const std::vector<std::uint8_t>& bytes) override;
    void StopTransfer(int i) override { Session(i).StopTransferClick(); }
    void Answer(int i, bool accept) override { Session(i).AnswerQuestion(accept); }
    void SetPath(int from, int to, const PathEpisode& path) override;
    void SetDeaf(int i, bool deaf) override { sim_->SetDeaf(i, deaf); }
    void Vanish(int i) override { sim_->SetGone(i, true); }
    void Restart(int i) override { sim_->SetGone(i, false); }
    std::vector<std::uint8_t> ReadFile(int i, const std::string& path) override;
    std::string Where(int i, const std::string& path) override;
    std::vector<std::string> StrayFiles() override;

private:
    void PassLogLines();

    std::unique_ptr<link::TwoStationSim> sim_;
    std::function<void(int, const std::string&)> sink_;
};

}  // namespace kavra::soak
