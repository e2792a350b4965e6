// The measuring instrument itself: the ideal coherent reference against coding theory, the
// stopping rule, the Es/N0 conversion, false detections on noise and the plot.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "perf/ber_plot.h"
#include "perf/ber_sweep.h"
#include "tests/support/sanitizer.h"
#include "perf/noise_run.h"

namespace kavra::perf {
namespace {

using kavra::testing::kSanitized;

double Q(double x) { return 0.5 * std::erfc(x / std::sqrt(2.0)); }

// The ideal reference, exactly `transmissions` transmissions per point.
SweepSettings Ideal(int mode, int transmissions = 1) {
    SweepSettings s;
    s.modem_type = 0;
    s.modes = {mode};
    s.snr_db = {0.0};
    s.ideal_receiver = true;
    s.fixed_transmissions = transmissions;
    s.seed = 7;
    return s;
}

TEST(EsN0, SymbolEnergyAgainstNoiseInThreeKilohertz) {
    // 3000 Hz of noise against 2400 or 2000 symbols/s.
    EXPECT_NEAR(EsN0Db(0, 10.0), 10.0 + 0.969, 1e-3);
    EXPECT_NEAR(EsN0Db(1, 10.0), 10.0 + 1.761, 1e-3);
}

class IdealReference : public ::testing::TestWithParam<int> {};

TEST_P(IdealReference, NoiselessSoftValuesDecodeExactly) {
    // The soft pairs follow the decoder's convention for 8-PSK, QPSK and BPSK.
    const int mode = GetParam();
    const PointResult p = RunPoint(Ideal(mode), mode, 40.0);
    EXPECT_EQ(p.bit_errors, 0);
    EXPECT_EQ(p.complete, 1);
    EXPECT_EQ(p.eom, 1);
}

INSTANTIATE_TEST_SUITE_P(AllSentModes, IdealReference, ::testing::Range(0, 6));

TEST_P(IdealReference, DecisionPointMeasuresTheNoiseAdded) {
    // White noise at Es/N0 = 10.97 dB: the measured SNR at the decision point is that, and the
    // error splits evenly between amplitude and phase.
    const int mode = GetParam();
    const PointResult p = RunPoint(Ideal(mode), mode, 10.0);
    ASSERT_TRUE(p.decision.snr_db().has_value());
    EXPECT_NEAR(*p.decision.snr_db(), EsN0Db(0, 10.0), 0.15);
    EXPECT_NEAR(*p.decision.phase_excess_db(), 0.0, 0.3);
}

TEST(IdealReferenceTheory, BpskAgreesWithTheUnionBoundOfTheCode) {
    if (kSanitized) GTEST_SKIP() << "a million bits; the decoding itself is covered above";
    // 600 short at 0 dB in 3 kHz: Es/N0 0.97 dB; two data symbols (two code bits) per data bit,
    // so Eb/N0 at the decoder = 3.98 dB.  Union bound of the (133, 171) code with its information
    // weights: sum of B_d Q(sqrt(2 d R Eb/N0)), R = 1/2.
    const double eb_n0 = std::pow(10.0, (EsN0Db(0, 0.0) + 10.0 * std::log10(2.0)) / 10.0);
    const int d[] = {10, 12, 14, 16, 18, 20, 22, 24};
    const double weights[] = {36, 211, 1404, 11633, 77433, 502690, 3322763, 21292910};
    double bound = 0.0;
    for (int k = 0; k < 8; ++k) bound += weights[k] * Q(std::sqrt(2.0 * d[k] * 0.5 * eb_n0));
    ASSERT_NEAR(bound, 2.0e-5, 0.3e-5);

    const PointResult p = RunPoint(Ideal(4, 140), 4, 0.0);  // 140 transmissions of 7040 bits
    ASSERT_EQ(p.transmissions, 140);
    // The decoder runs one trellis over the frame's blocks, so every bit, those at block ends
    // included, must come out as the code allows (a loss of 0.4 dB would triple the rate; 140
    // transmissions hold about ten error events).
    const double ber = p.ber();
    EXPECT_GT(ber, bound / 4) << p.bit_errors << " errors, " << p.edge_errors << " at block ends, " << p.head_errors << " at starts";
    EXPECT_LT(ber, bound * 3) << p.bit_errors << " errors, " << p.edge_errors << " at block ends, " << p.head_errors << " at starts";
}

TEST(StoppingRule, BitsOrErrorsSpreadOverTransmissions) {
    SweepSettings s;
    s.max_bits = 1000;
    s.target_error_blocks = 3;
    s.target_error_transmissions = 2;
    s.min_transmissions = 2;
    PointResult p;
    p.transmissions = 1;
    p.errored_transmissions = 1;
    p.errored_blocks = 5;
    EXPECT_FALSE(PointDone(s, p));  // too few transmissions
    p.transmissions = 3;
    EXPECT_FALSE(PointDone(s, p));  // one lost frame alone does not end a point
    p.errored_transmissions = 2;
    EXPECT_TRUE(PointDone(s, p));
    p.errored_blocks = 2;
    EXPECT_FALSE(PointDone(s, p));
    p.bits = 1000;
    EXPECT_TRUE(PointDone(s, p));
    s.fixed_transmissions = 4;
    EXPECT_FALSE(PointDone(s, p));
    p.transmissions = 4;
    EXPECT_TRUE(PointDone(s, p));
}

TEST(StoppingRule, SweepSkipsAboveAnErrorFreePoint) {
    SweepSettings s = Ideal(4);
    s.snr_db = {20.0, 25.0, 30.0};
    s.max_bits = 7040;  // one transmission
    s.threads = 1;
    const SweepResult r = RunSweep(s);
    ASSERT_EQ(r.points.size(), 3u);
    EXPECT_FALSE(r.points[0].skipped);
    EXPECT_EQ(r.points[0].bit_errors, 0);
    EXPECT_TRUE(r.points[1].skipped);
    EXPECT_TRUE(r.points[2].skipped);
}

TEST(Settings, RefusedWithReasons) {
    SweepSettings s = Ideal(0);
    EXPECT_FALSE(CheckSettings(s).has_value());
    s.modes = {6};
    EXPECT_TRUE(CheckSettings(s).has_value());
    s.modes = {kMode4800};
    EXPECT_TRUE(CheckSettings(s).has_value());  // the reference covers coded modes only
    s.ideal_receiver = false;
    EXPECT_FALSE(CheckSettings(s).has_value());
    s.modem_type = 1;
    EXPECT_TRUE(CheckSettings(s).has_value());  // no 4800 bit/s signal under type 1
    s.modes = {0};
    s.snr_db = {5.0, 5.0};
    EXPECT_TRUE(CheckSettings(s).has_value());
    s.snr_db = {5.0};
    s.threads = 0;
    EXPECT_TRUE(CheckSettings(s).has_value());
    s.threads = 2;
    s.ideal_receiver = true;
    s.channel.fading = sim::FadingSettings{2.0, 1.0};
    EXPECT_TRUE(CheckSettings(s).has_value());
}

class NoiseOnly : public ::testing::TestWithParam<int> {};

TEST_P(NoiseOnly, NoFrameFromNoise) {
    NoiseRunSettings s;
    s.modem_type = GetParam();
    s.seconds = kSanitized ? 20.0 : 120.0;
    s.seed = 3;
    const NoiseRunResult r = RunNoiseOnly(s);
    EXPECT_NEAR(r.seconds, s.seconds, 0.5);
    EXPECT_EQ(r.frames, 0);
    EXPECT_EQ(r.blocks, 0);
    EXPECT_EQ(r.bytes, 0);
    // A preamble start without a real preamble times out again, or at worst trains and leaves
    // data mode on its own; only one may still be open when the audio ends.
    EXPECT_LE(r.sync_losses + r.data_starts, r.preamble_starts);
    EXPECT_GE(r.sync_losses + r.data_starts + 1, r.preamble_starts);
}

INSTANTIATE_TEST_SUITE_P(BothTypes, NoiseOnly, ::testing::Values(0, 1));

TEST(Plot, CurvesRequirementsAndBounds) {
    SweepResult r;
    r.settings.modem_type = 0;
    r.settings.modes = {1, 3};
    r.settings.snr_db = {0.0, 5.0, 10.0};
    r.settings.channel.name = "poor";
    r.settings.channel.fading = sim::FadingSettings{2.0, 1.0};
    for (int mode : r.settings.modes)
        for (double snr : r.settings.snr_db) {
            PointResult p;
            p.mode = mode;
            p.snr_db = snr;
            p.bits = 100000;
            p.bit_errors = snr < 9 ? 1000 : 0;
            p.transmissions = 1;
            r.points.push_back(p);
        }
    const std::string svg = BerPlotSvg(r, "poor & <test>");
    EXPECT_EQ(svg.rfind("<svg", 0), 0u);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
    EXPECT_NE(svg.find("poor &amp; &lt;test&gt;"), std::string::npos);
    // Two curves, the 2400 and 1200 requirements on this channel (18 and 11 dB), not the 600 one.
    std::size_t curves = 0;
    for (std::size_t at = svg.find("<polyline"); at != std::string::npos; at = svg.find("<polyline", at + 1)) ++curves;
    EXPECT_EQ(curves, 2u);
    EXPECT_NE(svg.find("2400 required"), std::string::npos);
    EXPECT_NE(svg.find("1200 required"), std::string::npos);
    EXPECT_EQ(svg.find("600 required"), std::string::npos);
    EXPECT_EQ(svg.find("ideal bound"), std::string::npos);  // bounds belong to AWGN plots
}

}  // namespace
}  // namespace kavra::perf
