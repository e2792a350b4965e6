// Known answers for the receiver's constant tables and small functions, and the symbol tables
// checked against what the transmitter really sends.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <vector>

#include "modem/common/channel_patterns.h"
#include "modem/common/data_scrambler.h"
#include "modem/common/mode_table.h"
#include "modem/rx/receiver_profile.h"
#include "modem/rx/receiver_tables.h"
#include "modem/tx/serial_tone_transmitter.h"

namespace kavra::modem {
namespace {

TEST(ReceiverTables, SineTableQuarterCycles) {
    const SineTable sine;
    EXPECT_FLOAT_EQ(sine[0], 0.0f);
    EXPECT_NEAR(sine[1000], 1.0f, 1e-6f);
    EXPECT_NEAR(sine[3000], -1.0f, 1e-6f);
    EXPECT_NEAR(sine[4999], sine[999], 1e-5f);  // the cos read-out runs one quarter past 4000
    const Complex r = sine.Rotor(500.7f);        // 45 degrees, truncated index 500
    EXPECT_NEAR(r.re, std::sqrt(0.5f), 1e-5f);
    EXPECT_NEAR(r.im, std::sqrt(0.5f), 1e-5f);
    // Out-of-range and NaN phases read as 0 instead of indexing outside the table.
    EXPECT_EQ(sine.Rotor(-1.0f).re, sine.Rotor(0.0f).re);
    EXPECT_EQ(sine.Rotor(std::nanf("")).im, 0.0f);
    EXPECT_EQ(WrapPhase(4000.0f), 0.0f);
    EXPECT_EQ(WrapPhase(-1.0f), 3999.0f);
    EXPECT_EQ(WrapPhase(std::nanf("")), 0.0f);
}

TEST(ReceiverTables, ApproxMagnitude) {
    EXPECT_FLOAT_EQ(ApproxMagnitude(3.0f, 1.0f), 3.414214f);
    EXPECT_FLOAT_EQ(ApproxMagnitude(-1.0f, -3.0f), 3.414214f);
    EXPECT_FLOAT_EQ(ApproxMagnitude(2.0f, 2.0f), 2.828428f);
    EXPECT_FLOAT_EQ(ApproxMagnitude(0.0f, 0.0f), 0.0f);
}

TEST(ReceiverTables, ConstellationSetsAsListed) {
    const float first[8] = {0.38268f, 0.92388f, 0.92388f, 0.38268f, -0.38268f, -0.92388f, -0.92388f, -0.38268f};
    const float second[8] = {0.92388f, 0.38268f, -0.38268f, -0.92388f, -0.92388f, -0.38268f, 0.38268f, 0.92388f};
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(kDecisionSet8.re[static_cast<std::size_t>(k)], first[k]);
        EXPECT_EQ(kDecisionSet8.im[static_cast<std::size_t>(k)], second[k]);
        // Point k sits at 67.5 - 45 k degrees.
        const double angle = (67.5 - 45.0 * k) * M_PI / 180.0;
        EXPECT_NEAR(kDecisionSet8.re[static_cast<std::size_t>(k)], std::cos(angle), 1e-5);
        EXPECT_NEAR(kDecisionSet8.im[static_cast<std::size_t>(k)], std::sin(angle), 1e-5);
    }
    EXPECT_EQ(kDecisionSet4.re[1], 0.7071f);
    EXPECT_EQ(kDecisionSet4.im[1], -0.7071f);
    EXPECT_EQ(kDecisionSet2.re[1], -1.0f);
}

TEST(ReceiverTables, Decide8PskSectors) {
    for (int m = 0; m < 8; ++m) {
        for (double delta : {-22.0, -10.0, 0.0, 10.0, 22.0}) {
            const double angle = (67.5 - 45.0 * m + delta) * M_PI / 180.0;
            EXPECT_EQ(Decide8Psk(static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle))), m)
                << "m " << m << " delta " << delta;
        }
    }
    // QPSK and BPSK decisions reuse the sectors: quadrants and half planes.
    EXPECT_EQ(Decide8Psk(0.7f, 0.7f) >> 1, 0);
    EXPECT_EQ(Decide8Psk(0.7f, -0.7f) >> 1, 1);
    EXPECT_EQ(Decide8Psk(-0.7f, -0.7f) >> 1, 2);
    EXPECT_EQ(Decide8Psk(-0.7f, 0.7f) >> 1, 3);
    EXPECT_EQ(Decide8Psk(0.1f, -0.9f) >> 2, 0);
    EXPECT_EQ(Decide8Psk(-0.1f, 0.9f) >> 2, 1);
    // Zero and NaN count as "not greater than zero".
    EXPECT_EQ(Decide8Psk(0.0f, 0.0f), 4);
    EXPECT_EQ(Decide8Psk(std::nanf(""), std::nanf("")), 4);
}

