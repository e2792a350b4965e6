// The two kernel sets against each other (exactly equal) and against a naive double-precision
// reference (so they cannot share a mistake).
#include <gtest/gtest.h>

#include <complex>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "modem/rx/receiver_kernels.h"

namespace kavra::modem {
namespace {

using cd = std::complex<double>;

std::unique_ptr<RlsState> RandomState(std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    auto st = std::make_unique<RlsState>();
    for (int i = 0; i < kEqualizerTaps; ++i) {
        for (int j = 0; j < kEqualizerTaps; ++j) {
            st->p_re[static_cast<std::size_t>(i * kEqualizerStride + j)] = 0.05f * u(rng) + (i == j ? 0.5f : 0.0f);
            st->p_im[static_cast<std::size_t>(i * kEqualizerStride + j)] = 0.05f * u(rng);
        }
        const auto n = static_cast<std::size_t>(i);
        st->x_re[n] = u(rng);
        st->x_im[n] = u(rng);
        st->w_re[n] = 0.1f * u(rng);
        st->w_im[n] = 0.1f * u(rng);
        st->u_re[n] = u(rng);
        st->u_im[n] = u(rng);
        st->k_re[n] = 0.1f * u(rng);
        st->k_im[n] = 0.1f * u(rng);
    }
    st->alpha_re = 2.0f;
    st->alpha_im = 0.01f;
    return st;
}

cd P(const RlsState& st, int i, int j) {
    const auto n = static_cast<std::size_t>(i * kEqualizerStride + j);
    return {st.p_re[n], st.p_im[n]};
}
cd V(const RlsState::Vector& re, const RlsState::Vector& im, int i) {
    return {re[static_cast<std::size_t>(i)], im[static_cast<std::size_t>(i)]};
}

void ExpectSameState(const RlsState& a, const RlsState& b) {
    EXPECT_EQ(a.p_re, b.p_re);
    EXPECT_EQ(a.p_im, b.p_im);
    EXPECT_EQ(a.u_re, b.u_re);
    EXPECT_EQ(a.u_im, b.u_im);
    EXPECT_EQ(a.k_re, b.k_re);
    EXPECT_EQ(a.k_im, b.k_im);
    EXPECT_EQ(a.w_re, b.w_re);
    EXPECT_EQ(a.w_im, b.w_im);
    EXPECT_EQ(a.alpha_re, b.alpha_re);
    EXPECT_EQ(a.alpha_im, b.alpha_im);
}

class KernelSets : public ::testing::TestWithParam<KernelSet> {
protected:
    const ReceiverKernels& Set() const { return *Kernels(GetParam()); }
    void SetUp() override {
        if (Kernels(GetParam()) == nullptr) GTEST_SKIP() << "kernel set not available on this processor";
    }
};

TEST_P(KernelSets, GainIsPHermitianTimesX) {
    auto st = RandomState(1);
    auto ref = RandomState(1);
    Set().gain(*st);
    cd alpha = 0;
    for (int j = 0; j < kEqualizerTaps; ++j) {
        cd u = 0;
        for (int i = 0; i < kEqualizerTaps; ++i) u += std::conj(P(*ref, i, j)) * V(ref->x_re, ref->x_im, i);
        EXPECT_NEAR(std::abs(u - V(st->u_re, st->u_im, j)), 0.0, 1e-5) << j;
        alpha += std::conj(u) * V(ref->x_re, ref->x_im, j);
    }
    EXPECT_NEAR(std::abs(alpha - cd(st->alpha_re, st->alpha_im)), 0.0, 1e-4);
}

TEST_P(KernelSets, RowIsGain) {
    auto st = RandomState(2);
    auto ref = RandomState(2);
    Set().row(*st);
    const cd denom = 0.992999 + cd(ref->alpha_re, ref->alpha_im);
    for (int i = 0; i < kEqualizerTaps; ++i) {
        cd v = 0;
        for (int j = 0; j < kEqualizerTaps; ++j) v += P(*ref, i, j) * V(ref->x_re, ref->x_im, j);
        EXPECT_NEAR(std::abs(v / denom - V(st->k_re, st->k_im, i)), 0.0, 1e-5) << i;
    }
}

TEST_P(KernelSets, CovarianceUpdate) {
    auto st = RandomState(3);
    auto ref = RandomState(3);
    Set().covariance(*st, 1.00705f);
    for (int i = 0; i < kEqualizerTaps; ++i)
        for (int j = 0; j < kEqualizerTaps; ++j) {
            const cd want = 1.00705 * (P(*ref, i, j) - V(ref->k_re, ref->k_im, i) * std::conj(V(ref->u_re, ref->u_im, j)));
            ASSERT_NEAR(std::abs(want - P(*st, i, j)), 0.0, 1e-5) << i << "," << j;
        }
}

TEST_P(KernelSets, TapUpdate) {
    auto st = RandomState(4);
    auto ref = RandomState(4);
    const Complex e{0.3f, -0.2f};
    Set().tap(*st, e);
    for (int i = 0; i < kEqualizerTaps; ++i) {
        const cd want = V(ref->w_re, ref->w_im, i) + V(ref->k_re, ref->k_im, i) * std::conj(cd(e.re, e.im));
        EXPECT_NEAR(std::abs(want - V(st->w_re, st->w_im, i)), 0.0, 1e-6) << i;
    }
}

TEST_P(KernelSets, CorrelateMatchesNaiveSums) {
    const SineTable sine;
    auto ref = std::make_unique<PreambleReference>(sine, 100);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-2.0f, 2.0f);
    std::vector<float> a(32), b(32);
    for (int i = 0; i < 32; ++i) {
        a[static_cast<std::size_t>(i)] = u(rng);
        b[static_cast<std::size_t>(i)] = u(rng);
    }
    CorrelatorSums sums;
    Set().correlate(a.data(), b.data(), *ref, sums);
    for (int r = 0; r < kCorrelatorRefs; ++r) {
        double p = 0, q = 0;
        for (int i = 0; i < 32; ++i) {
            const double c = ref->c[static_cast<std::size_t>(i)][static_cast<std::size_t>(r)];
            const double d = ref->d[static_cast<std::size_t>(i)][static_cast<std::size_t>(r)];
            p += a[static_cast<std::size_t>(i)] * c + b[static_cast<std::size_t>(i)] * d;
            q += a[static_cast<std::size_t>(i)] * d - b[static_cast<std::size_t>(i)] * c;
        }
        EXPECT_NEAR(p, sums.p[static_cast<std::size_t>(r)], 1e-4) << r;
        EXPECT_NEAR(q, sums.q[static_cast<std::size_t>(r)], 1e-4) << r;
    }
}

std::string SetName(const ::testing::TestParamInfo<KernelSet>& p) {
    return p.param == KernelSet::Portable ? "Portable" : p.param == KernelSet::Sse2 ? "Sse2" : "Avx2";
}

INSTANTIATE_TEST_SUITE_P(EverySet, KernelSets, ::testing::ValuesIn(kAllKernelSets), SetName);

// Each SIMD set gives bit-identical results to the portable one over many updates in a row,
// as the receiver runs them.
class SimdAgainstPortable : public ::testing::TestWithParam<KernelSet> {};

TEST_P(SimdAgainstPortable, BitIdenticalOverAThousandUpdates) {
    const ReceiverKernels* simd = Kernels(GetParam());
    if (simd == nullptr) GTEST_SKIP() << "kernel set not available on this processor";
    auto a = RandomState(6);
    auto b = RandomState(6);
    a->ResetCovariance();
    b->ResetCovariance();
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int step = 0; step < 1000; ++step) {
        for (int i = 0; i < kEqualizerTaps; ++i) {
            const auto n = static_cast<std::size_t>(i);
            a->x_re[n] = b->x_re[n] = u(rng);
            a->x_im[n] = b->x_im[n] = u(rng);
        }
        const Complex e{0.1f * u(rng), 0.1f * u(rng)};
        for (RlsState* st : {a.get(), b.get()}) {
            const ReceiverKernels& k = st == a.get() ? PortableKernels() : *simd;
            k.gain(*st);
            k.row(*st);
            k.covariance(*st, step % 3 == 0 ? 1.01f : 1.00705f);
            k.tap(*st, e);
        }
        if (step % 100 == 0 && (a->p_re != b->p_re || a->w_re != b->w_re)) FAIL() << "sets differ at update " << step;
    }
    ExpectSameState(*a, *b);
    // The correlator as well.
    const SineTable sine;
    auto ref = std::make_unique<PreambleReference>(sine, 120);
    std::vector<float> re(32), im(32);
    for (int i = 0; i < 32; ++i) {
        re[static_cast<std::size_t>(i)] = u(rng);
        im[static_cast<std::size_t>(i)] = u(rng);
    }
    CorrelatorSums sp;
    CorrelatorSums ss;
    PortableKernels().correlate(re.data(), im.data(), *ref, sp);
    simd->correlate(re.data(), im.data(), *ref, ss);
    EXPECT_EQ(sp.p, ss.p);
    EXPECT_EQ(sp.q, ss.q);
}

INSTANTIATE_TEST_SUITE_P(SimdSets, SimdAgainstPortable, ::testing::Values(KernelSet::Sse2, KernelSet::Avx2), SetName);

TEST(KernelSelection, WidestSimdSetAndPortableFallback) {
    EXPECT_STREQ(PortableKernels().name, "portable");
    EXPECT_EQ(Kernels(KernelSet::Portable), &PortableKernels());
    if (Kernels(KernelSet::Avx2) != nullptr) EXPECT_EQ(&SimdKernels(), Kernels(KernelSet::Avx2));
    else if (Kernels(KernelSet::Sse2) != nullptr) EXPECT_EQ(&SimdKernels(), Kernels(KernelSet::Sse2));
    else EXPECT_EQ(&SimdKernels(), &PortableKernels());
    EXPECT_EQ(SimdKernelsAvailable(), &SimdKernels() != &PortableKernels());
}

}  // namespace
}  // namespace kavra::modem
