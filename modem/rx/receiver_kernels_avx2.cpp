// The AVX2 kernel set: eight matrix columns (or correlator references) per instruction where
// the sums run per column, two rows side by side where they run along a row, so every value
// is summed in the same order as in the portable set.  No fused multiply-add: it would round
// differently.  Chosen at run time on processors that have AVX2.
#include "modem/rx/receiver_kernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#define KAVRA_AVX2 __attribute__((target("avx2")))

namespace kavra::modem {

namespace {

constexpr int kN = kEqualizerTaps;
constexpr int kS = kEqualizerStride;
constexpr int kWide = kS / 8;    // 6 groups of eight columns; 44..47 are zero padding
constexpr int kGroups = kN / 4;  // 11 groups of four columns along a row
constexpr float kForgetting = 0.992999f;

// (l0 + l2) + (l1 + l3) of a four-lane sum, the portable set's order.
KAVRA_AVX2 inline float HorizontalSum(__m128 v) noexcept {
    const __m128 pairs = _mm_add_ps(v, _mm_movehl_ps(v, v));
    return _mm_cvtss_f32(_mm_add_ss(pairs, _mm_shuffle_ps(pairs, pairs, 0x55)));
}

KAVRA_AVX2 void Avx2Gain(RlsState& st) noexcept {
    // Padding columns of P and x are zero, so u[44..47] stays zero as in the portable set.
    __m256 ur[kWide];
    __m256 ui[kWide];
    for (int g = 0; g < kWide; ++g) {
        ur[g] = _mm256_setzero_ps();
        ui[g] = _mm256_setzero_ps();
    }
    for (int i = 0; i < kN; ++i) {
        const __m256 xr = _mm256_set1_ps(st.x_re[static_cast<std::size_t>(i)]);
        const __m256 xi = _mm256_set1_ps(st.x_im[static_cast<std::size_t>(i)]);
        const float* pr = st.p_re.data() + i * kS;
        const float* pi = st.p_im.data() + i * kS;
        for (int g = 0; g < kWide; ++g) {
            const __m256 a = _mm256_load_ps(pr + 8 * g);
            const __m256 b = _mm256_load_ps(pi + 8 * g);
            ur[g] = _mm256_add_ps(ur[g], _mm256_add_ps(_mm256_mul_ps(a, xr), _mm256_mul_ps(b, xi)));
            ui[g] = _mm256_add_ps(ui[g], _mm256_sub_ps(_mm256_mul_ps(a, xi), _mm256_mul_ps(b, xr)));
        }
    }
    for (int g = 0; g < kWide; ++g) {
        _mm256_store_ps(st.u_re.data() + 8 * g, ur[g]);
        _mm256_store_ps(st.u_im.data() + 8 * g, ui[g]);
    }
    st.UpdateAlpha();
}

KAVRA_AVX2 void Avx2Row(RlsState& st) noexcept {
    const float dr = kForgetting + st.alpha_re;
    const float di = st.alpha_im;
    const float inv = 1.0f / (dr * dr + di * di);
    // Rows i (low half) and i + 1 (high half) together, four partial sums each.
    for (int i = 0; i < kN; i += 2) {
        const float* pr = st.p_re.data() + i * kS;
        const float* pi = st.p_im.data() + i * kS;
        __m256 vr = _mm256_setzero_ps();
        __m256 vi = _mm256_setzero_ps();
        for (int g = 0; g < kGroups; ++g) {
            const __m256 a = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_load_ps(pr + 4 * g)), _mm_load_ps(pr + kS + 4 * g), 1);
            const __m256 b = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_load_ps(pi + 4 * g)), _mm_load_ps(pi + kS + 4 * g), 1);
            const __m256 xr = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(st.x_re.data() + 4 * g));
            const __m256 xi = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(st.x_im.data() + 4 * g));
            vr = _mm256_add_ps(vr, _mm256_sub_ps(_mm256_mul_ps(a, xr), _mm256_mul_ps(b, xi)));
            vi = _mm256_add_ps(vi, _mm256_add_ps(_mm256_mul_ps(a, xi), _mm256_mul_ps(b, xr)));
        }
        for (int half = 0; half < 2; ++half) {
            const float sr = HorizontalSum(half == 0 ? _mm256_castps256_ps128(vr) : _mm256_extractf128_ps(vr, 1));
            const float si = HorizontalSum(half == 0 ? _mm256_castps256_ps128(vi) : _mm256_extractf128_ps(vi, 1));
            st.k_re[static_cast<std::size_t>(i + half)] = (sr * dr + si * di) * inv;
            st.k_im[static_cast<std::size_t>(i + half)] = (si * dr - sr * di) * inv;
        }
    }
}