TEST(ReceiverTables, SnrMapNearestEntryTiesGoLow) {
    const SnrMap map;
    for (int i = 0; i < SnrMap::kEntries; ++i)
        EXPECT_EQ(map.SnrFromError(SnrMap::kRatios[static_cast<std::size_t>(i)]), -5.0f + static_cast<float>(i)) << i;
    EXPECT_EQ(map.SnrFromError(0.95f), -5.0f);
    EXPECT_EQ(map.SnrFromError(5.0f), -5.0f);
    EXPECT_EQ(map.SnrFromError(0.019f), 35.0f);
    EXPECT_EQ(map.SnrFromError(0.0f), 35.0f);
    EXPECT_EQ(map.SnrFromError(std::nanf("")), -5.0f);
    for (int i = 0; i + 1 < SnrMap::kEntries; ++i) {
        const float mid = map.Midpoint(i);
        EXPECT_EQ(map.SnrFromError(mid), -5.0f + static_cast<float>(i)) << "tie at " << i;
        EXPECT_EQ(map.SnrFromError(std::nextafter(mid, 0.0f)), -4.0f + static_cast<float>(i)) << i;
    }
    EXPECT_EQ(map.SnrFromError(0.021f), 34.0f);   // nearer 0.022 (34 dB) than 0.02
    EXPECT_EQ(map.SnrFromError(0.12f), 18.0f);
}

TEST(ReceiverTables, PreambleSymbolTableTrainsOnTheSentSymbol) {
    const SymbolTable table = BuildPreambleSymbolTable();
    for (int i = 128; i < 288; ++i) EXPECT_EQ(table[static_cast<std::size_t>(i)], -1) << i;
    // Entry 0 is segment position 160: the second pattern-3 block, element 0 = 7; element 9 is
    // this system's changed element, 0.
    EXPECT_EQ(table[0], 7);
    EXPECT_EQ(table[9], 0);
    EXPECT_EQ(table[320], kChannelSymbolPatterns[0][0]);  // position 0: first pattern-0 block
    for (int i = 0; i < kFrameLength; ++i) {
        if (table[static_cast<std::size_t>(i)] < 0) continue;
        const int position = (i + 160) % kFrameLength;
        const auto segment = PreambleSegment(6, 4, 0);
        const int pattern = segment[static_cast<std::size_t>(position / 32)];
        EXPECT_EQ(table[static_cast<std::size_t>(i)], kChannelSymbolPatterns[static_cast<std::size_t>(pattern)][static_cast<std::size_t>(position % 32)]);
    }
}

TEST(ReceiverTables, FrameTablesFollowTheScrambler) {
    DataScrambler scrambler;
    std::array<int, kFrameLength> c{};
    for (int& v : c) v = scrambler.Next();
    ASSERT_EQ(c[0], 0);
    ASSERT_EQ(c[1], 2);
    const SymbolTable t16 = BuildFrameSymbolTable(FrameLayout::Known16);
    const SymbolTable t20 = BuildFrameSymbolTable(FrameLayout::Known20);
    const SymbolTable t1 = BuildFrameSymbolTable(FrameLayout::Known1);
    EXPECT_EQ(t16[0], 256);
    EXPECT_EQ(t16[1], 258);
    EXPECT_EQ(t16[31], 256 + c[31]);
    EXPECT_EQ(t16[32], c[32]);
    EXPECT_EQ(t16[47], c[47]);
    EXPECT_EQ(t16[48], 256 + c[48]);
    EXPECT_EQ(t20[19], 256 + c[19]);
    EXPECT_EQ(t20[20], c[20]);
    EXPECT_EQ(t1[0], c[0]);
    EXPECT_EQ(t1[1], 256 + c[1]);
    EXPECT_EQ(t1[4], c[4]);
    // Period 160: the three thirds of a frame repeat.
    for (int p = 0; p < 160; ++p) {
        EXPECT_EQ(c[static_cast<std::size_t>(p)], c[static_cast<std::size_t>(p + 160)]);
        EXPECT_EQ(c[static_cast<std::size_t>(p)], c[static_cast<std::size_t>(p + 320)]);
    }
}

