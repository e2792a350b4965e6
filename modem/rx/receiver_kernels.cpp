#include "modem/rx/receiver_kernels.h"

namespace kavra::modem {

namespace {

constexpr int kN = kEqualizerTaps;
constexpr int kS = kEqualizerStride;
constexpr float kForgetting = 0.992999f;

void PortableGain(RlsState& st) noexcept {
    for (int j = 0; j < kN; ++j) {
        st.u_re[static_cast<std::size_t>(j)] = 0.0f;
        st.u_im[static_cast<std::size_t>(j)] = 0.0f;
    }
    for (int i = 0; i < kN; ++i) {
        const float xr = st.x_re[static_cast<std::size_t>(i)];
        const float xi = st.x_im[static_cast<std::size_t>(i)];
        const float* pr = st.p_re.data() + i * kS;
        const float* pi = st.p_im.data() + i * kS;
        for (int j = 0; j < kN; ++j) {
            st.u_re[static_cast<std::size_t>(j)] += pr[j] * xr + pi[j] * xi;
            st.u_im[static_cast<std::size_t>(j)] += pr[j] * xi - pi[j] * xr;
        }
    }
    st.UpdateAlpha();
}

void PortableRow(RlsState& st) noexcept {
    const float dr = kForgetting + st.alpha_re;
    const float di = st.alpha_im;
    const float inv = 1.0f / (dr * dr + di * di);
    for (int i = 0; i < kN; ++i) {
        const float* pr = st.p_re.data() + i * kS;
        const float* pi = st.p_im.data() + i * kS;
        float lr[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        float li[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        for (int j = 0; j < kN; j += 4) {
            for (int l = 0; l < 4; ++l) {
                const auto n = static_cast<std::size_t>(j + l);
                lr[l] += pr[j + l] * st.x_re[n] - pi[j + l] * st.x_im[n];
                li[l] += pr[j + l] * st.x_im[n] + pi[j + l] * st.x_re[n];
            }
        }
        const float vr = (lr[0] + lr[2]) + (lr[1] + lr[3]);
        const float vi = (li[0] + li[2]) + (li[1] + li[3]);
        st.k_re[static_cast<std::size_t>(i)] = (vr * dr + vi * di) * inv;
        st.k_im[static_cast<std::size_t>(i)] = (vi * dr - vr * di) * inv;
    }
}

void PortableCovariance(RlsState& st, float g) noexcept {
    for (int i = 0; i < kN; ++i) {
        const float kr = st.k_re[static_cast<std::size_t>(i)];
        const float ki = st.k_im[static_cast<std::size_t>(i)];
        float* pr = st.p_re.data() + i * kS;
        float* pi = st.p_im.data() + i * kS;
        for (int j = 0; j < kN; ++j) {
            const float ur = st.u_re[static_cast<std::size_t>(j)];
            const float ui = st.u_im[static_cast<std::size_t>(j)];
            pr[j] = g * (pr[j] - (kr * ur + ki * ui));
            pi[j] = g * (pi[j] - (ki * ur - kr * ui));
        }
    }
}

void PortableTap(RlsState& st, Complex e) noexcept {
    for (int i = 0; i < kN; ++i) {
        const auto n = static_cast<std::size_t>(i);
        st.w_re[n] += st.k_re[n] * e.re + st.k_im[n] * e.im;
        st.w_im[n] += st.k_im[n] * e.re - st.k_re[n] * e.im;
    }
}

void PortableCorrelate(const float* a, const float* b, const PreambleReference& ref, CorrelatorSums& out) noexcept {
    for (int r = 0; r < kCorrelatorRefs; ++r) {
        const auto n = static_cast<std::size_t>(r);
        float p = 0.0f;
        float q = 0.0f;
        for (int i = 0; i < kBlockSymbols; ++i) {
            const auto s = static_cast<std::size_t>(i);
            p += a[i] * ref.c[s][n] + b[i] * ref.d[s][n];
            q += a[i] * ref.d[s][n] - b[i] * ref.c[s][n];
        }
        out.p[n] = p;
        out.q[n] = q;
    }
}

constexpr ReceiverKernels kPortable{"portable", PortableGain, PortableRow, PortableCovariance, PortableTap,
                                    PortableCorrelate};

}  // namespace

void RlsState::ResetCovariance() noexcept {
    p_re.fill(0.0f);
    p_im.fill(0.0f);
    for (int i = 0; i < kN; ++i) p_re[static_cast<std::size_t>(i * kS + i)] = 1.0f / 44.0f;
}

const ReceiverKernels& PortableKernels() noexcept { return kPortable; }

const ReceiverKernels* Kernels(KernelSet set) noexcept {
    switch (set) {
        case KernelSet::Portable: return &kPortable;
        case KernelSet::Sse2: return detail::Sse2KernelsOrNull();
        case KernelSet::Avx2: return detail::Avx2KernelsOrNull();
    }
    return nullptr;
}

bool SimdKernelsAvailable() noexcept {
    return detail::Sse2KernelsOrNull() != nullptr || detail::Avx2KernelsOrNull() != nullptr;
}

const ReceiverKernels& SimdKernels() noexcept {
    if (const ReceiverKernels* avx2 = detail::Avx2KernelsOrNull()) return *avx2;
    if (const ReceiverKernels* sse2 = detail::Sse2KernelsOrNull()) return *sse2;
    return kPortable;
}

}  // namespace kavra::modem
