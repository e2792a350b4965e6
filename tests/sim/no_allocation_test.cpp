// The channel allocates nothing while it streams: every buffer is made at construction.
// Counted by replacing the global allocation functions in this test program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "sim/hf_channel.h"

namespace {
std::atomic<long> g_allocations{0};
}

// Kept out of line: inlined into callers, the compiler would see malloc() and free() paired
// with new and delete and warn about a mismatch that is not there.
[[gnu::noinline]] void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

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

    const long before = g_allocations.load();
    for (int second = 0; second < 30; ++second) channel.Process(in, std::span<float>(out));
    channel.Flush(std::span<float>(out));
    EXPECT_EQ(g_allocations.load() - before, 0);
    EXPECT_EQ(channel.dropped(), 0u);
}

}  // namespace
}  // namespace kavra::sim