KAVRA_AVX2 void Avx2Covariance(RlsState& st, float g) noexcept {
    // Padding columns stay zero: P, u there are zero.
    const __m256 gain = _mm256_set1_ps(g);
    for (int i = 0; i < kN; ++i) {
        const __m256 kr = _mm256_set1_ps(st.k_re[static_cast<std::size_t>(i)]);
        const __m256 ki = _mm256_set1_ps(st.k_im[static_cast<std::size_t>(i)]);
        float* pr = st.p_re.data() + i * kS;
        float* pi = st.p_im.data() + i * kS;
        for (int c = 0; c < kWide; ++c) {
            const __m256 ur = _mm256_load_ps(st.u_re.data() + 8 * c);
            const __m256 ui = _mm256_load_ps(st.u_im.data() + 8 * c);
            const __m256 tr = _mm256_add_ps(_mm256_mul_ps(kr, ur), _mm256_mul_ps(ki, ui));
            const __m256 ti = _mm256_sub_ps(_mm256_mul_ps(ki, ur), _mm256_mul_ps(kr, ui));
            _mm256_store_ps(pr + 8 * c, _mm256_mul_ps(gain, _mm256_sub_ps(_mm256_load_ps(pr + 8 * c), tr)));
            _mm256_store_ps(pi + 8 * c, _mm256_mul_ps(gain, _mm256_sub_ps(_mm256_load_ps(pi + 8 * c), ti)));
        }
    }
}

KAVRA_AVX2 void Avx2Tap(RlsState& st, Complex e) noexcept {
    const __m256 er = _mm256_set1_ps(e.re);
    const __m256 ei = _mm256_set1_ps(e.im);
    for (int c = 0; c < kWide; ++c) {
        const __m256 kr = _mm256_load_ps(st.k_re.data() + 8 * c);
        const __m256 ki = _mm256_load_ps(st.k_im.data() + 8 * c);
        float* wr = st.w_re.data() + 8 * c;
        float* wi = st.w_im.data() + 8 * c;
        _mm256_store_ps(wr, _mm256_add_ps(_mm256_load_ps(wr), _mm256_add_ps(_mm256_mul_ps(kr, er), _mm256_mul_ps(ki, ei))));
        _mm256_store_ps(wi, _mm256_add_ps(_mm256_load_ps(wi), _mm256_sub_ps(_mm256_mul_ps(ki, er), _mm256_mul_ps(kr, ei))));
    }
}

KAVRA_AVX2 void Avx2Correlate(const float* a, const float* b, const PreambleReference& ref, CorrelatorSums& out) noexcept {
    constexpr int kRefGroups = kCorrelatorRefs / 8;  // 3
    __m256 p[kRefGroups];
    __m256 q[kRefGroups];
    for (int g = 0; g < kRefGroups; ++g) {
        p[g] = _mm256_setzero_ps();
        q[g] = _mm256_setzero_ps();
    }
    for (int i = 0; i < kBlockSymbols; ++i) {
        const __m256 ai = _mm256_set1_ps(a[i]);
        const __m256 bi = _mm256_set1_ps(b[i]);
        const float* c = ref.c[static_cast<std::size_t>(i)].data();
        const float* d = ref.d[static_cast<std::size_t>(i)].data();
        for (int g = 0; g < kRefGroups; ++g) {
            const __m256 cv = _mm256_loadu_ps(c + 8 * g);
            const __m256 dv = _mm256_loadu_ps(d + 8 * g);
            p[g] = _mm256_add_ps(p[g], _mm256_add_ps(_mm256_mul_ps(ai, cv), _mm256_mul_ps(bi, dv)));
            q[g] = _mm256_add_ps(q[g], _mm256_sub_ps(_mm256_mul_ps(ai, dv), _mm256_mul_ps(bi, cv)));
        }
    }
    for (int g = 0; g < kRefGroups; ++g) {
        _mm256_storeu_ps(out.p.data() + 8 * g, p[g]);
        _mm256_storeu_ps(out.q.data() + 8 * g, q[g]);
    }
}

constexpr ReceiverKernels kAvx2{"avx2", Avx2Gain, Avx2Row, Avx2Covariance, Avx2Tap, Avx2Correlate};

}  // namespace

const ReceiverKernels* detail::Avx2KernelsOrNull() noexcept {
    return __builtin_cpu_supports("avx2") ? &kAvx2 : nullptr;
}

}  // namespace kavra::modem

#else

namespace kavra::modem {
const ReceiverKernels* detail::Avx2KernelsOrNull() noexcept { return nullptr; }
}  // namespace kavra::modem

#endif
