// Loopback through the real transmitter, the HF channel simulator and the real receiver at fixed
// SNRs, seeded, with the margins written down: a receiver that loses sensitivity, synchronises
// less reliably or reads the wrong mode fails here.
//
// Margins (measured with the sweeps of docs/performance.md, seed 1, six transmissions):
// - 2400 short (8-PSK, the most sensitive to equaliser and carrier-tracking noise) at 7.6 dB in
//   3 kHz: 1.7e-5 (3 errors); 1 dB lower (6.6 dB) 5.6e-4.  Bound 2e-4.
// - 1200 short (QPSK) at 3.8 dB: no error; at 2.8 dB 8.2e-5 (7 errors).  Bound 4e-5.
// - Type 1, 2000 short at 6.8 dB: 1.7e-5; at 5.8 dB 7.7e-4.  Bound 2e-4.
// - Every transmission is found and its mode read right at these SNRs.
// - The soft symbols at the decision point at 20 dB lie within 3 dB of the channel's Es/N0
//   (about 1.5 dB below it today): an equaliser that stops converging fails.
// So a receiver 1 dB worse than today fails its bound in each case.
#include <gtest/gtest.h>

#include <cmath>

#include "perf/ber_sweep.h"
#include "tests/support/sanitizer.h"

namespace kavra::perf {
namespace {

using kavra::testing::kSanitized;

// Fewer transmissions under the sanitizers (about ten times slower), still enough bits that the
// bound below means something: 2400 short carries 28640 message bits per transmission.
constexpr int kTransmissions = kSanitized ? 3 : 6;

// Exactly `transmissions` transmissions per point (0: the stopping rules).
SweepSettings Settings(int modem_type, int mode, int transmissions) {
    SweepSettings s;
    s.modem_type = modem_type;
    s.modes = {mode};
    s.snr_db = {0.0};
    s.fixed_transmissions = transmissions;
    s.seed = 1;
    s.threads = 2;
    return s;
}

// The same on two fading paths `delay_ms` apart, each with a Doppler spread of `spread_hz`.
SweepSettings Fading(int modem_type, int mode, int transmissions, const char* name, double delay_ms, double spread_hz) {
    SweepSettings s = Settings(modem_type, mode, transmissions);
    s.channel.name = name;
    s.channel.fading = sim::FadingSettings{delay_ms, spread_hz};
    return s;
}

struct LoopbackCase {
    int modem_type;
    int mode;
    double snr_db;
    double max_ber;
};

class Loopback : public ::testing::TestWithParam<LoopbackCase> {};

TEST_P(Loopback, BerWithinMarginAndEveryFrameFound) {
    const LoopbackCase c = GetParam();
    SweepSettings s = Settings(c.modem_type, c.mode, kTransmissions);
    s.snr_db = {c.snr_db};
    const PointResult p = RunPoint(s, c.mode, c.snr_db);
    ASSERT_EQ(p.transmissions, kTransmissions);
    EXPECT_EQ(p.detected, kTransmissions);
    EXPECT_EQ(p.mode_right, kTransmissions);
    EXPECT_EQ(p.complete, kTransmissions);
    EXPECT_EQ(p.extra_frames, 0);
    EXPECT_GT(p.bits, 40000);  // ten times what one error in a thousand needs
    EXPECT_LE(p.ber(), c.max_ber) << p.bit_errors << " errors in " << p.bits << " bits";
    // The receiver's own S/N figure for the frame follows the channel within 2 dB.
    ASSERT_EQ(p.snr_frames, kTransmissions);
    EXPECT_NEAR(p.snr_avg_sum / p.snr_frames, c.snr_db, 2.0);
    // No fading: the equaliser keeps its slow forgetting and all its taps.
    ASSERT_EQ(p.doppler_frames, kTransmissions);
    EXPECT_LT(p.doppler_sum_hz / p.doppler_frames, 1.5);
    EXPECT_EQ(p.sparse_frames, 0);
}

INSTANTIATE_TEST_SUITE_P(FixedSnr, Loopback,
                         ::testing::Values(LoopbackCase{0, 0, 7.6, 2e-4}, LoopbackCase{0, 2, 3.8, 4e-5},
                                           LoopbackCase{1, 0, 6.8, 2e-4}));

TEST(LoopbackChecks, DecisionPointNearTheChannelAtHighSnr) {
    const PointResult p = RunPoint(Settings(0, 0, 1), 0, 20.0);
    ASSERT_TRUE(p.decision.snr_db().has_value());
    const double es_n0 = EsN0Db(0, 20.0);
    EXPECT_GT(*p.decision.snr_db(), es_n0 - 3.0);
    EXPECT_LT(*p.decision.snr_db(), es_n0 + 0.5);
    EXPECT_EQ(p.bit_errors, 0);
}

TEST(LoopbackChecks, FourThousandEightHundredTestSignalReadAsModeTwelve) {
    const PointResult p = RunPoint(Settings(0, kMode4800, 1), kMode4800, 30.0);
    EXPECT_EQ(p.detected_modes[kMode4800], 1);
    EXPECT_EQ(p.complete, 1);
    EXPECT_EQ(p.eom, 1);
    EXPECT_EQ(p.bit_errors, 0);
}

TEST(LoopbackChecks, FadingChannelDeliversTheLongInterleaverMessage) {
    // 600 long on the poor channel (2 ms, 1 Hz) at 12 dB: well above its 1e-5 crossing.
    SweepSettings s = Fading(0, 5, 1, "poor", 2.0, 1.0);
    const PointResult p = RunPoint(s, 5, 12.0);
    EXPECT_EQ(p.complete, 1);
    EXPECT_LE(p.ber(), 1e-3);
    ASSERT_EQ(p.doppler_frames, 1);
    EXPECT_LT(p.doppler_sum_hz, 2.0);
    EXPECT_EQ(p.sparse_frames, 0);
}

// The frequency read in the preamble on the poor channel at 6 dB, seed 1.  Transmissions 123, 237
// and 329 have a segment in a deep fade of both paths just before their data: read again from
// the coarse phase and the banks there, its alias jumped by 75 Hz and moved the estimate by
// 22 Hz, and the frame was lost.  Transmission 115's first segment is weak and its coarse phase
// a twelfth of a turn off: a clearer segment that reads the alias anew from fixed bands of the
// coarse phase took it 25 Hz away.  Each now comes out whole.
TEST(LoopbackChecks, PreambleFrequencyRidesOverFadedSegments) {
    SweepSettings s = Fading(0, 5, 1, "poor", 2.0, 1.0);
    for (const std::int64_t index : {115, 123, 237, 329}) {
        const TransmissionResult r = RunTransmission(s, 5, 6.0, index);
        EXPECT_TRUE(r.complete) << "transmission " << index;
        EXPECT_EQ(r.bit_errors, 0) << "transmission " << index;
    }
}

// The poor channel's fades: once a block is decoded, the interference of the symbols on both
// sides of each one is taken away with the decoder's references.  1200 long at 7 dB, six
// transmissions: 5.4e-4 (9.1e-3 at 6 dB; 1.2e-2 with the spans decided on the references of
// the symbols before each one only).
TEST(LoopbackChecks, PoorChannelInterferenceTakenAwayOnBothSides) {
    SweepSettings s = Fading(0, 3, kTransmissions, "poor", 2.0, 1.0);
    const PointResult p = RunPoint(s, 3, 7.0);
    EXPECT_EQ(p.complete, kTransmissions);
    EXPECT_LE(p.ber(), 1e-3) << p.bit_errors << " errors in " << p.bits << " bits";
}

// Slow fading: the full equaliser's taps after a known run stand for the channel some 100 symbols
// back, and the block's second pass takes each span's taps from the spans that far after it.
// 2400 long on the poor channel at 18 dB, six transmissions: the decision point 8.0 dB below the
// channel's Es/N0 (10.1 dB with each span's own taps).  The 4800 bit/s test signal, uncoded, on
// 2 ms / 0.5 Hz at 26 dB, four transmissions, equalised both ways in time with the interference
// of the neighbours taken away: 4.0e-4 (7.1e-4 at 25 dB; 2.3e-3 equalised forward only).
TEST(LoopbackChecks, SlowFadingSpansTakeTheTapsOfTheirInstant) {
    SweepSettings poor = Fading(0, 1, 6, "poor", 2.0, 1.0);
    const PointResult p = RunPoint(poor, 1, 18.0);
    EXPECT_EQ(p.complete, 6);
    EXPECT_EQ(p.bit_errors, 0);
    ASSERT_TRUE(p.decision.snr_db().has_value());
    EXPECT_GT(*p.decision.snr_db(), EsN0Db(0, 18.0) - 9.0);

    SweepSettings slow = Fading(0, kMode4800, 4, "custom", 2.0, 0.5);
    const PointResult u = RunPoint(slow, kMode4800, 26.0);
    EXPECT_EQ(u.complete, 4);
    EXPECT_LE(u.ber(), 6e-4) << u.bit_errors << " errors in " << u.bits << " bits";
}

// Fast fading.  Two paths 2 ms apart with a 5 Hz Doppler spread: the receiver must read the
// spread (3 to 7 Hz) and follow the channel.  One transmission each: 2400 long at 20 dB, 10 dB
// below the required 30 dB, 1.7e-4 (0.44 at 30 dB before the sparse equaliser); 2400 short and
// 1200 long at 24 dB: no error.  On the flutter channel (0.5 ms, 10 Hz) at 30 dB, 600 long and
// 2400 long: no error (2400 long 3.9e-2 without the second pass over each span, 2.5e-3 without
// the block's second pass with the decoder's references).
TEST(LoopbackChecks, FastFadingIsMeasuredAndFollowed) {
    struct Case {
        int mode;
        double delay_ms, spread_hz, snr_db, max_ber;
    };
    for (const Case c : {Case{1, 2.0, 5.0, 20.0, 1e-3}, Case{0, 2.0, 5.0, 24.0, 1e-3}, Case{3, 2.0, 5.0, 24.0, 1e-4},
                         Case{5, 0.5, 10.0, 30.0, 1e-3}, Case{1, 0.5, 10.0, 30.0, 1e-3}}) {
        SweepSettings s = Fading(0, c.mode, 1, "custom", c.delay_ms, c.spread_hz);
        const PointResult p = RunPoint(s, c.mode, c.snr_db);
        EXPECT_EQ(p.complete, 1) << "mode " << c.mode;
        EXPECT_LE(p.ber(), c.max_ber) << "mode " << c.mode << ": " << p.bit_errors << " errors in " << p.bits << " bits";
        ASSERT_EQ(p.doppler_frames, 1);
        EXPECT_GT(p.doppler_sum_hz, 0.6 * c.spread_hz) << "mode " << c.mode;
        EXPECT_LT(p.doppler_sum_hz, 1.4 * c.spread_hz) << "mode " << c.mode;
        EXPECT_EQ(p.sparse_frames, 1) << "mode " << c.mode;
    }
}

// The short interleaver on 2 ms / 5 Hz, where the block's second pass (the decoder's best path
// as references) does most: 4 transmissions at 20 dB give 3.3e-4 and 1.1e-3 at 19 dB, so a
// receiver 1 dB worse fails (at 24 dB, where this was first tested, 2.5e-3 without that pass).
TEST(LoopbackChecks, ShortInterleaverOnFastFadingUsesTheDecodersReferences) {
    const int transmissions = kSanitized ? 2 : 4;
    SweepSettings s = Fading(0, 0, transmissions, "custom", 2.0, 5.0);
    const PointResult p = RunPoint(s, 0, 20.0);
    EXPECT_EQ(p.complete, transmissions);
    EXPECT_LE(p.ber(), 1e-3) << p.bit_errors << " errors in " << p.bits << " bits";
}

// A frame whose preamble comes in a fade: the first transmission of seed 7 on 2 ms / 5 Hz at
// 29 dB ("2400 short").  Its first known runs once read 0 Hz (the runs compared on every input),
// the equaliser stayed on its full set for 0.4 s and the first block lost 106 bits (3.7e-3); the
// frame now goes sparse at once and comes out whole.
TEST(LoopbackChecks, FrameStartingInAFadeGoesSparseAtOnce) {
    SweepSettings s = Fading(0, 0, 1, "custom", 2.0, 5.0);
    s.seed = 7;
    const PointResult p = RunPoint(s, 0, 29.0);
    EXPECT_EQ(p.complete, 1);
    EXPECT_EQ(p.sparse_frames, 1);
    EXPECT_LE(p.ber(), 1e-3) << p.bit_errors << " errors in " << p.bits << " bits";
}

// The short preamble on flutter (0.5 ms, 10 Hz) at 30 dB: the second transmission's counts read
// 53, 12, 63, 2, 1, 0, and the countdown must still reach its end (it once locked onto 12, 11,
// 10, ... and the frame was lost).
TEST(LoopbackChecks, ShortPreambleOnFlutterReachesItsEnd) {
    SweepSettings s = Fading(0, 0, 2, "flutter", 0.5, 10.0);
    const PointResult p = RunPoint(s, 0, 30.0);
    EXPECT_EQ(p.detected, 2);
    EXPECT_EQ(p.complete, 2);
    EXPECT_LE(p.ber(), 1e-3) << p.bit_errors << " errors in " << p.bits << " bits";
}

// The Doppler reading orders the channels by their spread, and only the fast ones put the
// equaliser on its sparse set: one block of 2400 long at 30 dB on two paths 2 ms apart.  Each
// reading lies within 30 % of the spread (0.52, 0.98, 2.09, 5.37 and 10.9 Hz today; with the
// runs compared on every input 0.5 Hz read 0 and 1 Hz 0.77).
TEST(LoopbackChecks, DopplerReadingOrdersTheSpreads) {
    double previous = -1.0;
    for (const double spread : {0.5, 1.0, 2.0, 5.0, 10.0}) {
        SweepSettings s = Fading(0, 1, 1, "custom", 2.0, spread);
        s.blocks_per_transmission = 1;
        const PointResult p = RunPoint(s, 1, 30.0);
        ASSERT_EQ(p.doppler_frames, 1) << spread;
        EXPECT_GT(p.doppler_sum_hz, previous) << spread;
        EXPECT_NEAR(p.doppler_sum_hz, spread, 0.3 * spread);
        EXPECT_EQ(p.sparse_frames, spread > 3.0 ? 1 : 0) << spread;
        EXPECT_EQ(p.complete, 1) << spread;
        previous = p.doppler_sum_hz;
    }
}

TEST(LoopbackChecks, SameFiguresOnOneOrTwoThreads) {
    SweepSettings s = Settings(0, 4, 0);
    s.min_transmissions = 1;
    s.max_bits = 1000;  // stops after the first transmission in index order
    s.threads = 1;
    const PointResult one = RunPoint(s, 4, 3.0);
    s.threads = 2;
    const PointResult two = RunPoint(s, 4, 3.0);
    EXPECT_EQ(one.transmissions, 1);
    EXPECT_EQ(two.transmissions, 1);
    EXPECT_EQ(one.bits, two.bits);
    EXPECT_EQ(one.bit_errors, two.bit_errors);
    EXPECT_EQ(one.errored_blocks, two.errored_blocks);
    EXPECT_EQ(one.snr_avg_sum, two.snr_avg_sum);
    EXPECT_EQ(one.decision.error, two.decision.error);
}

}  // namespace
}  // namespace kavra::perf