TEST(ReceiverTables, LastFrameTablesCarryTheProbes) {
    const FrameTables tables;
    for (int d1 = 4; d1 < 8; ++d1) {
        for (int d2 = 4; d2 < 8; ++d2) {
            const FrameLayout layout = SelectDataMode(d1, d2).layout;
            const SymbolTable& normal = tables.Normal(layout);
            const SymbolTable& last = tables.Last(d1, d2);
            for (int p = 0; p < 417; ++p) ASSERT_EQ(last[static_cast<std::size_t>(p)], normal[static_cast<std::size_t>(p)]);
            if (layout == FrameLayout::Known1) {
                EXPECT_EQ(last, normal);
                continue;
            }
            const int first = layout == FrameLayout::Known16 ? 416 : 420;
            const int second = layout == FrameLayout::Known16 ? 464 : 460;
            for (int k = 0; k < 16; ++k) {
                const auto a = static_cast<std::size_t>(first + k);
                const auto b = static_cast<std::size_t>(second + k);
                EXPECT_EQ(last[a], (normal[a] + kProbePatterns[static_cast<std::size_t>(d1)][static_cast<std::size_t>(k)]) % 8);
                EXPECT_EQ(last[b], (normal[b] + kProbePatterns[static_cast<std::size_t>(d2)][static_cast<std::size_t>(k)]) % 8);
            }
            if (layout == FrameLayout::Known20) {
                for (int k = 476; k < 480; ++k) EXPECT_EQ(last[static_cast<std::size_t>(k)], normal[static_cast<std::size_t>(k)]);
            }
        }
    }
}

TEST(ReceiverTables, DataModeSelectionCoversEveryPair) {
    for (int d1 = 4; d1 < 8; ++d1) {
        for (int d2 = 4; d2 < 8; ++d2) {
            const DataModeSelection sel = SelectDataMode(d1, d2);
            const auto mode = ModeFromPreamble(d1, d2);
            if (!mode) {
                EXPECT_EQ(sel.mode, -1) << d1 << "," << d2;
                EXPECT_EQ(sel.frames_per_block, 3);
                continue;
            }
            EXPECT_EQ(sel.mode, *mode);
            const DataModeInfo& info = ModeInfo(*mode);
            EXPECT_EQ(sel.frames_per_block, info.long_interleave ? 24 : 3) << *mode;
            const int frame = info.data_symbols + info.known_symbols;
            EXPECT_EQ(sel.layout, frame == 48 ? FrameLayout::Known16 : frame == 40 ? FrameLayout::Known20 : FrameLayout::Known1);
            const Modulation expected = info.modulation == Modulation::Uncoded8  ? Modulation::Psk8
                                        : info.modulation == Modulation::Bpsk75 ? Modulation::Bpsk
                                                                                : info.modulation;
            EXPECT_EQ(sel.decisions, expected) << *mode;
        }
    }
}

TEST(ReceiverTables, PreambleReferenceBanksTurnSixtyHertz) {
    for (const ReceiverProfile* profile : {&kReceiverProfileType0, &kReceiverProfileType1}) {
        const SineTable sine;
        auto ref = std::make_unique<PreambleReference>(sine, profile->bank_rotation_step);
        // 60 Hz at the type's symbol rate.
        EXPECT_FLOAT_EQ(static_cast<float>(profile->bank_rotation_step) / 4000.0f * profile->symbol_rate, 60.0f);
        const double step = 2.0 * M_PI * profile->bank_rotation_step / 4000.0;
        for (int pattern = 0; pattern < 8; ++pattern) {
            for (int i = 0; i < kBlockSymbols; ++i) {
                const auto r = static_cast<std::size_t>(i);
                const int s = kChannelSymbolPatterns[static_cast<std::size_t>(pattern)][r];
                const std::complex<double> z(ref->c[r][static_cast<std::size_t>(pattern)], ref->d[r][static_cast<std::size_t>(pattern)]);
                const std::complex<double> y(ref->c[r][static_cast<std::size_t>(8 + pattern)], ref->d[r][static_cast<std::size_t>(8 + pattern)]);
                const std::complex<double> x(ref->c[r][static_cast<std::size_t>(16 + pattern)], ref->d[r][static_cast<std::size_t>(16 + pattern)]);
                EXPECT_NEAR(std::arg(z), std::arg(std::polar(1.0, (67.5 - 45.0 * s) * M_PI / 180.0)), 1e-4);
                EXPECT_NEAR(std::abs(y / z - std::polar(1.0, step * i)), 0.0, 2e-3);
                EXPECT_NEAR(std::abs(x / z - std::polar(1.0, -step * i)), 0.0, 2e-3);
            }
        }
    }
}

// The receiver's tables against the channel symbols the transmitter really sends.
class TablesAgainstTransmitter : public ::testing::TestWithParam<int> {};

