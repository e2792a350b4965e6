// The capture feed, the rings and queues when full, and the receive pipeline's byte and block
// stages.
#include <gtest/gtest.h>

#include "audio/capture.h"
#include "link/link_block.h"
#include "pipeline/receive_pipeline.h"
#include "tests/station/station_fakes.h"

namespace kavra {
namespace {

TEST(CaptureFeed, DecimatesByModemTypeAndSwitchesWithoutClearing) {
    audio::SampleRing ring;
    audio::SpectrumBuffer spectrum;
    audio::CaptureFeed feed(ring, spectrum);
    feed.SetRingStep(audio::RingStepFor(0));
    for (int i = 1; i <= 10; ++i) feed.Feed(static_cast<std::int16_t>(i));
    ASSERT_EQ(ring.Count(), 2u);
    EXPECT_EQ(ring.Pop(), 5);
    EXPECT_EQ(ring.Pop(), 10);
    feed.SetRingStep(audio::RingStepFor(1));  // the counter carries on: the 6th sample from here
    for (int i = 11; i <= 22; ++i) feed.Feed(static_cast<std::int16_t>(i));
    ASSERT_EQ(ring.Count(), 2u);
    EXPECT_EQ(ring.Pop(), 16);
    EXPECT_EQ(ring.Pop(), 22);
}

TEST(CaptureFeed, SpectrumIsFilledInBitReversedOrderAndWaitsForRelease) {
    audio::SampleRing ring;
    audio::SpectrumBuffer spectrum;
    audio::CaptureFeed feed(ring, spectrum);
    for (int n = 0; n < 600 * audio::kSpectrumStep; ++n) feed.Feed(static_cast<std::int16_t>(n / audio::kSpectrumStep + 1));
    ASSERT_TRUE(spectrum.Full());
    EXPECT_EQ(spectrum.Values()[0].re, 1.0f);      // only the first sample
    EXPECT_EQ(spectrum.Values()[511].re, 512.0f);  // r(511) = 511
    EXPECT_EQ(spectrum.Values()[256].re, 2.0f);    // r(1) = 256
    EXPECT_EQ(spectrum.Values()[1].re, 257.0f);    // r(256) = 1
    spectrum.Release();
    feed.Feed(7);  // the step counter stood at 0 after the last stored sample
    EXPECT_EQ(spectrum.FillIndex(), 0u);
    for (int n = 1; n < audio::kSpectrumStep; ++n) feed.Feed(9);
    EXPECT_EQ(spectrum.FillIndex(), 1u);
    for (std::uint32_t n = 0; n < 512; ++n) EXPECT_EQ(audio::Reverse9Bits(audio::Reverse9Bits(n)), n);
}

TEST(CaptureStep, TakesWholeChunksFeedsTwoPiecesInOrderAndDiscardsWhileKeyed) {
    testing::FakeSound sound;
    audio::SampleRing ring;
    audio::SpectrumBuffer spectrum;
    audio::CaptureFeed feed(ring, spectrum);
    feed.SetRingStep(1);
    audio::AudioCapture capture(feed);
    ASSERT_EQ(capture.Create(sound, sound.capture_devices[0]), audio::AudioCapture::OpenResult::Ok);
    capture.BeginLooping();
    for (std::size_t i = 0; i < sound.capture.ring.size(); ++i) sound.capture.ring[i] = static_cast<std::int16_t>(i % 30000);

    sound.capture.position = 3998;
    EXPECT_FALSE(capture.Step(true));  // less than one chunk
    sound.capture.position = 4000;
    sound.capture.split_at = 700;      // the device hands the chunk out in two pieces
    ASSERT_TRUE(capture.Step(true));
    ASSERT_EQ(ring.Count(), 2000u);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(ring.Pop(), i);
    sound.capture.position = 8000;
    ASSERT_TRUE(capture.Step(false));  // keyed: consumed, not fed
    EXPECT_EQ(ring.Count(), 0u);
    EXPECT_EQ(spectrum.FillIndex(), 333u);
    // Round the one-second buffer: the offset wraps to 0.
    sound.capture.split_at = -1;
    for (std::uint32_t pos = 12000; pos <= 96000; pos += 4000) {
        sound.capture.position = pos % 96000;
        ASSERT_TRUE(capture.Step(false));
    }
    EXPECT_EQ(capture.ReadOffset(), 0u);
}

TEST(Queues, AFullRingOrBlockQueueRefusesTheNewestAndKeepsWhatIsUnread) {
    audio::SampleRing ring;
    for (std::uint32_t i = 0; i < audio::SampleRing::kSize - 1; ++i) ASSERT_TRUE(ring.Push(static_cast<std::int16_t>(i % 1000)));
    EXPECT_FALSE(ring.Push(-1));
    EXPECT_EQ(ring.Dropped(), 1u);
    EXPECT_EQ(ring.Pop(), 0);
    EXPECT_TRUE(ring.Push(-2));

    pipeline::ReceivedBlockQueue q;
    link::ReceivedBlock b, out;
    EXPECT_FALSE(q.Pop(out));
    for (std::uint32_t i = 0; i < pipeline::ReceivedBlockQueue::kSlots - 1; ++i) {
        b.sequence = static_cast<std::uint16_t>(i);
        ASSERT_TRUE(q.Push(b));
    }
    EXPECT_FALSE(q.Push(b));
    EXPECT_EQ(q.Dropped(), 1u);
    ASSERT_TRUE(q.Pop(out));
    EXPECT_EQ(out.sequence, 0);
}

// Feeds the pipeline's byte stage as the receiver would report.
class PipelineTest : public ::testing::Test {
protected:
    void Report(int flags, const std::vector<std::uint8_t>& bytes, int extra_bits = 0) {
        int n = 0;
        for (std::uint8_t byte : bytes)
            for (int b = 0; b < 8; ++b) output.decoded_bits[static_cast<std::size_t>(n++)] = (byte >> b) & 1;
        for (int b = 0; b < extra_bits; ++b) output.decoded_bits[static_cast<std::size_t>(n++)] = 1;
        output.decoded_bit_count = n;
        output.flags.store(flags);
        pipeline.TakeReport(output);
    }
    void Assemble(link::LinkState state) {
        pipeline.AssembleBlocks(output, [state] { return state; });
    }
    static std::vector<std::uint8_t> Block(int code) {
        std::array<std::uint8_t, 8> payload{1, 2, 3, 4, 5, 6, 7, 8};
        const auto bytes = link::BuildLinkBlock(code, 5, payload);
        return {bytes.begin(), bytes.end()};
    }
    modem::ReceiverOutput output;
    pipeline::ReceivedBlockQueue blocks;
    pipeline::ReceivedDataView view;
    pipeline::ReceivePipeline pipeline{blocks, view};
};

TEST_F(PipelineTest, OneReportStartsDeliversAndEndsAFrame) {
    auto bytes = Block(1);
    Report(modem::kRxFlagStart | modem::kRxFlagBits | modem::kRxFlagEnd, bytes, 7);  // 7 stray bits dropped
    EXPECT_EQ(output.flags.load(), 0);
    output.snr.store(12);
    Assemble(link::LinkState::Idle);
    EXPECT_EQ(output.snr.load(), modem::kSnrNone);
    EXPECT_EQ(pipeline.Counters().queued, 1u);
    EXPECT_EQ(view.Count(), 65u);
    link::ReceivedBlock b;
    ASSERT_TRUE(blocks.Pop(b));
    EXPECT_EQ(b.code, 1);
    EXPECT_FALSE(blocks.Pop(b));
}

TEST_F(PipelineTest, BlocksAlignToTheFrameStartAndLeftoversAreDiscarded) {
    auto two = Block(4);
    const auto second = Block(4);
    two.insert(two.end(), second.begin(), second.end());
    Report(modem::kRxFlagStart | modem::kRxFlagBits, two);  // 130 bytes: two blocks
    Assemble(link::LinkState::Connected);
    EXPECT_EQ(pipeline.Counters().queued, 2u);
    auto partial = Block(4);
    partial.insert(partial.end(), second.begin(), second.begin() + 35);  // 100 bytes
    Report(modem::kRxFlagStart | modem::kRxFlagBits, partial);
    Report(modem::kRxFlagEnd, {});
    Report(modem::kRxFlagStart | modem::kRxFlagBits, Block(4));  // the 35 bytes go with this start
    Assemble(link::LinkState::Connected);
    EXPECT_EQ(pipeline.Counters().blocks_parsed, 4u);
    EXPECT_EQ(pipeline.Counters().queued, 4u);
    EXPECT_EQ(pipeline.Counters().bad_crc, 0u);
}

TEST_F(PipelineTest, TheLinkStateAdmitsOnlyWhatItCanUse) {
    Report(modem::kRxFlagStart | modem::kRxFlagBits, Block(0));  // data while idle
    Report(modem::kRxFlagStart | modem::kRxFlagBits, Block(1));  // a call while idle
    Assemble(link::LinkState::Idle);
    Report(modem::kRxFlagStart | modem::kRxFlagBits, Block(1));  // a call while connected
    Report(modem::kRxFlagStart | modem::kRxFlagBits, Block(0));
    Assemble(link::LinkState::ReceivingFile);
    EXPECT_EQ(pipeline.Counters().not_admitted, 2u);
    EXPECT_EQ(pipeline.Counters().queued, 2u);
    auto bad = Block(4);
    bad[10] ^= 0x20;
    Report(modem::kRxFlagStart | modem::kRxFlagBits, bad);
    Assemble(link::LinkState::Connected);
    EXPECT_EQ(pipeline.Counters().bad_crc, 1u);
}

}  // namespace
}  // namespace kavra
