// The transmitter: symbol sequence, sample counts, clock correction, capacity and spectrum.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <numeric>
#include <vector>

#include "modem/common/channel_patterns.h"
#include "modem/common/data_scrambler.h"
#include "modem/common/mode_table.h"
#include "modem/tx/serial_tone_transmitter.h"

namespace kavra::modem {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Burst {
    int blocks = 0;
    std::vector<std::int16_t> samples;
    std::vector<int> symbols;
};

Burst Send(TransmitProfile profile, int mode, std::size_t length, int card_rate = 0, std::size_t capacity = 0,
           int carrier = 0) {
    const auto& info = ProfileInfo(profile);
    if (card_rate == 0) card_rate = info.nominal_rate_hz;
    if (carrier == 0) carrier = info.carrier_hz;
    std::vector<std::uint8_t> message(length);
    for (std::size_t i = 0; i < length; ++i) message[i] = static_cast<std::uint8_t>(i * 37 + 11);
    auto tx = std::make_unique<SerialToneTransmitter>(profile);
    Burst burst;
    tx->SetSymbolTap([](void* c, int s) { static_cast<std::vector<int>*>(c)->push_back(s); }, &burst.symbols);
    burst.samples.resize(capacity != 0 ? capacity : SerialToneTransmitter::SamplesNeeded(profile, mode, length, card_rate));
    std::uint32_t count = 0;
    burst.blocks = tx->Transmit(message, carrier, card_rate, mode, burst.samples, count);
    EXPECT_LE(count, burst.samples.size());
    burst.samples.resize(count);
    return burst;
}

TEST(Transmitter, LinkBlockInMode0And1HasTheDocumentedLength) {
    auto short_burst = Send(TransmitProfile::Profile2400At48k, 0, 65);
    EXPECT_EQ(short_burst.blocks, 1);
    EXPECT_EQ(short_burst.symbols.size(), 4320u);
    EXPECT_EQ(short_burst.samples.size(), 86400u);
    auto long_burst = Send(TransmitProfile::Profile2400At48k, 1, 65);
    EXPECT_EQ(long_burst.blocks, 1);
    EXPECT_EQ(long_burst.samples.size(), 345600u);
}

TEST(Transmitter, LongestBurstFitsTheSchedulerCapacity) {
    auto burst = Send(TransmitProfile::Profile2400At48k, 1, 176 * 65, 0, SerialToneTransmitter::kSchedulerCapacity);
    EXPECT_EQ(burst.blocks, 8);
    EXPECT_EQ(burst.symbols.size(), 97920u);
    EXPECT_EQ(burst.samples.size(), 1958400u);
}

TEST(Transmitter, BlockCountFollowsTheEndOfMessageRule) {
    EXPECT_EQ(Send(TransmitProfile::Profile2400At48k, 0, 164).blocks, 2);  // T = 180 = B
    EXPECT_EQ(Send(TransmitProfile::Profile2400At48k, 0, 163).blocks, 1);
    EXPECT_EQ(Send(TransmitProfile::Profile2400At48k, 4, 0).blocks, 1);
    EXPECT_EQ(Send(TransmitProfile::Profile2400At48k, 4, 0).symbols.size(), 2880u + 1440u);
}

// Samples per symbol at the nominal rate, for every profile and mode.
class ProfileCounts : public ::testing::TestWithParam<std::tuple<TransmitProfile, int>> {};

TEST_P(ProfileCounts, NominalRateGivesWholeSamplesPerSymbol) {
    const auto [profile, mode] = GetParam();
    auto burst = Send(profile, mode, 100);
    const auto per_symbol = static_cast<std::size_t>(ProfileInfo(profile).output_samples_per_symbol);
    EXPECT_EQ(burst.samples.size(), burst.symbols.size() * per_symbol);
    EXPECT_EQ(static_cast<long long>(burst.symbols.size()), TransmissionSymbols(mode, 100));
}

INSTANTIATE_TEST_SUITE_P(AllProfiles, ProfileCounts,
                         ::testing::Combine(::testing::Values(TransmitProfile::Profile2400At48k,
                                                              TransmitProfile::Profile2000At48k,
                                                              TransmitProfile::Profile2000At8k),
                                            ::testing::Values(0, 3, 4)));

TEST(Transmitter, CardRateCorrectionScalesTheSampleCount) {
    const auto nominal = Send(TransmitProfile::Profile2400At48k, 0, 1000).samples.size();
    const auto fast = Send(TransmitProfile::Profile2400At48k, 0, 1000, 48048).samples.size();
    EXPECT_NEAR(static_cast<double>(fast) / static_cast<double>(nominal), 1.001, 2e-5);
    const auto slow = Send(TransmitProfile::Profile2000At8k, 2, 1000, 7992).samples.size();
    const auto base8k = Send(TransmitProfile::Profile2000At8k, 2, 1000).samples.size();
    EXPECT_NEAR(static_cast<double>(slow) / static_cast<double>(base8k), 0.999, 2e-5);
}

TEST(Transmitter, AbsurdCardRatesAreClampedAndNeverHang) {
    for (int rate : {0, -48000, 1, 10000000}) {
        auto burst = Send(TransmitProfile::Profile2400At48k, 0, 10, rate, 200000);
        EXPECT_EQ(burst.blocks, 1) << rate;
        EXPECT_GT(burst.samples.size(), 80000u) << rate;
    }
}

TEST(Transmitter, CapacityLimitsTheOutputExactly) {
    auto burst = Send(TransmitProfile::Profile2400At48k, 0, 65, 0, 5000);
    EXPECT_EQ(burst.samples.size(), 5000u);
    EXPECT_EQ(burst.symbols.size(), 4320u);  // the computation still runs to its end
    auto none = Send(TransmitProfile::Profile2000At8k, 0, 65, 0, 1);
    EXPECT_EQ(none.samples.size(), 1u);
}

TEST(Transmitter, ModesItDoesNotBuildSendNothing) {
    for (int mode : {-1, 6, 12, 13, 1000}) {
        auto burst = Send(TransmitProfile::Profile2400At48k, mode, 65, 0, 1000);
        EXPECT_EQ(burst.blocks, 0) << mode;
        EXPECT_TRUE(burst.samples.empty()) << mode;
        EXPECT_TRUE(burst.symbols.empty()) << mode;
    }
}

TEST(Transmitter, PreambleCarriesModeAndCountdown) {
    for (int mode = 0; mode < 6; ++mode) {
        auto burst = Send(TransmitProfile::Profile2400At48k, mode, 1);
        const int segments = PreambleSegments(mode);
        for (int seg = 0; seg < segments; ++seg) {
            const auto expected = PreambleSegment(ModeInfo(mode).d1, ModeInfo(mode).d2, segments - 1 - seg);
            for (int c = 0; c < 15; ++c)
                for (int i = 0; i < 32; ++i)
                    ASSERT_EQ(burst.symbols[static_cast<std::size_t>(seg * 480 + c * 32 + i)],
                              kChannelSymbolPatterns[expected[static_cast<std::size_t>(c)]][static_cast<std::size_t>(i)])
                        << "mode " << mode << " segment " << seg << " channel symbol " << c;
        }
    }
}

// Every known symbol of every block, descrambled, is 0 except the D1/D2 probes of the last
// two frames of each block.
TEST(Transmitter, KnownSymbolsAndProbesInEveryBlock) {
    for (int mode = 0; mode < 6; ++mode) {
        const auto& info = ModeInfo(mode);
        const std::size_t length = static_cast<std::size_t>(DataBytesPerBlock(mode)) * 2;  // three blocks
        auto burst = Send(TransmitProfile::Profile2400At48k, mode, length);
        ASSERT_EQ(burst.blocks, 3);
        const int frame = FrameSymbols(mode);
        const int frames = FramesPerBlock(mode);
        DataScrambler scrambler;
        std::size_t pos = static_cast<std::size_t>(PreambleSymbols(mode));
        for (int block = 0; block < burst.blocks; ++block)
            for (int f = 0; f < frames; ++f) {
                if ((f * frame) % 480 == 0) scrambler.Reset();
                for (int k = 0; k < frame; ++k, ++pos) {
                    const int c = scrambler.Next();
                    if (k < info.data_symbols) continue;
                    const int known = (burst.symbols[pos] - c + 8) % 8;
                    const int j = k - info.data_symbols;
                    int expected = 0;
                    if (f == frames - 2 && j < 16) expected = kProbePatterns[static_cast<std::size_t>(info.d1)][static_cast<std::size_t>(j)];
                    if (f == frames - 1 && j < 16) expected = kProbePatterns[static_cast<std::size_t>(info.d2)][static_cast<std::size_t>(j)];
                    ASSERT_EQ(known, expected) << "mode " << mode << " block " << block << " frame " << f << " k " << k;
                }
            }
        EXPECT_EQ(pos, burst.symbols.size());
    }
}

// Power of `samples` at `hz`: one DFT bin over n samples, optionally through a Hann window
// (for spectra of modulated signals, where a rectangular window leaks too much).
double PowerAt(const std::vector<std::int16_t>& s, std::size_t from, std::size_t n, double hz, double rate,
               bool hann = false) {
    std::complex<double> acc = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double w = hann ? 0.5 - 0.5 * std::cos(2 * kPi * static_cast<double>(i) / static_cast<double>(n)) : 1.0;
        acc += w * static_cast<double>(s[from + i]) * std::polar(1.0, -2 * kPi * hz * static_cast<double>(i) / rate);
    }
    return std::norm(acc) / static_cast<double>(n * n);
}

