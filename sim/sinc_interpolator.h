// Band-limited interpolation at any point between samples: a Kaiser-windowed sinc of 16 taps
// cut at half the sample rate, tabulated at 256 fractional positions with linear interpolation
// between neighbouring positions.  Flat to within 0.001 dB up to 0.28 of the sample rate and
// at least 90 dB down from 0.72 of it, so a signal confined to +-0.28 of the rate (the channel's
// baseband, +-2250 Hz at 8000 Hz) is reproduced at any instant.  The one resampler of the
// channel (rate change and clock offset) and its fractional delay both use it.
#pragma once

#include <array>
#include <complex>

namespace kavra::sim {

class SincInterpolator {
public:
    static constexpr int kTaps = 16;
    static constexpr int kPhases = 256;
    // Window of kTaps samples s[0..15] around the point: the point lies mu (0 <= mu < 1)
    // after s[kBefore], that is, kTaps / 2 - 1 samples of history and kTaps / 2 ahead.
    static constexpr int kBefore = kTaps / 2 - 1;
    static constexpr int kAfter = kTaps / 2;

    SincInterpolator();

    // Weights of the 16 window samples for the point mu after s[kBefore].
    void Weights(double mu, std::array<float, kTaps>& weights) const noexcept;

    // The complex value at mu after re[kBefore] / im[kBefore] (windows of kTaps samples).
    std::complex<float> At(const float* re, const float* im, double mu) const noexcept {
        std::array<float, kTaps> w;
        Weights(mu, w);
        return Apply(w, re, im);
    }

    static std::complex<float> Apply(const std::array<float, kTaps>& w, const float* re, const float* im) noexcept {
        float r0 = 0, r1 = 0, i0 = 0, i1 = 0;
        for (int j = 0; j < kTaps; j += 2) {
            r0 += w[static_cast<std::size_t>(j)] * re[j];
            r1 += w[static_cast<std::size_t>(j) + 1] * re[j + 1];
            i0 += w[static_cast<std::size_t>(j)] * im[j];
            i1 += w[static_cast<std::size_t>(j) + 1] * im[j + 1];
        }
        return {r0 + r1, i0 + i1};
    }

private:
    std::array<std::array<float, kTaps>, kPhases + 1> table_{};
};

}  // namespace kavra::sim
