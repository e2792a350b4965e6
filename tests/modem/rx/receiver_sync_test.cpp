// Following a preamble: spurious common parts mid-segment and a slot choice that moves just
// before a segment's due instant must neither restart the segment counter nor lose the frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <memory>
#include <tuple>
#include <vector>

#include "modem/common/mode_table.h"
#include "modem/rx/frame_collector.h"
#include "modem/rx/serial_tone_receiver.h"
#include "tests/modem/rx/rx_test_support.h"

namespace kavra::modem {
namespace {

using test::AirSpec;
using test::MakeRingSamples;
using test::RandomBytes;

constexpr int kSegmentSamples = 480 * 4;  // SampleRing samples per preamble segment
constexpr int kBlockSamples = 32 * 4;
constexpr int kCommonSamples = 9 * kBlockSamples;

std::vector<std::int16_t> Scaled(const std::vector<std::int16_t>& in, float gain) {
    std::vector<std::int16_t> out(in.size());
    std::transform(in.begin(), in.end(), out.begin(), [gain](std::int16_t s) { return static_cast<std::int16_t>(gain * s); });
    return out;
}

// Where the blocks lie in the ring: the filters delay them.  Two transmissions whose D2 differs
// differ only around their D2 blocks, whose middle is 10.5 blocks into the first segment.
int FilterDelay(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
    int first = -1, last = -1;
    for (int i = 0; i < kSegmentSamples; ++i) {
        if (std::abs(a[static_cast<std::size_t>(i)] - b[static_cast<std::size_t>(i)]) < 50) continue;
        if (first < 0) first = i;
        last = i;
    }
    EXPECT_GE(first, 0);
    return (first + last) / 2 - (21 * kBlockSamples) / 2;
}

struct Reception {
    std::vector<ReceivedFrame> frames;
    int sync_losses = 0;
    std::vector<int> restarts;  // samples at which the segment counter restarted in a preamble
};

Reception ReceiveWatchingSegments(const std::vector<std::int16_t>& ring) {
    auto out = std::make_unique<ReceiverOutput>();
    out->rx_carrier = DefaultCarrierHz(0);
    auto rx = std::make_unique<SerialToneReceiver>(0, *out);
    FrameCollector collector;
    Reception r;
    int previous = 0;
    const auto feed = [&](int i, std::int16_t s) {
        rx->ProcessSample(s);
        const int n = rx->segment_counter();
        if (rx->search_state() == kPreambleSeen && n < previous) r.restarts.push_back(i);
        previous = n;
        collector.Poll(*out);
    };
    int i = 0;
    for (std::int16_t s : ring) feed(i++, s);
    for (int k = 0; k < 2 * 9600; ++k) feed(i++, 0);
    collector.Finish(*out);
    r.frames = collector.frames();
    r.sync_losses = collector.sync_losses();
    return r;
}

// A copy of the common part shifted by +-60 Hz, so that only an off-frequency bank sees it, laid
// over the third segment of a six-segment preamble and ending `blocks` blocks after that
// segment's own common part.  The segment counter must restart once per segment only, and the
// frame must come through.
class SpuriousCommonPart : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(SpuriousCommonPart, NeitherRestartsTheSegmentNorLosesTheFrame) {
    const auto [offset_hz, blocks] = GetParam();
    AirSpec air;
    air.mode = 0;
    const auto message = RandomBytes(120, 31);
    auto ring = Scaled(MakeRingSamples(air, message), 0.5f);
    AirSpec shifted = air;
    shifted.carrier_offset_hz = offset_hz;
    const auto other = Scaled(MakeRingSamples(shifted, message), 0.5f);

    const int end = 2 * kSegmentSamples + kCommonSamples + blocks * kBlockSamples;
    for (int k = 0; k < kCommonSamples; ++k) {
        const auto at = static_cast<std::size_t>(end - kCommonSamples + k);
        ring[at] = static_cast<std::int16_t>(ring[at] + other[static_cast<std::size_t>(k)]);
    }

