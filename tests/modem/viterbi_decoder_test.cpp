#include "modem/decoder/viterbi_decoder.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "modem/common/convolutional_code.h"

namespace kavra::modem {
namespace {

// The decoder written out the plain way: float decisions per state and slot, a 65-state
// traceback path, candidates as metric + a*e1 + b*e2.  The real one keeps only the decision
// signs and must return the same results, stale slots after a reset included.
class ReferenceViterbi {
public:
    ReferenceViterbi() {
        for (int b = 0; b < 2; ++b)
            for (int s = 0; s < 64; ++s) {
                const unsigned reg = static_cast<unsigned>(2 * s + b);
                table_[b][s] = (CodeParity(reg & 0x5Bu) << 1) | CodeParity(reg & 0x79u);
            }
    }
    void Reset() {
        metric_.fill(0.0f);
        t_ = 0;
    }
    float Step(float a, float b) {
        std::array<float, 64> next{};
        for (int s = 0; s < 64; ++s) {
            float m[2];
            for (int bb = 0; bb < 2; ++bb) {
                const int p = (2 * s + bb) % 64;
                const float e1 = (table_[bb][s] & 2) ? -1.0f : 1.0f;
                const float e2 = (table_[bb][s] & 1) ? -1.0f : 1.0f;
                m[bb] = metric_[p] + a * e1 + b * e2;
            }
            decision_[s][t_] = m[0] - m[1];
            next[s] = m[0] >= m[1] ? m[0] : m[1];
        }
        float largest = next[0];
        for (int s = 0; s < 64; ++s) largest = std::max(largest, next[s]);
        int best = 0;
        for (int s = 0; s < 64; ++s)
            if (next[s] >= largest) best = s;
        metric_ = next;
        std::array<int, 65> path{};
        path[0] = best;
        for (int k = 0; k < 64; ++k) {
            const int slot = ((t_ - k) % 64 + 64) % 64;
            const int s = path[k];
            path[k + 1] = decision_[s][slot] > 0.0f ? (2 * s) % 64 : (2 * s + 1) % 64;
        }
        t_ = (t_ + 1) % 64;
        return path[64] < 32 ? 1.0f : -1.0f;
    }

private:
    int table_[2][64]{};
    std::array<float, 64> metric_{};
    float decision_[64][64]{};
    int t_ = 0;
};

TEST(ViterbiDecoderTest, OutputTablesFollowTheEncoderKnownAnswer) {
    // Fed 1 0 0 0 0 0 0 from zero, the encoder sends 11 01 11 11 00 10 11; after input n the
    // register holds the single 1 at bit 6 - n, i.e. state 32 >> n from an even predecessor,
    // and finally state 0 from the odd predecessor 1.
    const ViterbiDecoder v;
    const int expected[7] = {3, 1, 3, 3, 0, 2, 3};
    for (int n = 0; n < 6; ++n) EXPECT_EQ(v.OutputBits(0, 32 >> n), expected[n]) << n;
    EXPECT_EQ(v.OutputBits(1, 0), expected[6]);
    // The whole table against the encoder itself.
    for (int b = 0; b < 2; ++b)
        for (int s = 0; s < 64; ++s) {
            ConvolutionalEncoder enc;
            const unsigned reg = static_cast<unsigned>(2 * s + b);
            ConvolutionalEncoder::CodePair pair{};
            for (int k = 0; k < 7; ++k) pair = enc.Encode(static_cast<int>((reg >> k) & 1u));
            EXPECT_EQ(v.OutputBits(b, s), (pair.first << 1) | pair.second) << b << " " << s;
        }
}

TEST(ViterbiDecoderTest, ZeroInputsTieToTheOddPredecessorAndGiveOnes) {
    ViterbiDecoder v;
    for (int i = 0; i < 300; ++i) ASSERT_EQ(v.Step(0.0f, 0.0f), -1.0f) << i;
}

TEST(ViterbiDecoderTest, ReturnsTheBitSixtyFourStepsBack) {
    std::mt19937 rng(7);
    std::vector<int> bits(1000);
    for (auto& b : bits) b = static_cast<int>(rng() & 1u);
    ConvolutionalEncoder enc;
    ViterbiDecoder v;
    for (std::size_t i = 0; i < bits.size(); ++i) {
        const auto pair = enc.Encode(bits[i]);
        const float r = v.Step(pair.first ? -1.0f : 1.0f, pair.second ? -1.0f : 1.0f);
        if (i >= 64) {
            ASSERT_EQ(r, bits[i - 64] ? -1.0f : 1.0f) << i;
        }
    }
}

// Inputs that stress the exact rules: many ties (small integers), plain noise, mixed scales
// whose sums round, and values large enough that metrics lose low bits.
enum class InputKind { SmallIntegers, Gaussian, MixedScales, Large };

class ViterbiIdentityTest : public ::testing::TestWithParam<InputKind> {};

TEST_P(ViterbiIdentityTest, MatchesThePlainDecoderAtEveryStepAcrossResets) {
    std::mt19937 rng(static_cast<unsigned>(GetParam()) * 101u + 5u);
    std::uniform_int_distribution<int> small(-2, 2);
    std::normal_distribution<float> gauss(0.3f, 1.0f);
    std::uniform_real_distribution<float> exponent(-6.0f, 6.0f);
    auto draw = [&]() -> float {
        switch (GetParam()) {
            case InputKind::SmallIntegers: return static_cast<float>(small(rng));
            case InputKind::Gaussian: return gauss(rng);
            case InputKind::MixedScales: return gauss(rng) * std::exp2(exponent(rng));
            case InputKind::Large: return gauss(rng) * 1500.0f;
        }
        return 0.0f;
    };
    ViterbiDecoder fast;
    ReferenceViterbi plain;
    std::uniform_int_distribution<int> length(1, 700);
    for (int block = 0; block < 12; ++block) {
        fast.Reset();
        plain.Reset();
        const int n = length(rng);
        for (int i = 0; i < n; ++i) {
            const float a = draw();
            const float b = draw();
            ASSERT_EQ(fast.Step(a, b), plain.Step(a, b)) << "block " << block << " step " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, ViterbiIdentityTest,
                         ::testing::Values(InputKind::SmallIntegers, InputKind::Gaussian,
                                           InputKind::MixedScales, InputKind::Large));

TEST(ViterbiDecoderTest, OnlyTheFirstSixtyFourResultsAfterResetDependOnTheHistory) {
    std::mt19937 rng(3);
    std::normal_distribution<float> gauss(0.0f, 1.0f);
    std::vector<float> input(600);
    for (auto& x : input) x = gauss(rng);
    ViterbiDecoder fresh;
    ViterbiDecoder used;
    for (int i = 0; i < 77; ++i) used.Step(gauss(rng), gauss(rng));
    used.Reset();
    int differing_early = 0;
    for (std::size_t i = 0; i < input.size(); i += 2) {
        const float a = fresh.Step(input[i], input[i + 1]);
        const float b = used.Step(input[i], input[i + 1]);
        if (i / 2 >= 64) {
            ASSERT_EQ(a, b) << i / 2;
        } else {
            differing_early += a != b;
        }
    }
    // The history is really kept: some early results come from the previous run's slots.
    EXPECT_GT(differing_early, 0);
}

TEST(ViterbiDecoderTest, NonFiniteInputsStaySafeAndResetRecovers) {
    ViterbiDecoder v;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float x : {nan, inf, -inf, nan}) {
        const float r = v.Step(x, -x);
        EXPECT_TRUE(r == 1.0f || r == -1.0f);
    }
    v.Reset();
    ConvolutionalEncoder enc;
    for (int i = 0; i < 200; ++i) {
        const auto pair = enc.Encode(i % 3 == 0);
        const float r = v.Step(pair.first ? -1.0f : 1.0f, pair.second ? -1.0f : 1.0f);
        if (i >= 64) {
            ASSERT_EQ(r, (i - 64) % 3 == 0 ? -1.0f : 1.0f) << i;
        }
    }
}

}  // namespace
}  // namespace kavra::modem
