// Known answers for the tables every station must share.
#include <gtest/gtest.h>

#include <vector>

#include "modem/common/channel_patterns.h"
#include "modem/common/convolutional_code.h"
#include "modem/common/data_scrambler.h"
#include "modem/common/interleaver.h"
#include "modem/common/lagrange_table.h"
#include "modem/common/mode_table.h"

namespace kavra::modem {
namespace {

TEST(ModeTable, PreambleRecognitionCoversEveryRowAndNothingElse) {
    const std::vector<std::tuple<int, int, int>> pairs{
        {6, 4, 0}, {4, 4, 1}, {6, 5, 2}, {4, 5, 3}, {6, 6, 4}, {4, 6, 5}, {6, 7, 6},
        {4, 7, 7}, {7, 4, 8}, {5, 4, 9}, {7, 5, 10}, {5, 5, 11}, {7, 6, 12}};
    for (auto [d1, d2, mode] : pairs) EXPECT_EQ(ModeFromPreamble(d1, d2), mode) << d1 << "," << d2;
    EXPECT_FALSE(ModeFromPreamble(7, 7));
    EXPECT_FALSE(ModeFromPreamble(5, 6));
    EXPECT_FALSE(ModeFromPreamble(5, 7));
    EXPECT_FALSE(ModeFromPreamble(0, 0));
}

TEST(ModeTable, NamesByModemType) {
    EXPECT_EQ(ModeName(0, 0), "2400 short");
    EXPECT_EQ(ModeName(5, 1), "500 long");
    EXPECT_EQ(ModeName(12, 0), "4800");
    for (int m = 6; m <= 12; ++m) EXPECT_EQ(ModeName(m, 1), "") << m;
    EXPECT_EQ(ModeName(13, 0), "");
    EXPECT_EQ(ModeName(-1, 0), "");
}

TEST(ModeTable, DerivedSizesAgree) {
    const int bytes[6] = {180, 1440, 90, 720, 45, 360};
    const int columns[6] = {72, 576, 36, 288, 18, 144};
    for (int m = 0; m < 6; ++m) {
        EXPECT_EQ(DataBytesPerBlock(m), bytes[m]);
        EXPECT_EQ(ModeInfo(m).columns, columns[m]);
    }
    for (int m = 0; m < 10; ++m) {
        const auto& r = ModeInfo(m);
        EXPECT_EQ(CodedBitsPerBlock(m), 2 * r.repeats * r.data_bits_per_block) << m;
        // A block always uses exactly rows x columns coded bits.
        EXPECT_EQ(BlockSymbols(m) / FrameSymbols(m) * r.data_symbols * r.bits_per_symbol,
                  CodedBitsPerBlock(m))
            << m;
        EXPECT_EQ(FramesPerBlock(m), m < 2 ? (r.long_interleave ? 240 : 30) : (r.long_interleave ? 288 : 36));
    }
    EXPECT_EQ(DataRateBps(0, 0), 2400);
    EXPECT_EQ(DataRateBps(1, 1), 2000);
    EXPECT_EQ(DataRateBps(1, 5), 500);
    EXPECT_EQ(DataRateBps(0, 11), 75);
}

TEST(ModeTable, TransmissionLengths) {
    EXPECT_EQ(BlocksForMessage(0, 164), 2);  // T = 180 = B: a further zero block
    EXPECT_EQ(BlocksForMessage(0, 65), 1);
    EXPECT_EQ(BlocksForMessage(1, 11440), 8);
    EXPECT_EQ(BlocksForMessage(3, 0), 1);
    EXPECT_EQ(TransmissionSymbols(0, 65), 4320);
    EXPECT_EQ(TransmissionSymbols(1, 65), 5760 + 11520);
    EXPECT_EQ(TransmissionSymbols(1, 11440), 97920);
    EXPECT_EQ(TransmissionMillis(0, 0, 65), 1800);
    EXPECT_EQ(TransmissionMillis(1, 0, 65), 2160);
}

TEST(DataScrambler, FirstValuesAndPeriod) {
    DataScrambler s;
    const int first[16] = {0, 2, 4, 3, 3, 6, 4, 5, 7, 6, 7, 0, 5, 5, 4, 3};
    std::vector<int> values;
    for (int i = 0; i < 480; ++i) values.push_back(s.Next());
    for (int i = 0; i < 16; ++i) EXPECT_EQ(values[static_cast<std::size_t>(i)], first[i]) << i;
    for (int i = 160; i < 480; ++i) ASSERT_EQ(values[static_cast<std::size_t>(i)], values[static_cast<std::size_t>(i % 160)]) << i;
    // The sequence is not shorter than 160.
    bool shorter = false;
    for (int p = 1; p < 160 && !shorter; ++p)
        if (160 % p == 0) {
            bool same = true;
            for (int i = p; i < 160 && same; ++i) same = values[static_cast<std::size_t>(i)] == values[static_cast<std::size_t>(i - p)];
            shorter = same;
        }
    EXPECT_FALSE(shorter);
    s.Reset();
    EXPECT_EQ(s.Next(), 0);
    EXPECT_EQ(s.Next(), 2);
}

TEST(DataScrambler, ResetInTheMiddleRestartsTheSequence) {
    DataScrambler a;
    for (int i = 0; i < 77; ++i) a.Next();
    a.Reset();
    DataScrambler b;
    for (int i = 0; i < 200; ++i) ASSERT_EQ(a.Next(), b.Next()) << i;
}

TEST(ConvolutionalEncoder, ImpulseResponse) {
    ConvolutionalEncoder e;
    const int input[7] = {1, 0, 0, 0, 0, 0, 0};
    const int expected[14] = {1, 1, 0, 1, 1, 1, 1, 1, 0, 0, 1, 0, 1, 1};
    for (int n = 0; n < 7; ++n) {
        auto p = e.Encode(input[n]);
        EXPECT_EQ(p.first, expected[2 * n]) << n;
        EXPECT_EQ(p.second, expected[2 * n + 1]) << n;
    }
}

TEST(ChannelPatterns, PatternThreeHasItsOneException) {
    const std::uint8_t pattern3[32] = {7, 0, 7, 0, 5, 5, 1, 0, 2, 0, 5, 1, 5, 3, 0, 3,
                                       5, 4, 6, 6, 2, 5, 2, 2, 0, 4, 1, 0, 5, 6, 2, 6};
    for (int i = 0; i < 32; ++i) EXPECT_EQ(kChannelSymbolPatterns[3][static_cast<std::size_t>(i)], pattern3[i]) << i;
    // By the rule alone element 9 would be 6; no other element differs from the rule.
    for (int i = 0; i < 32; ++i) {
        const int by_rule = (detail::kBasePatterns[3][static_cast<std::size_t>(i % 8)] + detail::kPreambleScrambling[static_cast<std::size_t>(i)]) % 8;
        if (i == 9) EXPECT_EQ(by_rule, 6);
        else EXPECT_EQ(pattern3[i], by_rule) << i;
    }
    EXPECT_EQ(kChannelSymbolPatterns[0][0], 7);
    EXPECT_EQ(kChannelSymbolPatterns[7][1], 0);  // 4 + 4
    // Probe pattern 3 is plain 0 4 4 0 with no exception.
    for (int i = 0; i < 16; ++i) EXPECT_EQ(kProbePatterns[3][static_cast<std::size_t>(i)], (i % 4 == 1 || i % 4 == 2) ? 4 : 0);
}

TEST(ChannelPatterns, PreambleSegmentCountdown) {
    auto seg = PreambleSegment(4, 5, 11);
    const std::uint8_t expected[15] = {0, 1, 3, 0, 1, 3, 1, 2, 0, 4, 5, 4, 6, 7, 0};
    for (int i = 0; i < 15; ++i) EXPECT_EQ(seg[static_cast<std::size_t>(i)], expected[i]) << i;
    auto last = PreambleSegment(6, 4, 0);
    EXPECT_EQ(last[11], 4);
    EXPECT_EQ(last[12], 4);
    EXPECT_EQ(last[13], 4);
}

TEST(Interleaver, FetchOrderFollowsTheLoadAndFetchRules) {
    // Build the matrix literally and compare with the permutation for every interleaved mode.
    FetchOrderTable table;
    for (int m = 0; m < 12; ++m) {
        const auto g = InterleaverGeometry::ForMode(m);
        std::vector<int> matrix(static_cast<std::size_t>(g.size()), -1);
        int load = 0;
        for (int c = 0; c < g.columns; ++c) {
            int r = 0;
            for (int i = 0; i < g.rows; ++i) {
                matrix[static_cast<std::size_t>(r * g.columns + c)] = load++;
                r = (r + g.row_step) % g.rows;
            }
        }
        auto order = table.ForMode(m);
        ASSERT_EQ(order.size(), static_cast<std::size_t>(g.size()));
        std::size_t f = 0;
        for (int p = 0; p < g.columns; ++p) {
            int c = p;
            for (int r = 0; r < g.rows; ++r) {
                ASSERT_EQ(order[f++], matrix[static_cast<std::size_t>(r * g.columns + c)]) << "mode " << m;
                c = (c - g.column_step % g.columns + g.columns) % g.columns;
            }
        }
    }
    EXPECT_TRUE(table.ForMode(12).empty());
}

TEST(LagrangeTable, RowsInterpolatePolynomialsExactly) {
    LagrangeTable t;
    // Row 100 sits at t ~ 0: all weight on the middle node.
    EXPECT_NEAR(t[100][3], 1.0f, 1e-3f);
    for (int k = 0; k < LagrangeTable::kRows; k += 7) {
        float sum = 0, first_moment = 0;
        for (int d = 0; d < 7; ++d) {
            sum += t[k][static_cast<std::size_t>(d)];
            first_moment += t[k][static_cast<std::size_t>(d)] * static_cast<float>(d - 3);
        }
        const float tk = -1.0001f + 0.01f * static_cast<float>(k + 1);
        EXPECT_NEAR(sum, 1.0f, 1e-5f) << k;
        EXPECT_NEAR(first_moment, tk, 1e-4f) << k;
    }
}

}  // namespace
}  // namespace kavra::modem
