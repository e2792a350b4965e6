// The receiver's heavy arithmetic, in interchangeable sets: a portable one and SIMD ones (SSE2
// and AVX2 on x86-64).  All sets compute exactly the same values: element-wise work needs no
// care, sums run in the same order in both (column sums per lane in index order, row sums as
// four interleaved partial sums added as (p0 + p2) + (p1 + p3)).  So a receiver gives the same
// decisions and bytes whichever set it runs, and each set can be checked against the others.
#pragma once

#include <array>

#include "modem/rx/receiver_tables.h"

namespace kavra::modem {

// The recursive-least-squares equaliser: 37 feed-forward inputs (half a symbol apart) and 7
// decision-feedback inputs.  The inverse correlation matrix is held as real and imaginary
// matrices with a row stride of 48 floats so every row starts on a 16-byte boundary.
inline constexpr int kEqualizerTaps = 44;
inline constexpr int kFeedForwardTaps = 37;
inline constexpr int kCentreTap = 18;
inline constexpr int kEqualizerStride = 48;

struct alignas(64) RlsState {
    using Vector = std::array<float, kEqualizerStride>;
    std::array<float, kEqualizerTaps * kEqualizerStride> p_re{};  // P, row i at i * 48
    std::array<float, kEqualizerTaps * kEqualizerStride> p_im{};
    Vector x_re{}, x_im{};  // input vector
    Vector w_re{}, w_im{};  // taps
    Vector u_re{}, u_im{};  // P^H x
    Vector k_re{}, k_im{};  // gain
    float alpha_re = 0.0f;  // u^H x
    float alpha_im = 0.0f;

    // P = identity / 44.
    void ResetCovariance() noexcept;
    // The equaliser's output y = sum conj(w_i) x_i.
    Complex Output() const noexcept {
        Complex y{};
        for (int i = 0; i < kEqualizerTaps; ++i) {
            const auto n = static_cast<std::size_t>(i);
            y.re += w_re[n] * x_re[n] + w_im[n] * x_im[n];
            y.im += w_re[n] * x_im[n] - w_im[n] * x_re[n];
        }
        return y;
    }
    // alpha = u^H x, summed in index order (the gain kernels of every set end with it).
    void UpdateAlpha() noexcept {
        float ar = 0.0f;
        float ai = 0.0f;
        for (int j = 0; j < kEqualizerTaps; ++j) {
            const auto n = static_cast<std::size_t>(j);
            ar += u_re[n] * x_re[n] + u_im[n] * x_im[n];
            ai += u_re[n] * x_im[n] - u_im[n] * x_re[n];
        }
        alpha_re = ar;
        alpha_im = ai;
    }
};

// Correlations of one 32-symbol block of baseband samples (a + jb) with all 24 references:
// p[r] = sum a c + b d, q[r] = sum a d - b c, summed over the symbols in order.
struct CorrelatorSums {
    alignas(64) std::array<float, kCorrelatorRefs> p{};
    alignas(64) std::array<float, kCorrelatorRefs> q{};
};

struct ReceiverKernels {
    const char* name;
    // u = P^H x, then alpha = u^H x.
    void (*gain)(RlsState&) noexcept;
    // k = P x / (0.992999 + alpha).
    void (*row)(RlsState&) noexcept;
    // P = g (P - k u^H).
    void (*covariance)(RlsState&, float g) noexcept;
    // w = w + k conj(error).
    void (*tap)(RlsState&, Complex error) noexcept;
    // The 24 block correlations of the symbols a[0..31] + j b[0..31].
    void (*correlate)(const float* a, const float* b, const PreambleReference& ref, CorrelatorSums& out) noexcept;
};

enum class KernelSet {
    Portable,
    Sse2,  // x86-64 baseline
    Avx2,  // x86-64 processors with AVX2: twice as wide where the order of sums allows
};
inline constexpr KernelSet kAllKernelSets[] = {KernelSet::Portable, KernelSet::Sse2, KernelSet::Avx2};

// A kernel set, or null where this build or processor cannot run it.
const ReceiverKernels* Kernels(KernelSet set) noexcept;
const ReceiverKernels& PortableKernels() noexcept;
// The widest SIMD set this build and processor can run, else the portable set.
const ReceiverKernels& SimdKernels() noexcept;
// Whether a SIMD set may run on this processor (x86-64: SSE2, which every such processor has,
// and AVX2 where present; other processors: no SIMD set is built).
bool SimdKernelsAvailable() noexcept;

namespace detail {
// Defined by each SIMD translation unit; null where it is not built or cannot run.
const ReceiverKernels* Sse2KernelsOrNull() noexcept;
const ReceiverKernels* Avx2KernelsOrNull() noexcept;
}  // namespace detail

}  // namespace kavra::modem