TEST(Transmitter, SymbolZeroIsASteadyToneAtTheCarrier) {
    for (auto profile : {TransmitProfile::Profile2400At48k, TransmitProfile::Profile2000At48k,
                         TransmitProfile::Profile2000At8k}) {
        const auto& info = ProfileInfo(profile);
        WaveformSynthesizer synth(profile);
        std::vector<std::int16_t> out(static_cast<std::size_t>(info.nominal_rate_hz));
        synth.SetUp(1234, info.nominal_rate_hz, out);
        while (synth.sample_count() < out.size()) synth.SendSymbol(0);
        // After the filters settle, the signal is one sinusoid at 1234 Hz.
        const std::size_t from = out.size() / 4, n = out.size() / 2;
        const double rate = info.nominal_rate_hz;
        const double tone = PowerAt(out, from, n, 1234, rate);
        double total = 0;
        for (std::size_t i = from; i < from + n; ++i) total += static_cast<double>(out[i]) * out[i];
        total /= static_cast<double>(n);
        EXPECT_GT(2.0 * tone / total, 0.999) << info.name;  // all the power is in the tone
        int peak = 0;
        for (std::size_t i = from; i < from + n; ++i) peak = std::max(peak, std::abs(static_cast<int>(out[i])));
        EXPECT_NEAR(std::sqrt(2.0 * total), peak, 0.01 * peak) << info.name;  // constant envelope
    }
}

