// The receiver's front end: rate converter, mixer, filter, AGC and the BasebandRing.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <vector>

#include "modem/common/mode_table.h"
#include "modem/rx/serial_tone_receiver.h"

namespace kavra::modem {
namespace {

struct Rx {
    std::unique_ptr<ReceiverOutput> out = std::make_unique<ReceiverOutput>();
    std::unique_ptr<SerialToneReceiver> rx;
    explicit Rx(int type, int card_rate = 48000, int carrier = -1) {
        out->rx_carrier = carrier >= 0 ? carrier : DefaultCarrierHz(type);
        out->card_rate = card_rate;
        rx = std::make_unique<SerialToneReceiver>(type, *out);
    }
    // A tone of `hz` at the SampleRing rate of the type.
    void Tone(int type, double hz, int samples, double amplitude = 8000.0, double phase0 = 0.0) {
        const double rate = 4.0 * SymbolRate(type);
        for (int n = 0; n < samples; ++n)
            rx->ProcessSample(static_cast<std::int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * n / rate + phase0))));
    }
};

class FrontEndByType : public ::testing::TestWithParam<int> {};

TEST_P(FrontEndByType, NominalCardRateGivesOneBasebandSamplePerRingSample) {
    Rx r(GetParam());
    for (int n = 0; n < 96000; ++n) r.rx->ProcessSample(static_cast<std::int16_t>(n % 7 - 3));
    EXPECT_EQ(r.rx->baseband_sample_count(), 96000);
}

TEST_P(FrontEndByType, FastCardIsSlowedToTheTrueBasebandRate) {
    // A card one part in a thousand fast: 9590.4 baseband samples per 9600 ring samples.
    Rx r(GetParam(), 48048);
    const int n = 96000;
    for (int i = 0; i < n; ++i) r.rx->ProcessSample(0);
    EXPECT_NEAR(static_cast<double>(r.rx->baseband_sample_count()), n * 48000.0 / 48048.0, 2.0);
    Rx slow(GetParam(), 47952);
    for (int i = 0; i < n; ++i) slow.rx->ProcessSample(0);
    EXPECT_NEAR(static_cast<double>(slow.rx->baseband_sample_count()), n * 48000.0 / 47952.0, 2.0);
}

TEST_P(FrontEndByType, AbsurdCardRatesAreClampedNotHung) {
    for (int rate : {0, -48000, 1, 1000000}) {
        Rx r(GetParam(), rate);
        for (int i = 0; i < 1000; ++i) r.rx->ProcessSample(100);
        EXPECT_GT(r.rx->baseband_sample_count(), 900) << rate;
        EXPECT_LT(r.rx->baseband_sample_count(), 1100) << rate;
    }
}

TEST_P(FrontEndByType, ZeroCarrierLeavesTheSignalInPhase) {
    // RX carrier 0 Hz: I = x, Q = 0, so a slow positive input stays on the real axis.
    Rx r(GetParam(), 48000, 0);
    for (int i = 0; i < 2000; ++i) r.rx->ProcessSample(5000);
    for (const Complex& z : r.rx->BasebandRing()) {
        EXPECT_GT(z.re, 0.0f);
        EXPECT_EQ(z.im, 0.0f);
    }
}

TEST_P(FrontEndByType, ToneAboveTheCarrierTurnsBasebandBackwards) {
    // A tone 20 Hz above the RX carrier: the baseband turns at -20 Hz, the sign convention
    // that the frequency estimate (positive: received carrier above RX carrier) undoes.
    const int type = GetParam();
    Rx r(type);
    r.Tone(type, DefaultCarrierHz(type) + 20.0, 20000);
    const auto ring = r.rx->BasebandRing();
    std::complex<double> turn = 0;
    for (int k = 0; k + 4 < kBasebandRingLength; ++k) {
        const auto a = ring[static_cast<std::size_t>(k)];
        const auto b = ring[static_cast<std::size_t>(k + 4)];
        turn += std::complex<double>(b.re, b.im) * std::conj(std::complex<double>(a.re, a.im));
    }
    const double hz_per_sample = std::arg(turn) / 4.0 / (2 * M_PI) * 4.0 * SymbolRate(type);
    EXPECT_NEAR(hz_per_sample, -20.0, 0.2);
    // The AGC has brought the level near 1.
    EXPECT_NEAR(std::abs(std::complex<double>(ring[0].re, ring[0].im)), 1.0, 0.25);
}

