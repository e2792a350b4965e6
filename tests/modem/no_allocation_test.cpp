// The transmitter, the block decoder and the receiver allocate nothing per call: every buffer is made at
// construction.  Counted through the test programs' counting operator new.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "modem/decoder/block_decoder.h"
#include "modem/rx/serial_tone_receiver.h"
#include "modem/tx/serial_tone_transmitter.h"
#include "tests/support/allocation_counter.h"

namespace kavra::modem {
namespace {

TEST(NoAllocation, TransmitAndDecodeBlock) {
    auto tx = std::make_unique<SerialToneTransmitter>(TransmitProfile::Profile2000At48k);
    auto decoder = std::make_unique<BlockDecoder>();
    auto out = std::make_unique<ReceiverOutput>();
    std::vector<std::uint8_t> message(2000, 0xA5);
    std::vector<std::int16_t> samples(SerialToneTransmitter::SamplesNeeded(TransmitProfile::Profile2000At48k, 1, 2000, 48000));
    std::uint32_t count = 0;

    const long long before = kavra::testing::AllocationCount();
    for (int mode = 0; mode < 6; ++mode) tx->Transmit(message, 1500, 48000, mode, samples, count);
    for (int mode = 0; mode < 13; ++mode) {
        out->mode = mode;
        out->soft_symbol_count = 7680;
        decoder->DecodeBlock(*out);
    }
    EXPECT_EQ(kavra::testing::AllocationCount() - before, 0);
}

TEST(NoAllocation, ReceiverProcessSample) {
    // A whole transmission, searched for, trained on, demodulated and decoded.
    auto tx = std::make_unique<SerialToneTransmitter>(TransmitProfile::Profile2400At48k);
    std::vector<std::uint8_t> message(400, 0x3C);
    std::vector<std::int16_t> samples(SerialToneTransmitter::SamplesNeeded(TransmitProfile::Profile2400At48k, 0, 400, 48000));
    std::uint32_t count = 0;
    tx->Transmit(message, 1800, 48000, 0, samples, count);
    auto out = std::make_unique<ReceiverOutput>();
    auto rx = std::make_unique<SerialToneReceiver>(0, *out);
    int frames = 0;

    const long long before = kavra::testing::AllocationCount();
    for (std::uint32_t i = 0; i < count + 48000; i += 5) {
        rx->ProcessSample(i < count ? samples[i] : std::int16_t{0});
        if (out->flags & kRxFlagEnd) ++frames;
        out->flags = 0;
    }
    EXPECT_EQ(kavra::testing::AllocationCount() - before, 0);
    EXPECT_EQ(frames, 1);
}

}  // namespace
}  // namespace kavra::modem
