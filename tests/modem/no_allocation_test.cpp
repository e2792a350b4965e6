// The transmitter and the block decoder allocate nothing per call: every buffer is made at
// construction.  Counted by replacing the global allocation functions in this test program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "modem/decoder/block_decoder.h"
#include "modem/tx/serial_tone_transmitter.h"

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

namespace kavra::modem {
namespace {

TEST(NoAllocation, TransmitAndDecodeBlock) {
    auto tx = std::make_unique<SerialToneTransmitter>(TransmitProfile::Profile2000At48k);
    auto decoder = std::make_unique<BlockDecoder>();
    auto out = std::make_unique<ReceiverOutput>();
    std::vector<std::uint8_t> message(2000, 0xA5);
    std::vector<std::int16_t> samples(SerialToneTransmitter::SamplesNeeded(TransmitProfile::Profile2000At48k, 1, 2000, 48000));
    std::uint32_t count = 0;

    const long before = g_allocations.load();
    for (int mode = 0; mode < 6; ++mode) tx->Transmit(message, 1500, 48000, mode, samples, count);
    for (int mode = 0; mode < 13; ++mode) {
        out->mode = mode;
        out->soft_symbol_count = 7680;
        decoder->DecodeBlock(*out);
    }
    EXPECT_EQ(g_allocations.load() - before, 0);
}

}  // namespace
}  // namespace kavra::modem