TEST_P(FrontEndByType, SilenceBeforeTheSignalLeavesNoNonFiniteValues) {
    Rx r(GetParam());
    for (int i = 0; i < 9600; ++i) r.rx->ProcessSample(0);
    EXPECT_EQ(r.rx->agc_level(), 0.0f);
    for (const Complex& z : r.rx->BasebandRing()) {
        EXPECT_EQ(z.re, 0.0f);
        EXPECT_EQ(z.im, 0.0f);
    }
    r.Tone(GetParam(), DefaultCarrierHz(GetParam()), 4000);
    EXPECT_GT(r.rx->agc_level(), 0.0f);
    for (const Complex& z : r.rx->BasebandRing()) {
        EXPECT_TRUE(std::isfinite(z.re) && std::isfinite(z.im));
        EXPECT_GT(std::abs(std::complex<float>(z.re, z.im)), 0.5f);
    }
}

TEST_P(FrontEndByType, FirstNonZeroSampleSetsTheLevelAtOnce) {
    // Search mode: B = 0.2 m at the first non-zero value, and A = B since B > 2 A = 0.
    Rx r(GetParam(), 48000, 0);
    r.rx->ProcessSample(0);
    r.rx->ProcessSample(0);
    EXPECT_EQ(r.rx->agc_level(), 0.0f);
    // One sample reaches the filter's first tap (0.000513 for type 0, 0.001292 for type 1)
    // only after the converter's delay, so feed until the level moves.
    int fed = 0;
    while (r.rx->agc_level() == 0.0f && fed < 200) {
        r.rx->ProcessSample(fed == 0 ? 10000 : 0);
        ++fed;
    }
    ASSERT_GT(r.rx->agc_level(), 0.0f);
    const auto ring = r.rx->BasebandRing();
    const Complex newest = ring[kBasebandRingLength - 1];
    // The newest sample was divided by A = 0.2 |z|: its magnitude is 5 (approximately).
    EXPECT_NEAR(ApproxMagnitude(newest.re, newest.im), 5.0f, 1e-3f);
}

TEST_P(FrontEndByType, HostileInputKeepsEveryFigureFinite) {
    // Full-scale square waves, a lone impulse, DC and clipped noise, back to back: the
    // receiver stays in a sane state (and the sanitizer build sees no undefined conversion).
    const int type = GetParam();
    Rx r(type);
    std::vector<std::int16_t> input;
    for (int n = 0; n < 20000; ++n) input.push_back((n / 3) % 2 != 0 ? std::int16_t{32767} : std::int16_t{-32768});
    for (int n = 0; n < 20000; ++n) input.push_back(n == 100 ? std::int16_t{32767} : std::int16_t{0});
    for (int n = 0; n < 20000; ++n) input.push_back(std::int16_t{-20000});
    std::uint32_t x = 1;
    for (int n = 0; n < 40000; ++n) {
        x = x * 1664525u + 1013904223u;
        input.push_back((x >> 31) != 0 ? std::int16_t{32767} : std::int16_t{-32768});
    }
    for (std::int16_t s : input) {
        r.rx->ProcessSample(s);
        r.out->flags = 0;
    }
    EXPECT_TRUE(std::isfinite(r.rx->agc_level()));
    EXPECT_TRUE(std::isfinite(r.rx->timing_phase()));
    EXPECT_TRUE(std::isfinite(r.rx->frequency_estimate_hz()));
    EXPECT_LE(std::abs(r.out->freq_offset.load()), 200);
    for (const Complex& z : r.rx->BasebandRing()) EXPECT_TRUE(std::isfinite(z.re) && std::isfinite(z.im));
    for (int k = 0; k < kEqualizerTaps; ++k) EXPECT_TRUE(std::isfinite(r.rx->equalizer().w_re[static_cast<std::size_t>(k)]));
}

INSTANTIATE_TEST_SUITE_P(ModemTypes, FrontEndByType, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& p) { return "Type" + std::to_string(p.param); });

}  // namespace
}  // namespace kavra::modem
