// Fading: each path's gain process (power, Doppler spread, shape), the two-path fader at
// baseband (per-path power, delay, spread, independence), and the whole channel with a real
// transmission through it.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "modem/tx/serial_tone_transmitter.h"
#include "sim/doppler_tap.h"
#include "sim/hf_channel.h"
#include "sim/watterson_fader.h"
#include "tests/sim/signal_analysis.h"

namespace kavra::sim {
namespace {

using testing::kPi;
using C = std::complex<double>;

// Samples of a gain process per "independent look": the integral of its squared
// autocorrelation, sqrt(pi) / (2 pi sigma) = 0.564 / spread seconds.
double LookSeconds(double spread_hz) { return 0.5642 / spread_hz; }

// Autocorrelation R(lag) = mean g[n + lag] conj(g[n]).
template <typename T>
C Autocorrelation(const std::vector<T>& g, std::size_t lag) {
    C sum = 0;
    for (std::size_t n = 0; n + lag < g.size(); ++n) sum += C(g[n + lag]) * std::conj(C(g[n]));
    return sum / static_cast<double>(g.size() - lag);
}

// Two-sigma spread from the normalised autocorrelation rho at `lag_s` seconds:
// rho = exp(-2 pi^2 sigma^2 tau^2).
double SpreadFromCorrelation(double rho, double lag_s) {
    return 2.0 * std::sqrt(-std::log(rho) / (2 * kPi * kPi * lag_s * lag_s));
}

// Lag (s) at which a Gaussian Doppler spectrum of `spread` correlates to `rho`.
double LagFor(double rho, double spread_hz) {
    const double sigma = spread_hz / 2;
    return std::sqrt(-std::log(rho) / (2 * kPi * kPi * sigma * sigma));
}

struct NamedFading {
    std::string name;
    FadingSettings fading;
};

std::string CaseName(const ::testing::TestParamInfo<NamedFading>& info) { return info.param.name; }
void PrintTo(const NamedFading& f, std::ostream* os) {
    *os << f.name << " (" << f.fading.delay_ms << " ms, " << f.fading.spread_hz << " Hz)";
}

std::vector<NamedFading> Presets() {
    std::vector<NamedFading> v;
    for (const auto& p : kFadingPresets) v.push_back({std::string(p.name), p.fading});
    return v;
}

// ---------------------------------------------------------------------------------------------
// One path's gain: power, spread, Gaussian shape.  Run at 256 samples per hertz of spread so
// that 5000 independent looks take a moment; the low-rate process is the same as at 8000 Hz.

class DopplerTapStatistics : public ::testing::TestWithParam<NamedFading> {};

void CheckTap(double spread, double rate, double looks, const std::string& what) {
    DopplerTap tap(spread, rate, 0.5, 42 + static_cast<std::uint64_t>(spread * 1000), 1);
    std::vector<std::complex<float>> g(static_cast<std::size_t>(looks * LookSeconds(spread) * rate));
    for (auto& v : g) v = tap.Next();
    const double power = Autocorrelation(g, 0).real();
    EXPECT_NEAR(power, 0.5, 0.05) << what;
    double sum = 0;
    for (double rho : {0.8, 0.5, 0.2}) {
        const double lag = LagFor(rho, spread);
        const auto samples = static_cast<std::size_t>(std::lround(lag * rate));
        const double measured_rho = std::abs(Autocorrelation(g, samples)) / power;
        const double exact_lag = static_cast<double>(samples) / rate;
        // The shape: Gaussian autocorrelation at three points.
        EXPECT_NEAR(measured_rho, std::exp(-0.5 * kPi * kPi * spread * spread * exact_lag * exact_lag), 0.04)
            << what << " rho " << rho;
        sum += SpreadFromCorrelation(measured_rho, exact_lag);
    }
    const double measured_spread = sum / 3;
    std::printf("  [measured] %s: power %.4f (0.5), spread %.4f Hz (%.4g)\n", what.c_str(), power, measured_spread,
                spread);
    EXPECT_NEAR(measured_spread / spread, 1.0, 0.10) << what;
}

TEST_P(DopplerTapStatistics, PowerSpreadAndShapeAreTheRequestedOnes) {
    const auto& p = GetParam();
    CheckTap(p.fading.spread_hz, 256.0 * p.fading.spread_hz, 5000, p.name);
}

INSTANTIATE_TEST_SUITE_P(Presets, DopplerTapStatistics,
                         ::testing::ValuesIn([] {
                             auto v = Presets();
                             v.push_back({"free_0_03Hz", {0, 0.03}});
                             v.push_back({"free_37Hz", {0, 37}});
                             return v;
                         }()),
                         CaseName);

TEST(DopplerTap, AtTheChannelsOwnRate) {
    // 8000 samples/s: 25 (flutter) and 250 (poor) samples per low-rate sample.
    CheckTap(10.0, 8000, 2000, "flutter at 8000 Hz");
    CheckTap(1.0, 8000, 1000, "poor at 8000 Hz");
}

TEST(DopplerTap, StreamsAreIndependentAndSeedsRepeat) {
    DopplerTap a(5.0, 2000, 0.5, 7, 1), b(5.0, 2000, 0.5, 7, 2), a2(5.0, 2000, 0.5, 7, 1);
    C cross = 0;
    const int n = 200000;
    for (int i = 0; i < n; ++i) {
        const auto x = a.Next();
        EXPECT_EQ(x, a2.Next());
        cross += C(x) * std::conj(C(b.Next()));
    }
    // About 700 looks: the cross-correlation of independent paths is near 0 (1/sqrt(700) x 0.5).
    EXPECT_LT(std::abs(cross / static_cast<double>(n)), 0.05);
}

// ---------------------------------------------------------------------------------------------
// The fader at baseband, fed with independent unit-magnitude symbols.  For z_k[m] = y[m] x*[m-L-k]
// the lag-one product z_k[m] z_k*[m+1] averages to the mean power of whatever path sits at
// delay k (the other terms are products of independent symbols); a fractional delay spreads
// one path over neighbouring k as sinc^2, whose ratio gives the fraction.

struct FaderRun {
    std::vector<C> x;
    std::vector<C> y;
};

FaderRun RunFader(const FadingSettings& f, double seconds, std::uint64_t seed) {
    constexpr double kRate = 8000;
    WattersonFader fader(f, kRate, seed);
    FaderRun run;
    const auto n = static_cast<std::size_t>(seconds * kRate);
    run.x.resize(n);
    run.y.resize(n);
    std::uint64_t state = 0x9e3779b97f4a7c15ull;
    constexpr double kHalf = 0.70710678118654752440;
    for (std::size_t m = 0; m < n; ++m) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        run.x[m] = C((state & 1) ? kHalf : -kHalf, (state & 2) ? kHalf : -kHalf);
        run.y[m] = C(fader.Process(std::complex<float>(run.x[m])));
    }
    return run;
}

// z_k[m] = y[m] conj(x[m - L - k]).
C Despread(const FaderRun& r, int k, std::size_t m) {
    return r.y[m] * std::conj(r.x[m - static_cast<std::size_t>(WattersonFader::kLatency + k)]);
}

// Mean of z_j[m + lag] conj(z_k[m]).
C DespreadCorrelation(const FaderRun& r, int j, int k, std::size_t lag) {
    const std::size_t start = static_cast<std::size_t>(WattersonFader::kLatency + std::max(j, k));
    C sum = 0;
    for (std::size_t m = start; m + lag < r.y.size(); ++m) sum += Despread(r, j, m + lag) * std::conj(Despread(r, k, m));
    return sum / static_cast<double>(r.y.size() - lag - start);
}

double PathPower(const FaderRun& r, int k) { return DespreadCorrelation(r, k, k, 1).real(); }

class FaderPaths : public ::testing::TestWithParam<NamedFading> {};

TEST_P(FaderPaths, PowerDelayAndSpreadOfEachPath) {
    const auto& p = GetParam();
    const double spread = p.fading.spread_hz;
    // Enough time for 1000 looks where that is affordable; slow fading is measured for power
    // and spread on the gain process itself (DopplerTapStatistics).
    const double seconds = std::clamp(1000 * LookSeconds(spread), 10.0, 60.0);
    const double looks = seconds / LookSeconds(spread);
    const auto run = RunFader(p.fading, seconds, 2024);
    const double delay = p.fading.delay_ms * 8.0;  // samples at 8000 Hz

    std::vector<double> profile;
    for (int k = 0; k <= static_cast<int>(delay) + 6; ++k) profile.push_back(PathPower(run, k));

    if (delay == 0) {
        // Both paths at one delay: one Rayleigh path of power 1.
        EXPECT_NEAR(profile[0], 1.0, looks >= 900 ? 0.1 : 0.5);
        for (std::size_t k = 1; k < profile.size(); ++k) EXPECT_LT(profile[k], 0.01);
        return;
    }
    // The second path: the strongest lag beyond the first, refined by the sinc^2 ratio with
    // the stronger neighbour.
    std::size_t peak = 2;
    for (std::size_t k = 2; k < profile.size(); ++k)
        if (profile[k] > profile[peak]) peak = k;
    double measured_delay = static_cast<double>(peak);
    const double before = std::max(profile[peak - 1], 1e-12);
    const double after = std::max(profile[peak + 1], 1e-12);
    if (before > after && before > 0.01 * profile[peak])
        measured_delay = static_cast<double>(peak) - 1 + 1 / (1 + std::sqrt(before / profile[peak]));
    else if (after > 0.01 * profile[peak])
        measured_delay = static_cast<double>(peak) + 1 / (1 + std::sqrt(profile[peak] / after));
    double second_power = 0;
    for (std::size_t k = 2; k < profile.size(); ++k) second_power += profile[k];
    std::printf("  [measured] fader %s: delay %.3f ms (%.3g), path powers %.3f %.3f (0.5, %.0f looks)\n",
                p.name.c_str(), measured_delay / 8.0, p.fading.delay_ms, profile[0], second_power, looks);
    EXPECT_NEAR(measured_delay / delay, 1.0, 0.10);
    EXPECT_NEAR(measured_delay, delay, 0.05);  // in fact much closer than 10 %
    // Nothing at lags that hold no path.
    EXPECT_LT(profile[1], 0.01);

    if (looks < 990) return;
    EXPECT_NEAR(profile[0] / 0.5, 1.0, 0.10);
    // A fractional delay goes through the band-limited interpolator, which rightly drops part of
    // this white test signal; its power is checked on a real signal (ChannelFading).
    if (delay == std::floor(delay)) {
        EXPECT_NEAR(second_power / 0.5, 1.0, 0.10);
    }
    // Spread of each path from its despread gain: R(tau) / R(one sample) at rho ~ 0.5.
    const auto lag = static_cast<std::size_t>(std::lround(LagFor(0.5, spread) * 8000));
    const double rho1 = std::abs(DespreadCorrelation(run, 0, 0, lag)) / profile[0];
    const double spread1 = SpreadFromCorrelation(rho1, static_cast<double>(lag) / 8000);
    std::printf("  [measured] fader %s: path 1 spread %.3f Hz (%.3g)\n", p.name.c_str(), spread1, spread);
    EXPECT_NEAR(spread1 / spread, 1.0, 0.10);
    if (delay == std::floor(delay)) {
        const int d = static_cast<int>(delay);
        const double rho2 = std::abs(DespreadCorrelation(run, d, d, lag)) / profile[static_cast<std::size_t>(d)];
        const double spread2 = SpreadFromCorrelation(rho2, static_cast<double>(lag) / 8000);
        std::printf("  [measured] fader %s: path 2 spread %.3f Hz (%.3g)\n", p.name.c_str(), spread2, spread);
        EXPECT_NEAR(spread2 / spread, 1.0, 0.10);
        // The paths fade independently.
        EXPECT_LT(std::abs(DespreadCorrelation(run, 0, d, 1)), 0.05);
    }
}

INSTANTIATE_TEST_SUITE_P(Channels, FaderPaths,
                         ::testing::ValuesIn([] {
                             auto v = Presets();
                             v.push_back({"free_1_3ms_3Hz", {1.3, 3.0}});
                             v.push_back({"free_0_7ms_20Hz", {0.7, 20.0}});
                             v.push_back({"free_6ms_18Hz", {6.0, 18.0}});
                             v.push_back({"free_0ms_10Hz", {0.0, 10.0}});
                             return v;
                         }()),
                         CaseName);

// ---------------------------------------------------------------------------------------------
// The whole channel with a real transmission through it: 60 s of modem type 1 at 8000 Hz on two
// paths fading at 10 Hz, a whole and a fractional number of samples apart.  Path gains are
// estimated every 5 ms by least squares on the analytic input and its exactly delayed copy.

// `a` delayed by `d` samples (any real d), through the spectrum (the start wraps around).
std::vector<C> Delayed(const std::vector<C>& a, double d) {
    const std::size_t n = testing::NextPowerOfTwo(a.size() + 4096);
    std::vector<C> b(n);
    std::copy(a.begin(), a.end(), b.begin());
    testing::Fft(b, false);
    for (std::size_t k = 0; k < n; ++k) {
        const double f = (k < n / 2 ? static_cast<double>(k) : static_cast<double>(k) - static_cast<double>(n)) /
                         static_cast<double>(n);
        b[k] *= std::polar(1.0, -2 * kPi * f * d);
    }
    testing::Fft(b, true);
    b.resize(a.size());
    return b;
}

class ChannelFading : public ::testing::TestWithParam<double> {};

TEST_P(ChannelFading, RealTransmissionShowsBothPathsAtTheirDelayPowerAndSpread) {
    constexpr int kRate = 8000;
    constexpr double kSpread = 10.0;
    const double delay_ms = GetParam();
    const double delay = delay_ms * kRate / 1000;
    constexpr auto kProfile = modem::TransmitProfile::Profile2000At8k;
    const auto& info = modem::ProfileInfo(kProfile);
    std::vector<std::uint8_t> message(15000);
    for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<std::uint8_t>(i * 73 + 5);
    auto tx = std::make_unique<modem::SerialToneTransmitter>(kProfile);
    std::vector<std::int16_t> pcm(modem::SerialToneTransmitter::SamplesNeeded(kProfile, 0, message.size(), kRate));
    std::uint32_t count = 0;
    tx->Transmit(message, info.carrier_hz, kRate, 0, pcm, count);
    const std::vector<float> x(pcm.begin(), pcm.begin() + count);

    HfChannelSettings s;
    s.input_rate_hz = kRate;
    s.output_rate_hz = kRate;
    s.fading = FadingSettings{delay_ms, kSpread};
    s.seed = 5;
    const auto y = ApplyChannel(s, x);
    ASSERT_EQ(y.size(), x.size());
    const auto xa = testing::Analytic(x);
    const auto xd = Delayed(xa, delay);
    const auto ya = testing::Analytic(y);

    // Power-delay profile from 5 ms cross-correlations, and least-squares path gains.
    constexpr std::size_t kWindow = 40;
    constexpr int kLags = 30;
    std::vector<double> pdp(kLags, 0.0);
    std::vector<C> g1, g2;
    const std::size_t first = 4000, last = x.size() - 4000;  // inside the transmission, away from the ends
    for (std::size_t w = first; w + kWindow <= last; w += kWindow) {
        double energy = 0;
        for (std::size_t n = w; n < w + kWindow; ++n) energy += std::norm(xa[n]);
        for (int k = 0; k < kLags; ++k) {
            C c = 0;
            for (std::size_t n = w; n < w + kWindow; ++n) c += ya[n] * std::conj(xa[n - static_cast<std::size_t>(k)]);
            pdp[static_cast<std::size_t>(k)] += std::norm(c / energy);
        }
        C a11 = 0, a12 = 0, a22 = 0, b1 = 0, b2 = 0;
        for (std::size_t n = w; n < w + kWindow; ++n) {
            const C u = xa[n], v = xd[n];
            a11 += std::norm(u);
            a22 += std::norm(v);
            a12 += std::conj(u) * v;
            b1 += std::conj(u) * ya[n];
            b2 += std::conj(v) * ya[n];
        }
        const C det = a11 * a22 - a12 * std::conj(a12);
        g1.push_back((a22 * b1 - a12 * b2) / det);
        g2.push_back((a11 * b2 - std::conj(a12) * b1) / det);
    }
    // Second path: the peak beyond 4 samples, refined by a parabola.
    std::size_t peak = 5;
    for (std::size_t k = 5; k + 1 < pdp.size(); ++k)
        if (pdp[k] > pdp[peak]) peak = k;
    const double offset = 0.5 * (pdp[peak - 1] - pdp[peak + 1]) / (pdp[peak - 1] - 2 * pdp[peak] + pdp[peak + 1]);
    const double measured_delay = static_cast<double>(peak) + offset;
    std::size_t direct = 0;
    for (std::size_t k = 0; k < 5; ++k)
        if (pdp[k] > pdp[direct]) direct = k;

    // Least squares leaves the estimates unbiased, so their mean square is the path power.
    const double p1 = Autocorrelation(g1, 0).real(), p2 = Autocorrelation(g2, 0).real();
    // rho ~ 0.45 eight windows (40 ms) apart at 10 Hz.
    const double lag_s = 8.0 * kWindow / kRate;
    const double spread1 = SpreadFromCorrelation(std::abs(Autocorrelation(g1, 8)) / p1, lag_s);
    const double spread2 = SpreadFromCorrelation(std::abs(Autocorrelation(g2, 8)) / p2, lag_s);
    std::printf("  [measured] channel, %.3g ms / 10 Hz, modem type 1 input: path 1 at %zu samples, path 2 at %.3f ms, "
                "powers %.3f %.3f, spreads %.2f %.2f Hz\n",
                delay_ms, direct, measured_delay / 8, p1, p2, spread1, spread2);
    EXPECT_EQ(direct, 0u);
    EXPECT_NEAR(measured_delay / delay, 1.0, 0.10);
    EXPECT_NEAR(measured_delay, delay, 0.25);
    EXPECT_NEAR(p1 / 0.5, 1.0, 0.10);
    EXPECT_NEAR(p2 / 0.5, 1.0, 0.10);
    EXPECT_NEAR(spread1 / kSpread, 1.0, 0.10);
    EXPECT_NEAR(spread2 / kSpread, 1.0, 0.10);
    // The mean signal power is kept.
    EXPECT_NEAR(MeasureSignalPower(y) / MeasureSignalPower(x), 1.0, 0.10);
}

INSTANTIATE_TEST_SUITE_P(Delays, ChannelFading, ::testing::Values(2.0, 1.7));

}  // namespace
}  // namespace kavra::sim