    const Reception r = ReceiveWatchingSegments(ring);
    ASSERT_GE(r.restarts.size(), 2u);
    for (std::size_t k = 1; k < r.restarts.size(); ++k)
        EXPECT_NEAR(r.restarts[k] - r.restarts[k - 1], kSegmentSamples, 8) << "restart " << k;
    EXPECT_EQ(r.sync_losses, 0);
    ASSERT_EQ(r.frames.size(), 1u);
    EXPECT_EQ(r.frames[0].mode, 0);
    EXPECT_EQ(r.frames[0].bytes, message);
}

INSTANTIATE_TEST_SUITE_P(Banks, SpuriousCommonPart,
                         ::testing::Combine(::testing::Values(60, -60), ::testing::Values(4, 7, 10, 12)));

// The signal's timing jumps half a symbol earlier `blocks` blocks before the last segment's
// common part ends (a path taking over).  The averages of the old and the new slot cross a few
// blocks later; where they cross at the due instant, the choice moves to the earlier slot after
// that slot's step had passed, and the test at the due instant must still run.
class TimingJump : public ::testing::TestWithParam<int> {};

TEST_P(TimingJump, LastSegmentStillDetected) {
    const int blocks = GetParam();
    AirSpec air;
    air.mode = 4;
    const auto message = RandomBytes(60, 32);
    auto ring = Scaled(MakeRingSamples(air, message), 0.5f);
    const int due = 5 * kSegmentSamples + kCommonSamples;
    const auto jump = ring.begin() + (due - blocks * kBlockSamples);
    ring.erase(jump, jump + 2);

    const Reception r = ReceiveWatchingSegments(ring);
    EXPECT_EQ(r.sync_losses, 0);
    ASSERT_EQ(r.frames.size(), 1u);
    EXPECT_EQ(r.frames[0].mode, 4);
    EXPECT_EQ(r.frames[0].bytes, message);
}

INSTANTIATE_TEST_SUITE_P(BlocksBeforeDue, TimingJump, ::testing::Range(1, 11));

// Reception of a "600 long" preamble (D1 = 4, D2 = 6) begins in its second-last segment, and that
// segment was read in a fade: its D2 block reads 5 and its C1 block 5 too, a count of 17 that
// no preamble carries.  The votes of such a segment only break ties, so the last segment's D2 = 6
// decides and the frame comes in the right mode; counted alike, the tie went to "1200 long".
TEST(ModeVotes, ASegmentWithAnImpossibleCountOnlyBreaksTies) {
    const auto message = RandomBytes(100, 33);
    AirSpec air;
    air.mode = 5;
    const auto sent = MakeRingSamples(air, message);
    AirSpec other = air;
    other.mode = 3;  // D2 = 5
    const auto d2_source = MakeRingSamples(other, message);

    // Blocks of a segment: 9 common, D1, D2, C1, C2, C3, 0.  Moving audio by whole blocks keeps
    // the carrier phase (1800 Hz is 24 cycles in 32 symbols at 2400 Bd).
    const int delay = FilterDelay(sent, d2_source);
    const int segment = 10 * kSegmentSamples + delay;
    auto block_at = [](int segment_start, int block) { return static_cast<std::size_t>(segment_start + block * kBlockSamples); };
    std::vector<std::int16_t> ring = sent;
    std::copy_n(d2_source.begin() + static_cast<std::ptrdiff_t>(block_at(segment, 10)), kBlockSamples,
                ring.begin() + static_cast<std::ptrdiff_t>(block_at(segment, 10)));
    std::copy_n(d2_source.begin() + static_cast<std::ptrdiff_t>(block_at(segment, 10)), kBlockSamples,
                ring.begin() + static_cast<std::ptrdiff_t>(block_at(segment, 11)));
    ring.erase(ring.begin(), ring.begin() + segment - kBlockSamples / 2);

    const Reception r = ReceiveWatchingSegments(ring);
    ASSERT_EQ(r.frames.size(), 1u);
    EXPECT_EQ(r.frames[0].mode, 5);
    EXPECT_EQ(r.frames[0].bytes, message);
}

}  // namespace
}  // namespace kavra::modem

namespace kavra::modem {
namespace {

// The common part of one segment of a six-segment preamble is lost (noise alone over its nine
// blocks): a preamble confirmed by earlier segments rides over it on the expected timing, reads
// that segment's count, and the frame comes through, also when the lost segment is the last.
class LostCommonPart : public ::testing::TestWithParam<int> {};

TEST_P(LostCommonPart, ConfirmedPreambleRidesOverIt) {
    const int lost = GetParam();
    const auto message = RandomBytes(120, 34);
    AirSpec air;
    air.mode = 0;  // D2 = 4
    auto ring = MakeRingSamples(air, message);
    air.mode = 2;  // D2 = 5
    const int delay = FilterDelay(ring, MakeRingSamples(air, message));
    const auto start = static_cast<std::ptrdiff_t>(lost * kSegmentSamples + delay);
    std::vector<std::int16_t> faded(ring.begin() + start, ring.begin() + start + kCommonSamples);
    for (auto& v : faded) v = 0;
    test::AddNoise(faded, 1500.0, 35);
    std::copy(faded.begin(), faded.end(), ring.begin() + start);

    const Reception r = ReceiveWatchingSegments(ring);
    ASSERT_EQ(r.frames.size(), 1u);
    EXPECT_EQ(r.frames[0].mode, 0);
    EXPECT_EQ(r.frames[0].bytes, message);
    EXPECT_EQ(r.sync_losses, 0);
}

INSTANTIATE_TEST_SUITE_P(Segments, LostCommonPart, ::testing::Range(2, 6));

}  // namespace
}  // namespace kavra::modem
