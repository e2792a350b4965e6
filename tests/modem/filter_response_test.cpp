// Measures the frequency response of each committed transmit filter table and checks it against
// the bounds the transmitter relies on: band edges, flatness, attenuation, symmetry, DC gain.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <ostream>
#include <span>
#include <string>

#include "modem/tx/filter_taps.h"

namespace kavra::modem {
namespace {

// |H(f)| of the table, evaluated directly in double precision.
double Gain(std::span<const float> taps, double rate_hz, double f_hz) {
    std::complex<double> sum{0.0, 0.0};
    const double w = -2.0 * std::numbers::pi * f_hz / rate_hz;
    for (std::size_t n = 0; n < taps.size(); ++n) {
        sum += static_cast<double>(taps[n]) * std::polar(1.0, w * static_cast<double>(n));
    }
    return std::abs(sum);
}

double Db(double gain) { return 20.0 * std::log10(gain); }

struct GainRange {
    double min = 0.0;
    double max = 0.0;
};

// Smallest and largest gain over [from_hz, to_hz] on a grid of step_hz (end point included).
GainRange MeasureRange(std::span<const float> taps, double rate_hz, double from_hz, double to_hz,
                       double step_hz) {
    GainRange r{Gain(taps, rate_hz, from_hz), Gain(taps, rate_hz, from_hz)};
    for (double f = from_hz; f <= to_hz; f += step_hz) {
        const double g = Gain(taps, rate_hz, f);
        r.min = std::min(r.min, g);
        r.max = std::max(r.max, g);
    }
    const double g = Gain(taps, rate_hz, to_hz);
    r.min = std::min(r.min, g);
    r.max = std::max(r.max, g);
    return r;
}

// First frequency at which the gain falls below 1/sqrt(2) (-3 dB against unity), found on a 1 Hz
// scan and refined by bisection; negative if it never does.
double Minus3DbPoint(std::span<const float> taps, double rate_hz) {
    const double half_power = 1.0 / std::numbers::sqrt2;
    for (double f = 1.0; f <= rate_hz / 2; f += 1.0) {
        if (Gain(taps, rate_hz, f) >= half_power) continue;
        double lo = f - 1.0;
        double hi = f;
        for (int i = 0; i < 40; ++i) {
            const double mid = 0.5 * (lo + hi);
            (Gain(taps, rate_hz, mid) >= half_power ? lo : hi) = mid;
        }
        return 0.5 * (lo + hi);
    }
    return -1.0;
}

double TapSum(std::span<const float> taps) {
    double s = 0.0;
    for (float t : taps) s += static_cast<double>(t);
    return s;
}

// ---------------------------------------------------------------------------------------------
// Properties every table shares: exact mirror symmetry (linear phase) and its DC gain.

struct TableCase {
    std::string name;
    std::span<const float> taps;
    double tap_sum;
};

void PrintTo(const TableCase& c, std::ostream* os) { *os << c.name; }

class FilterTable : public ::testing::TestWithParam<TableCase> {};

TEST_P(FilterTable, IsExactlySymmetric) {
    const auto taps = GetParam().taps;
    for (std::size_t i = 0; i < taps.size() / 2; ++i) {
        ASSERT_TRUE(std::isfinite(taps[i])) << "tap " << i;
        EXPECT_EQ(taps[i], taps[taps.size() - 1 - i]) << "tap " << i;
    }
}

TEST_P(FilterTable, TapsSumToTheDcGain) {
    EXPECT_NEAR(TapSum(GetParam().taps), GetParam().tap_sum, 5e-5);
}

INSTANTIATE_TEST_SUITE_P(
    TransmitFilters, FilterTable,
    ::testing::Values(TableCase{"Shaping2400At48k", kShapingTaps2400At48k, 1.009416},
                      TableCase{"Shaping2000At48k", kShapingTaps2000At48k, 0.978277},
                      TableCase{"Shaping2000At8k", kShapingTaps2000At8k, 0.980300},
                      TableCase{"OutputLowpass", kOutputLowpassTaps, 0.844537}),
    [](const auto& param_info) { return param_info.param.name; });

// ---------------------------------------------------------------------------------------------
// The three pulse-shaping low-pass filters.

struct ShapingCase {
    std::string name;
    std::span<const float> taps;
    double rate_hz;
    double pass_edge_hz;   // pass band 0..pass_edge_hz
    double ripple_db;      // within +-ripple_db of 0 dB and at most ripple_db peak to peak
    double minus3db_hz;    // nominal -3 dB point, held within kMinus3DbToleranceHz
    double stop_edge_hz;   // stop band stop_edge_hz..rate/2
    double stop_atten_db;  // at least this far below 0 dB
};

void PrintTo(const ShapingCase& c, std::ostream* os) { *os << c.name; }

// A 128-tap filter at 9600 Hz cannot also have its -3 dB point at exactly 1450 Hz with 0.2 dB
// flatness to 1400 Hz and 60 dB from 1600 Hz; the band edges matter, the exact point less so.
constexpr double kMinus3DbToleranceHz = 10.0;

class ShapingFilter : public ::testing::TestWithParam<ShapingCase> {};

TEST_P(ShapingFilter, PassBandIsFlat) {
    const auto& c = GetParam();
    const GainRange r = MeasureRange(c.taps, c.rate_hz, 0.0, c.pass_edge_hz, 1.0);
    EXPECT_LE(Db(r.max), c.ripple_db);
    EXPECT_GE(Db(r.min), -c.ripple_db);
    EXPECT_LE(Db(r.max) - Db(r.min), c.ripple_db);
}

TEST_P(ShapingFilter, HalfPowerPointIsAtTheNominalFrequency) {
    const auto& c = GetParam();
    EXPECT_NEAR(Minus3DbPoint(c.taps, c.rate_hz), c.minus3db_hz, kMinus3DbToleranceHz);
}

TEST_P(ShapingFilter, StopBandIsAttenuated) {
    const auto& c = GetParam();
    const GainRange r = MeasureRange(c.taps, c.rate_hz, c.stop_edge_hz, c.rate_hz / 2, 0.5);
    EXPECT_LE(Db(r.max), -c.stop_atten_db);
}

TEST_P(ShapingFilter, TransitionHasNoBump) {
    // Between the bands the gain stays below the pass band's ceiling, and from the half-power
    // point it only falls until it is 40 dB down.
    const auto& c = GetParam();
    const GainRange r = MeasureRange(c.taps, c.rate_hz, c.pass_edge_hz, c.stop_edge_hz, 1.0);
    EXPECT_LE(Db(r.max), c.ripple_db);
    const double f3 = Minus3DbPoint(c.taps, c.rate_hz);
    ASSERT_GT(f3, 0.0);
    double previous = Gain(c.taps, c.rate_hz, f3);
    for (double f = f3 + 1.0; previous > 0.01; f += 1.0) {
        const double g = Gain(c.taps, c.rate_hz, f);
        ASSERT_LT(g, previous) << f << " Hz";
        previous = g;
    }
}

INSTANTIATE_TEST_SUITE_P(
    TransmitFilters, ShapingFilter,
    ::testing::Values(
        ShapingCase{"Shaping2400At48k", kShapingTaps2400At48k, 9600.0, 1400.0, 0.2, 1450.0,
                    1600.0, 60.0},
        ShapingCase{"Shaping2000At48k", kShapingTaps2000At48k, 12000.0, 1130.0, 0.4, 1180.0,
                    1330.0, 59.0},
        ShapingCase{"Shaping2000At8k", kShapingTaps2000At8k, 8000.0, 1130.0, 0.35, 1180.0,
                    1330.0, 59.0}),
    [](const auto& param_info) { return param_info.param.name; });

// ---------------------------------------------------------------------------------------------
// The output low-pass: a shaped pass band and the interpolator's images removed.

constexpr double kOutputRateHz = 48000.0;

struct GainPoint {
    double f_hz;
    double gain;
};

void PrintTo(const GainPoint& p, std::ostream* os) { *os << p.gain << " at " << p.f_hz << " Hz"; }

class OutputLowpassGain : public ::testing::TestWithParam<GainPoint> {};

TEST_P(OutputLowpassGain, MatchesTheStatedShape) {
    const auto [f_hz, gain] = GetParam();
    EXPECT_NEAR(Gain(kOutputLowpassTaps, kOutputRateHz, f_hz), gain, 0.03) << f_hz << " Hz";
}

INSTANTIATE_TEST_SUITE_P(TransmitFilters, OutputLowpassGain,
                         ::testing::Values(GainPoint{0.0, 0.85}, GainPoint{2400.0, 1.15},
                                           GainPoint{3300.0, 0.93}, GainPoint{4000.0, 0.59},
                                           GainPoint{5000.0, 0.16}),
                         [](const auto& param_info) {
                             return std::to_string(static_cast<int>(param_info.param.f_hz)) + "Hz";
                         });

TEST(OutputLowpass, RisesToItsPeakThenFalls) {
    double previous = Gain(kOutputLowpassTaps, kOutputRateHz, 0.0);
    for (double f = 10.0; f <= 2000.0; f += 10.0) {
        const double g = Gain(kOutputLowpassTaps, kOutputRateHz, f);
        ASSERT_GT(g, previous) << f << " Hz";
        previous = g;
    }
    previous = Gain(kOutputLowpassTaps, kOutputRateHz, 2400.0);
    for (double f = 2410.0; f <= 5500.0; f += 10.0) {
        const double g = Gain(kOutputLowpassTaps, kOutputRateHz, f);
        ASSERT_LT(g, previous) << f << " Hz";
        previous = g;
    }
    // The peak bounds the output level; nowhere much above the 1.15 of the shape.
    EXPECT_LE(MeasureRange(kOutputLowpassTaps, kOutputRateHz, 0.0, kOutputRateHz / 2, 1.0).max,
              1.18);
}

TEST(OutputLowpass, SuppressesImagesFrom6000Hz) {
    EXPECT_LE(MeasureRange(kOutputLowpassTaps, kOutputRateHz, 6000.0, kOutputRateHz / 2, 0.5).max,
              0.003);
}

}  // namespace
}  // namespace kavra::modem