TEST_P(TablesAgainstTransmitter, EverySymbolWhereTheTablesSayIt) {
    const int mode = GetParam();
    std::vector<int> symbols;
    auto tx = std::make_unique<SerialToneTransmitter>(TransmitProfile::Profile2400At48k);
    tx->SetSymbolTap([](void* ctx, int s) { static_cast<std::vector<int>*>(ctx)->push_back(s); }, &symbols);
    std::vector<std::uint8_t> message(DataBytesPerBlock(mode) + 10, 0x5A);  // two blocks
    std::vector<std::int16_t> samples(SerialToneTransmitter::SamplesNeeded(TransmitProfile::Profile2400At48k, mode, message.size(), 48000));
    std::uint32_t count = 0;
    tx->Transmit(message, 1800, 48000, mode, samples, count);

    const FrameTables tables;
    const int preamble = PreambleSymbols(mode);
    ASSERT_EQ(static_cast<int>(symbols.size()), preamble + 2 * BlockSymbols(mode));
    for (int k = 0; k < preamble; ++k) {
        const int index = ((k % kFrameLength) - 160 + kFrameLength) % kFrameLength;
        const int expected = tables.preamble[static_cast<std::size_t>(index)];
        if (expected >= 0) {
            ASSERT_EQ(symbols[static_cast<std::size_t>(k)], expected) << "preamble symbol " << k;
        }
    }
    const DataModeInfo& info = ModeInfo(mode);
    const DataModeSelection sel = SelectDataMode(info.d1, info.d2);
    const int frames = BlockSymbols(mode) / kFrameLength;
    for (int k = 0; k < 2 * BlockSymbols(mode); ++k) {
        const int frame = (k / kFrameLength) % frames;
        const SymbolTable& table = frame == frames - 1 ? tables.Last(info.d1, info.d2) : tables.Normal(sel.layout);
        const int t = table[static_cast<std::size_t>(k % kFrameLength)];
        const int sent = symbols[static_cast<std::size_t>(preamble + k)];
        if (t < kUnknownSymbol) {
            ASSERT_EQ(sent, t) << "known symbol " << k;
        } else {
            const int mapped = (sent - (t & 7) + 8) % 8;  // t = 256 + c
            if (info.modulation == Modulation::Bpsk) {
                ASSERT_TRUE(mapped == 0 || mapped == 4) << k;
            }
            if (info.modulation == Modulation::Qpsk) {
                ASSERT_EQ(mapped % 2, 0) << k;
            }
        }
    }
}

// The countdown as read from a long preamble in fast fading (2 ms / 5 Hz, 29 dB): two counts no
// preamble carries, two segments apart, then the true counts with one misread.  The mended run
// must follow the true counts down to 0; a lone misread inside a run is taken from its
// neighbours; a preamble caught at its last segment alone ends there.
TEST(ReceiverTables, SegmentCountsReachTheEndThroughMisreads) {
    auto run = [](std::initializer_list<int> reads) {
        SegmentCounts counts;
        std::vector<int> taken;
        for (const int r : reads) taken.push_back(counts.Add(r, 12));
        return taken;
    };
    EXPECT_EQ(run({42, 9, 40, 7, 6, 5, 4, 1, 2, 1, 0}), (std::vector<int>{42, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}));
    EXPECT_EQ(run({5, 4, 9, 2, 1, 0}), (std::vector<int>{5, 4, 3, 2, 1, 0}));
    EXPECT_EQ(run({0}), (std::vector<int>{0}));
    EXPECT_EQ(run({3, 60, 1, 0}), (std::vector<int>{3, 2, 1, 0}));
    // A short preamble on flutter: its first two counts misread (53, and 12, which no preamble
    // carries either), then one more in a fade.  What stands in for that one proves no run with
    // the misread before it, so the true counts after it are taken.
    EXPECT_EQ(run({53, 12, 63, 2, 1, 0}), (std::vector<int>{53, 12, 63, 2, 1, 0}));
    EXPECT_EQ(run({53, 9, 63, 2, 1, 0}), (std::vector<int>{53, 9, 8, 2, 1, 0}));
    // A 0 found not to be a last segment falls back on the count before it.
    SegmentCounts counts;
    counts.Add(5, 12);
    ASSERT_EQ(counts.Add(0, 12), 0);
    counts.NotLast(12);
    EXPECT_EQ(counts.current(), 4);
    counts.Reset();
    counts.Add(0, 12);
    counts.NotLast(12);
    EXPECT_EQ(counts.current(), SegmentCounts::kNone);
}

INSTANTIATE_TEST_SUITE_P(TransmittedModes, TablesAgainstTransmitter, ::testing::Range(0, 6));

}  // namespace
}  // namespace kavra::modem
