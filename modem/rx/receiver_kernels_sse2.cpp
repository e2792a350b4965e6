// The SSE2 kernel set: four matrix columns (or four correlator references) per instruction,
// summing in the same order as the portable set.
#include "modem/rx/receiver_kernels.h"

#if defined(__x86_64__) && defined(__SSE2__)
#include <emmintrin.h>

namespace kavra::modem {

namespace {

constexpr int kN = kEqualizerTaps;
constexpr int kS = kEqualizerStride;
constexpr int kGroups = kN / 4;  // 11 groups of four columns
constexpr float kForgetting = 0.992999f;

// (l0 + l2) + (l1 + l3), the portable set's order.
inline float HorizontalSum(__m128 v) noexcept {
    const __m128 pairs = _mm_add_ps(v, _mm_movehl_ps(v, v));                      // l0+l2, l1+l3
    const __m128 total = _mm_add_ss(pairs, _mm_shuffle_ps(pairs, pairs, 0x55));   // + (l1+l3)
    return _mm_cvtss_f32(total);
}

void Sse2Gain(RlsState& st) noexcept {
    // Column sums: lane j of u accumulates row after row.  Two passes of at most six column
    // groups keep the accumulators in registers.
    for (int first = 0; first < kGroups; first += 6) {
        const int last = first + 6 < kGroups ? first + 6 : kGroups;
        __m128 ur[6];
        __m128 ui[6];
        for (int g = 0; g < 6; ++g) {
            ur[g] = _mm_setzero_ps();
            ui[g] = _mm_setzero_ps();
        }
        for (int i = 0; i < kN; ++i) {
            const __m128 xr = _mm_set1_ps(st.x_re[static_cast<std::size_t>(i)]);
            const __m128 xi = _mm_set1_ps(st.x_im[static_cast<std::size_t>(i)]);
            const float* pr = st.p_re.data() + i * kS;
            const float* pi = st.p_im.data() + i * kS;
            for (int g = first; g < last; ++g) {
                const __m128 a = _mm_load_ps(pr + 4 * g);
                const __m128 b = _mm_load_ps(pi + 4 * g);
                ur[g - first] = _mm_add_ps(ur[g - first], _mm_add_ps(_mm_mul_ps(a, xr), _mm_mul_ps(b, xi)));
                ui[g - first] = _mm_add_ps(ui[g - first], _mm_sub_ps(_mm_mul_ps(a, xi), _mm_mul_ps(b, xr)));
            }
        }
        for (int g = first; g < last; ++g) {
            _mm_store_ps(st.u_re.data() + 4 * g, ur[g - first]);
            _mm_store_ps(st.u_im.data() + 4 * g, ui[g - first]);
        }
    }
    st.UpdateAlpha();
}

void Sse2Row(RlsState& st) noexcept {
    const float dr = kForgetting + st.alpha_re;
    const float di = st.alpha_im;
    const float inv = 1.0f / (dr * dr + di * di);
    __m128 xr[kGroups];
    __m128 xi[kGroups];
    for (int g = 0; g < kGroups; ++g) {
        xr[g] = _mm_load_ps(st.x_re.data() + 4 * g);
        xi[g] = _mm_load_ps(st.x_im.data() + 4 * g);
    }
    for (int i = 0; i < kN; ++i) {
        const float* pr = st.p_re.data() + i * kS;
        const float* pi = st.p_im.data() + i * kS;
        __m128 vr = _mm_setzero_ps();
        __m128 vi = _mm_setzero_ps();
        for (int g = 0; g < kGroups; ++g) {
            const __m128 a = _mm_load_ps(pr + 4 * g);
            const __m128 b = _mm_load_ps(pi + 4 * g);
            vr = _mm_add_ps(vr, _mm_sub_ps(_mm_mul_ps(a, xr[g]), _mm_mul_ps(b, xi[g])));
            vi = _mm_add_ps(vi, _mm_add_ps(_mm_mul_ps(a, xi[g]), _mm_mul_ps(b, xr[g])));
        }
        const float sr = HorizontalSum(vr);
        const float si = HorizontalSum(vi);
        st.k_re[static_cast<std::size_t>(i)] = (sr * dr + si * di) * inv;
        st.k_im[static_cast<std::size_t>(i)] = (si * dr - sr * di) * inv;
    }
}

void Sse2Covariance(RlsState& st, float g) noexcept {
    const __m128 gain = _mm_set1_ps(g);
    for (int i = 0; i < kN; ++i) {
        const __m128 kr = _mm_set1_ps(st.k_re[static_cast<std::size_t>(i)]);
        const __m128 ki = _mm_set1_ps(st.k_im[static_cast<std::size_t>(i)]);
        float* pr = st.p_re.data() + i * kS;
        float* pi = st.p_im.data() + i * kS;
        for (int c = 0; c < kGroups; ++c) {
            const __m128 ur = _mm_load_ps(st.u_re.data() + 4 * c);
            const __m128 ui = _mm_load_ps(st.u_im.data() + 4 * c);
            const __m128 tr = _mm_add_ps(_mm_mul_ps(kr, ur), _mm_mul_ps(ki, ui));
            const __m128 ti = _mm_sub_ps(_mm_mul_ps(ki, ur), _mm_mul_ps(kr, ui));
            _mm_store_ps(pr + 4 * c, _mm_mul_ps(gain, _mm_sub_ps(_mm_load_ps(pr + 4 * c), tr)));
            _mm_store_ps(pi + 4 * c, _mm_mul_ps(gain, _mm_sub_ps(_mm_load_ps(pi + 4 * c), ti)));
        }
    }
}

void Sse2Tap(RlsState& st, Complex e) noexcept {
    const __m128 er = _mm_set1_ps(e.re);
    const __m128 ei = _mm_set1_ps(e.im);
    for (int c = 0; c < kGroups; ++c) {
        const __m128 kr = _mm_load_ps(st.k_re.data() + 4 * c);
        const __m128 ki = _mm_load_ps(st.k_im.data() + 4 * c);
        float* wr = st.w_re.data() + 4 * c;
        float* wi = st.w_im.data() + 4 * c;
        _mm_store_ps(wr, _mm_add_ps(_mm_load_ps(wr), _mm_add_ps(_mm_mul_ps(kr, er), _mm_mul_ps(ki, ei))));
        _mm_store_ps(wi, _mm_add_ps(_mm_load_ps(wi), _mm_sub_ps(_mm_mul_ps(ki, er), _mm_mul_ps(kr, ei))));
    }
}

void Sse2Correlate(const float* a, const float* b, const PreambleReference& ref, CorrelatorSums& out) noexcept {
    constexpr int kRefGroups = kCorrelatorRefs / 4;  // 6
    __m128 p[kRefGroups];
    __m128 q[kRefGroups];
    for (int g = 0; g < kRefGroups; ++g) {
        p[g] = _mm_setzero_ps();
        q[g] = _mm_setzero_ps();
    }
    for (int i = 0; i < kBlockSymbols; ++i) {
        const __m128 ai = _mm_set1_ps(a[i]);
        const __m128 bi = _mm_set1_ps(b[i]);
        const float* c = ref.c[static_cast<std::size_t>(i)].data();
        const float* d = ref.d[static_cast<std::size_t>(i)].data();
        for (int g = 0; g < kRefGroups; ++g) {
            const __m128 cv = _mm_load_ps(c + 4 * g);
            const __m128 dv = _mm_load_ps(d + 4 * g);
            p[g] = _mm_add_ps(p[g], _mm_add_ps(_mm_mul_ps(ai, cv), _mm_mul_ps(bi, dv)));
            q[g] = _mm_add_ps(q[g], _mm_sub_ps(_mm_mul_ps(ai, dv), _mm_mul_ps(bi, cv)));
        }
    }
    for (int g = 0; g < kRefGroups; ++g) {
        _mm_store_ps(out.p.data() + 4 * g, p[g]);
        _mm_store_ps(out.q.data() + 4 * g, q[g]);
    }
}

constexpr ReceiverKernels kSse2{"sse2", Sse2Gain, Sse2Row, Sse2Covariance, Sse2Tap, Sse2Correlate};

}  // namespace

const ReceiverKernels* detail::Sse2KernelsOrNull() noexcept {
    return __builtin_cpu_supports("sse2") ? &kSse2 : nullptr;
}

}  // namespace kavra::modem

#else

namespace kavra::modem {
const ReceiverKernels* detail::Sse2KernelsOrNull() noexcept { return nullptr; }
}  // namespace kavra::modem

#endif
