// Two stations on the simulated channel: helpers shared by the simulation tests.
#pragma once

#include <gtest/gtest.h>

#include "link/simulation.h"
#include "link_test_support.h"

namespace kavra::link::test {

inline constexpr std::uint64_t kMinute = 60000;

class StationPair {
public:
    explicit StationPair(int modem_type, std::uint64_t seed = 1, const LinkSettings* a = nullptr,
                         const LinkSettings* b = nullptr)
        : type(modem_type),
          timing(TimingSetFor(modem_type)),
          sim(a ? *a : Settings("AB1CD", modem_type), b ? *b : Settings("EF2GH", modem_type), seed) {}

    SimStation& A() { return sim.station(0); }
    SimStation& B() { return sim.station(1); }
    LinkState SA() { return A().session().State(); }
    LinkState SB() { return B().session().State(); }

    bool Link() {
        A().Connect("EF2GH");
        return sim.RunUntil([&] { return SA() == LinkState::Connected && SB() == LinkState::Connected; }, 5 * kMinute);
    }
    void SetLoss(double loss) {
        sim.channel_to(0).block_loss = loss;
        sim.channel_to(1).block_loss = loss;
    }
    void SetSnr(int snr) {
        sim.channel_to(0).snr = {snr, snr, snr};
        sim.channel_to(1).snr = {snr, snr, snr};
    }
    void BreakChannel() {
        sim.SetDeaf(0, true);
        sim.SetDeaf(1, true);
    }
    // The first status refresh of `station` at or after `t`: when it notices a reception.
    std::uint64_t RefreshAtOrAfter(int station, std::uint64_t t) {
        const std::uint64_t phase = sim.station(station).status_phase_ms;
        return t + (200 - (t + phase) % 200) % 200;
    }
    // When `station` answers burst `p`: ReplyDelay after it noticed the reception, or 500 ms
    // (one pause and one pass) after the burst ends, whichever is later.
    std::uint64_t ExpectedAnswer(int station, const BurstRecord& p, std::uint32_t reply_delay) {
        return std::max(RefreshAtOrAfter(station, p.data_start_ms) + reply_delay, p.end_ms + kQuietPauseMs + 1);
    }

    int type;
    LinkTimingSet timing;
    TwoStationSim sim;
};

inline std::string Lines(const RecordingUi& ui) {
    std::string out;
    for (const auto& l : ui.log) out += std::to_string(l.time_ms) + " " + l.text + "\n";
    return out;
}

}  // namespace kavra::link::test