TEST(Transmitter, SpectrumStaysInTheBandAndLevelsAreAsDesigned) {
    for (auto profile : {TransmitProfile::Profile2400At48k, TransmitProfile::Profile2000At48k,
                         TransmitProfile::Profile2000At8k}) {
        const auto& info = ProfileInfo(profile);
        auto burst = Send(profile, 0, 2000);
        const auto& s = burst.samples;
        const double rate = info.nominal_rate_hz;
        const std::size_t from = 2880 * static_cast<std::size_t>(info.output_samples_per_symbol);  // data part
        const std::size_t n = 4096;
        const double edge = info.symbol_rate == 2400 ? 1450 : 1180;
        double in_band = 0, out_band = 0;
        for (double hz = 100; hz < std::min(rate / 2, 6000.0); hz += 50) {
            double p = 0;
            for (int w = 0; w < 8; ++w) p += PowerAt(s, from + static_cast<std::size_t>(w) * n, n, hz, rate, true);
            if (std::abs(hz - info.carrier_hz) < edge - 100) in_band = std::max(in_band, p);
            if (std::abs(hz - info.carrier_hz) > edge + 250) out_band = std::max(out_band, p);
        }
        EXPECT_LT(10 * std::log10(out_band / in_band), -40.0) << info.name;
        double sum2 = 0;
        int peak = 0;
        for (std::size_t i = from; i < s.size(); ++i) {
            sum2 += static_cast<double>(s[i]) * s[i];
            peak = std::max(peak, std::abs(static_cast<int>(s[i])));
        }
        const double rms = std::sqrt(sum2 / static_cast<double>(s.size() - from));
        EXPECT_LT(peak, 32000) << info.name;
        EXPECT_GT(rms, 9000) << info.name;
        EXPECT_LT(rms, 18000) << info.name;
    }
}

TEST(Transmitter, CarrierPhaseCarriesOverBetweenTransmissions) {
    // Two calls on one object give the same lengths; the second is not a copy of the first
    // sample for sample because the oscillator phase runs on.
    auto tx = std::make_unique<SerialToneTransmitter>(TransmitProfile::Profile2400At48k);
    std::vector<std::uint8_t> msg(10, 0x55);
    std::vector<std::int16_t> a(100000), b(100000);
    std::uint32_t na = 0, nb = 0;
    tx->Transmit(msg, 1800, 48000, 0, a, na);
    tx->Transmit(msg, 1800, 48000, 0, b, nb);
    EXPECT_EQ(na, nb);
    a.resize(na);
    b.resize(nb);
    EXPECT_NE(a, b);
}

}  // namespace
}  // namespace kavra::modem
