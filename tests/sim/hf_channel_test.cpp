// The channel end to end: alignment and gain, exact offsets, pass band, SNR, streaming and
// seeding.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <ostream>
#include <random>
#include <stdexcept>
#include <vector>

#include "modem/tx/serial_tone_transmitter.h"
#include "sim/hf_channel.h"
#include "tests/sim/signal_analysis.h"

namespace kavra::sim {
namespace {

using testing::Db;
using testing::FitTone;
using testing::kPi;
using testing::MeanPsd;
using testing::MeanSquare;
using testing::Psd;

struct ToneSpec {
    double hz;
    double amplitude;
    double phase;
};

std::vector<float> Tones(int rate, double seconds, const std::vector<ToneSpec>& tones) {
    std::vector<float> x(static_cast<std::size_t>(seconds * rate));
    for (std::size_t n = 0; n < x.size(); ++n) {
        double v = 0;
        for (const auto& t : tones) v += t.amplitude * std::cos(2 * kPi * t.hz * static_cast<double>(n) / rate + t.phase);
        x[n] = static_cast<float>(v);
    }
    return x;
}

// A real transmission: `bytes` of message in `mode` from the modem's own transmitter.
std::vector<float> Burst(modem::TransmitProfile profile, int mode, std::size_t bytes) {
    const auto& info = modem::ProfileInfo(profile);
    std::vector<std::uint8_t> message(bytes);
    for (std::size_t i = 0; i < bytes; ++i) message[i] = static_cast<std::uint8_t>(i * 101 + 3);
    auto tx = std::make_unique<modem::SerialToneTransmitter>(profile);
    std::vector<std::int16_t> pcm(modem::SerialToneTransmitter::SamplesNeeded(profile, mode, bytes, info.nominal_rate_hz));
    std::uint32_t count = 0;
    tx->Transmit(message, info.carrier_hz, info.nominal_rate_hz, mode, pcm, count);
    return std::vector<float>(pcm.begin(), pcm.begin() + count);
}

std::size_t ExpectedLength(std::size_t inputs, int in_rate, int out_rate, double ppm) {
    const long double per_output = (1.0L + static_cast<long double>(ppm) * 1e-6L) * in_rate / out_rate;
    return static_cast<std::size_t>(std::ceil(static_cast<long double>(inputs) / per_output));
}

// ---------------------------------------------------------------------------------------------
// Without fading and noise the channel is a band-limited, time-aligned copy of the input at the
// output rate: every sample matches the ideal waveform read at input instant
// k * (1 + ppm / 1e6) / output_rate.

struct RateCase {
    int in_rate;
    int out_rate;
    double ppm;
};

void PrintTo(const RateCase& c, std::ostream* os) { *os << c.in_rate << " -> " << c.out_rate << " Hz, " << c.ppm << " ppm"; }

class ChannelAlignment : public ::testing::TestWithParam<RateCase> {};

TEST_P(ChannelAlignment, OutputIsTheInputReadAtTheScaledInstants) {
    const auto c = GetParam();
    const std::vector<ToneSpec> tones{{500, 3000, 0.3}, {1800, 5000, 1.1}, {3300, 2000, 2.0}};
    const auto x = Tones(c.in_rate, 1.0, tones);
    HfChannelSettings s;
    s.input_rate_hz = c.in_rate;
    s.output_rate_hz = c.out_rate;
    s.clock_offset_ppm = c.ppm;
    const auto y = ApplyChannel(s, x);
    ASSERT_EQ(y.size(), ExpectedLength(x.size(), c.in_rate, c.out_rate, c.ppm));

    const double scale = (1.0 + c.ppm * 1e-6) / c.out_rate;
    double error = 0, power = 0;
    // Leave out the first and last 20 ms, where the filters see the edges of the recording.
    const auto margin = static_cast<std::size_t>(0.02 * c.out_rate);
    for (std::size_t k = margin; k + margin < y.size(); ++k) {
        double ideal = 0;
        for (const auto& t : tones) ideal += t.amplitude * std::cos(2 * kPi * t.hz * static_cast<double>(k) * scale + t.phase);
        error += (y[k] - ideal) * (y[k] - ideal);
        power += ideal * ideal;
    }
    // A misalignment of 1/300 sample at 48000 Hz would already show at -50 dB.
    EXPECT_LT(Db(error / power), -50.0);
}

INSTANTIATE_TEST_SUITE_P(Rates, ChannelAlignment,
                         ::testing::Values(RateCase{8000, 8000, 0}, RateCase{48000, 48000, 0}, RateCase{8000, 48000, 0},
                                           RateCase{48000, 8000, 0}, RateCase{48000, 48000, 100},
                                           RateCase{8000, 48000, -250}, RateCase{48000, 8000, 20000},
                                           RateCase{8000, 8000, -50000}));

// ---------------------------------------------------------------------------------------------
// Offsets are exact: a tone at f comes out at f * (1 + ppm / 1e6) + offset.

struct OffsetCase {
    int in_rate;
    int out_rate;
    double offset_hz;
    double ppm;
};

void PrintTo(const OffsetCase& c, std::ostream* os) {
    *os << c.in_rate << " -> " << c.out_rate << " Hz, " << c.offset_hz << " Hz, " << c.ppm << " ppm";
}

class ChannelOffsets : public ::testing::TestWithParam<OffsetCase> {};

TEST_P(ChannelOffsets, ToneMovesByExactlyTheRequestedAmount) {
    const auto c = GetParam();
    constexpr double kToneHz = 1000.0;
    const auto x = Tones(c.in_rate, 8.0, {{kToneHz, 10000, 0.0}});
    HfChannelSettings s;
    s.input_rate_hz = c.in_rate;
    s.output_rate_hz = c.out_rate;
    s.freq_offset_hz = c.offset_hz;
    s.clock_offset_ppm = c.ppm;
    const auto y = ApplyChannel(s, x);
    const double expected = kToneHz * (1.0 + c.ppm * 1e-6) + c.offset_hz;
    const auto margin = static_cast<std::size_t>(0.05 * c.out_rate);
    const auto tone = FitTone(std::span<const float>(y).subspan(margin, y.size() - 2 * margin), c.out_rate, expected);
    EXPECT_NEAR(tone.frequency_hz, expected, 1e-5);
    EXPECT_NEAR(Db(tone.amplitude * tone.amplitude / 1e8), 0.0, 0.01);
}

INSTANTIATE_TEST_SUITE_P(Offsets, ChannelOffsets,
                         ::testing::Values(OffsetCase{48000, 48000, 37.5, 0}, OffsetCase{48000, 48000, -120, 0},
                                           OffsetCase{8000, 8000, 0.01, 0}, OffsetCase{8000, 8000, 0, 100},
                                           OffsetCase{48000, 48000, 0, -1000}, OffsetCase{8000, 48000, 12.25, 50},
                                           OffsetCase{48000, 8000, -3.3, -20}, OffsetCase{48000, 48000, 500, 7}));

// ---------------------------------------------------------------------------------------------
// The radio's pass band: flat over 250..3750 Hz, nothing from above 4250 Hz.

TEST(ChannelPassBand, FlatInsideAndClosedOutside) {
    // Steady state only: the first and last 0.1 s hold the filters' response to the tone's
    // switching on and off.
    const auto middle = [](const std::vector<float>& y, int rate) {
        return std::span<const float>(y).subspan(static_cast<std::size_t>(rate / 10), y.size() - static_cast<std::size_t>(rate / 5));
    };
    for (int rate : {8000, 48000}) {
        HfChannelSettings s;
        s.input_rate_hz = rate;
        s.output_rate_hz = rate;
        for (double f : {250.0, 500.0, 1000.0, 2000.0, 3000.0, 3500.0, 3750.0}) {
            const auto y = ApplyChannel(s, Tones(rate, 0.6, {{f, 10000, 0}}));
            const auto tone = FitTone(middle(y, rate), rate, f, 200);
            EXPECT_NEAR(Db(tone.amplitude * tone.amplitude / 1e8), 0.0, 0.01) << f << " Hz at " << rate;
        }
    }
    HfChannelSettings s;
    for (double f : {4250.0, 5000.0, 8000.0, 12000.0, 20000.0}) {
        const auto y = ApplyChannel(s, Tones(48000, 0.6, {{f, 10000, 0}}));
        EXPECT_LT(Db(MeanSquare(middle(y, 48000)) / 0.5e8), -68.0) << f << " Hz";
    }
}

// ---------------------------------------------------------------------------------------------
// SNR: the mean signal power over the noise power in 3000 Hz, measured on the output.

struct SnrCase {
    modem::TransmitProfile profile;
    int out_rate;
    double snr_db;
};

void PrintTo(const SnrCase& c, std::ostream* os) {
    *os << modem::ProfileInfo(c.profile).name << " -> " << c.out_rate << " Hz, SNR " << c.snr_db << " dB";
}

class ChannelSnr : public ::testing::TestWithParam<SnrCase> {};

TEST_P(ChannelSnr, MeasuredSnrIsTheRequestedOne) {
    const auto c = GetParam();
    const int in_rate = modem::ProfileInfo(c.profile).nominal_rate_hz;
    const auto x = Burst(c.profile, 0, 540);
    HfChannelSettings s;
    s.input_rate_hz = in_rate;
    s.output_rate_hz = c.out_rate;
    s.signal_power = MeasureSignalPower(x);
    s.seed = 7;
    const auto clean = ApplyChannel(s, x);
    s.snr_db = c.snr_db;
    const auto noisy = ApplyChannel(s, x);
    ASSERT_EQ(clean.size(), noisy.size());
    std::vector<float> noise(noisy.size());
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = noisy[i] - clean[i];

    const double signal_power = MeasureSignalPower(clean);
    const auto psd = Psd(noise, c.out_rate);
    const double density = MeanPsd(psd, c.out_rate, 400, 3600);
    const double measured = Db(signal_power / (density * 3000.0));
    std::printf("  [measured] SNR %.2f dB requested, %.3f dB measured (output %d Hz)\n", c.snr_db, measured, c.out_rate);
    EXPECT_NEAR(measured, c.snr_db, 0.2);

    // White across the pass band: every 300 Hz band within 0.5 dB of the mean.
    for (double f = 300; f + 300 <= 3700; f += 300)
        EXPECT_NEAR(Db(MeanPsd(psd, c.out_rate, f, f + 300) / density), 0.0, 0.5) << f << " Hz";
    // And nothing of it beyond the radio's pass band.
    if (c.out_rate == 48000) {
        EXPECT_LT(Db(MeanPsd(psd, c.out_rate, 4500, 20000) / density), -50.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, ChannelSnr,
    ::testing::Values(SnrCase{modem::TransmitProfile::Profile2400At48k, 48000, 0},
                      SnrCase{modem::TransmitProfile::Profile2400At48k, 48000, 10},
                      SnrCase{modem::TransmitProfile::Profile2400At48k, 48000, 30},
                      SnrCase{modem::TransmitProfile::Profile2400At48k, 8000, 10},
                      SnrCase{modem::TransmitProfile::Profile2000At8k, 8000, 3},
                      SnrCase{modem::TransmitProfile::Profile2000At8k, 48000, 20}));

// ---------------------------------------------------------------------------------------------
// Streaming and seeding.

HfChannelSettings Everything(int in_rate, int out_rate) {
    HfChannelSettings s;
    s.input_rate_hz = in_rate;
    s.output_rate_hz = out_rate;
    s.snr_db = 5.0;
    s.signal_power = 1e8;
    s.fading = FadingSettings{1.3, 2.0};
    s.freq_offset_hz = 7.5;
    s.clock_offset_ppm = 80;
    s.seed = 12345;
    return s;
}

class ChannelStreaming : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(ChannelStreaming, OutputDoesNotDependOnHowTheInputIsCut) {
    const auto [in_rate, out_rate] = GetParam();
    const auto s = Everything(in_rate, out_rate);
    const auto x = Tones(in_rate, 0.7, {{900, 8000, 0}, {2100, 6000, 1}});
    const auto whole = ApplyChannel(s, x);

    std::mt19937 cuts(99);
    HfChannel channel(s);
    std::vector<float> pieces;
    std::size_t at = 0;
    while (at < x.size()) {
        const std::size_t n = std::min<std::size_t>(x.size() - at, cuts() % 3 == 0 ? 1 : cuts() % 700);
        std::vector<float> out(channel.MaxOutput(n));
        const std::size_t written = channel.Process(std::span<const float>(x).subspan(at, n), std::span<float>(out));
        pieces.insert(pieces.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(written));
        at += n;
    }
    channel.Flush(pieces);
    EXPECT_EQ(channel.dropped(), 0u);
    ASSERT_EQ(pieces.size(), whole.size());
    EXPECT_TRUE(pieces == whole);

    // Reset: the same samples again.
    channel.Reset();
    std::vector<float> again;
    channel.Process(x, again);
    channel.Flush(again);
    EXPECT_TRUE(again == whole);
}

INSTANTIATE_TEST_SUITE_P(Rates, ChannelStreaming,
                         ::testing::Values(std::pair{8000, 8000}, std::pair{48000, 48000}, std::pair{8000, 48000},
                                           std::pair{48000, 8000}));

TEST(ChannelSeed, SameSeedSameSamplesOtherSeedOtherSamples) {
    const auto x = Tones(8000, 0.5, {{1500, 9000, 0}});
    auto s = Everything(8000, 8000);
    const auto a = ApplyChannel(s, x);
    const auto b = ApplyChannel(s, x);
    EXPECT_TRUE(a == b);
    s.seed = 12346;
    const auto c = ApplyChannel(s, x);
    ASSERT_EQ(a.size(), c.size());
    double diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff += (a[i] - c[i]) * (a[i] - c[i]);
    EXPECT_GT(diff, 0.1 * MeanSquare(a) * static_cast<double>(a.size()));
}

TEST(ChannelSeed, NoiseAndFadingDrawFromSeparateStreams) {
    // The fading seen with noise is the fading seen without it, and the noise is the same
    // with or without a signal: output(x, noise) = output(x, no noise) + output(0, noise).
    const auto x = Tones(8000, 0.5, {{1500, 9000, 0}});
    auto s = Everything(8000, 48000);
    const auto both = ApplyChannel(s, x);
    const auto noise_only = ApplyChannel(s, std::vector<float>(x.size(), 0.0f));
    s.snr_db.reset();
    const auto signal_only = ApplyChannel(s, x);
    ASSERT_EQ(both.size(), signal_only.size());
    double worst = 0;
    for (std::size_t i = 0; i < both.size(); ++i)
        worst = std::max(worst, static_cast<double>(std::abs(both[i] - signal_only[i] - noise_only[i])));
    EXPECT_LT(worst, 0.01);
}

TEST(ChannelStream, LengthsAndEndOfStream) {
    for (const auto& [in_rate, out_rate, ppm] :
         {RateCase{8000, 48000, 0}, RateCase{48000, 8000, 0}, RateCase{48000, 8000, 37}, RateCase{8000, 8000, -3}}) {
        HfChannelSettings s;
        s.input_rate_hz = in_rate;
        s.output_rate_hz = out_rate;
        s.clock_offset_ppm = ppm;
        for (std::size_t n : {0u, 1u, 5u, 6u, 7u, 1000u, 12345u})
            EXPECT_EQ(ApplyChannel(s, std::vector<float>(n, 1.0f)).size(), ExpectedLength(n, in_rate, out_rate, ppm))
                << n << " samples " << in_rate << " -> " << out_rate << " at " << ppm << " ppm";
    }
    HfChannel channel(HfChannelSettings{});
    std::vector<float> out;
    channel.Process(std::vector<float>(100, 1.0f), out);
    channel.Flush(out);
    EXPECT_EQ(out.size(), 100u);
    channel.Process(std::vector<float>(100, 1.0f), out);  // after Flush: nothing
    EXPECT_EQ(out.size(), 100u);
}

// ---------------------------------------------------------------------------------------------
// Settings and helpers.

TEST(ChannelSettings, RefusesWhatItCannotDo) {
    const auto bad = [](auto change) {
        HfChannelSettings s;
        change(s);
        return CheckSettings(s).has_value();
    };
    EXPECT_FALSE(bad([](HfChannelSettings&) {}));
    EXPECT_TRUE(bad([](HfChannelSettings& s) { s.input_rate_hz = 44100; }));
    EXPECT_TRUE(bad([](HfChannelSettings& s) { s.output_rate_hz = 9600; }));
    EXPECT_TRUE(bad([](HfChannelSettings& s) { s.snr_db = 10.0; }));  // no signal power
    EXPECT_TRUE(bad([](HfChannelSettings& s) { s.snr_db = NAN; s.signal_power = 1; }));
    EXPECT_TRUE(bad([](HfChannelSettings& s) { s.snr_db = 101; s.signal_power = 1; }));
    EXPECT_TRUE(bad([](HfChannelSettings& s) { s.fading = FadingSettings{-0.1, 1}; }));
    EXPECT_TRUE(bad([](HfChannelSettings& s) { s.fading = FadingSettings{10.5, 1}; }));
    EXPECT_TRUE(bad([](HfChannelSettings& s) { s.fading = FadingSettings{1, 0}; }));
    EXPECT_TRUE(bad([](HfChannelSettings& s) { s.fading = FadingSettings{1, 51}; }));
    EXPECT_TRUE(bad([](HfChannelSettings& s) { s.freq_offset_hz = 501; }));
    EXPECT_TRUE(bad([](HfChannelSettings& s) { s.freq_offset_hz = INFINITY; }));
    EXPECT_TRUE(bad([](HfChannelSettings& s) { s.clock_offset_ppm = -50001; }));
    EXPECT_TRUE(bad([](HfChannelSettings& s) { s.output_gain = 0; }));
    EXPECT_FALSE(bad([](HfChannelSettings& s) { s.fading = FadingSettings{0, 0.01}; s.snr_db = -50; s.signal_power = 1; }));
    HfChannelSettings s;
    s.input_rate_hz = 11025;
    EXPECT_THROW(HfChannel{s}, std::invalid_argument);
}

TEST(ChannelSettings, PresetsAreTheNamedChannels) {
    ASSERT_TRUE(FindFadingPreset("good"));
    EXPECT_EQ(FindFadingPreset("good")->delay_ms, 0.5);
    EXPECT_EQ(FindFadingPreset("good")->spread_hz, 0.1);
    EXPECT_EQ(FindFadingPreset("moderate")->delay_ms, 1.0);
    EXPECT_EQ(FindFadingPreset("moderate")->spread_hz, 0.5);
    EXPECT_EQ(FindFadingPreset("poor")->delay_ms, 2.0);
    EXPECT_EQ(FindFadingPreset("poor")->spread_hz, 1.0);
    EXPECT_EQ(FindFadingPreset("flutter")->delay_ms, 0.5);
    EXPECT_EQ(FindFadingPreset("flutter")->spread_hz, 10.0);
    EXPECT_FALSE(FindFadingPreset("Poor"));
}

TEST(SignalPower, LeadingAndTrailingSilenceDoNotCount) {
    std::vector<float> x(1000, 0.0f);
    for (std::size_t i = 300; i < 700; ++i) x[i] = (i % 2 == 0) ? 100.0f : -100.0f;
    EXPECT_DOUBLE_EQ(MeasureSignalPower(x), 10000.0);
    x[100] = 0.5f;  // below 1 % of the peak: still silence
    EXPECT_DOUBLE_EQ(MeasureSignalPower(x), 10000.0);
    EXPECT_EQ(MeasureSignalPower(std::vector<float>(10, 0.0f)), 0.0);
    EXPECT_EQ(MeasureSignalPower(std::vector<float>{}), 0.0);
    const std::vector<std::int16_t> pcm{0, 0, 3, -4, 0, 0};
    EXPECT_DOUBLE_EQ(MeasureSignalPower(pcm), 12.5);
}

TEST(Pcm16, TruncatesTowardZeroAndCountsClipping) {
    const std::vector<float> in{0.9f, -0.9f, 1.7f, -1.7f, 32767.9f, 32768.0f, -32768.9f, -32769.0f, 1e9f, -1e9f};
    std::vector<std::int16_t> out(in.size());
    EXPECT_EQ(ToPcm16(in, out), 4u);
    EXPECT_EQ(out, (std::vector<std::int16_t>{0, 0, 1, -1, 32767, 32767, -32768, -32768, 32767, -32768}));
}

}  // namespace
}  // namespace kavra::sim
