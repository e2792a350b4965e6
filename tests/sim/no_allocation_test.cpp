// The channel allocates nothing while it streams: every buffer is made at construction.
// Counted through the test programs' counting operator new.
#include <gtest/gtest.h>

#include <vector>

#include "sim/hf_channel.h"
#include "tests/support/allocation_counter.h"


namespace kavra::sim {
namespace {

TEST(NoAllocation, ProcessAndFlush) {
    HfChannelSettings s;
    s.input_rate_hz = 8000;
    s.output_rate_hz = 48000;
    s.snr_db = 3.0;
    s.signal_power = 1e6;
    s.fading = FadingSettings{1.7, 0.2};  // slow fading: new low-rate gains are made on the way
    s.freq_offset_hz = -2.5;
    s.clock_offset_ppm = 30;
    HfChannel channel(s);
    std::vector<float> in(8000, 1000.0f);
    std::vector<float> out(channel.MaxOutput(in.size()) + channel.MaxFlushOutput());

    const long before = kavra::testing::AllocationCount();
    for (int second = 0; second < 30; ++second) channel.Process(in, std::span<float>(out));
    channel.Flush(std::span<float>(out));
    EXPECT_EQ(kavra::testing::AllocationCount() - before, 0);
    EXPECT_EQ(channel.dropped(), 0u);
}

}  // namespace
}  // namespace kavra::sim
