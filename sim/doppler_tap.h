// One Rayleigh-fading path gain: a circular complex Gaussian process with a Gaussian Doppler
// spectrum, S(f) ~ exp(-f^2 / (2 sigma^2)), whose two-sigma width (2 sigma) is the spread.
// Its autocorrelation is power * exp(-2 pi^2 sigma^2 tau^2).
//
// White complex Gaussian samples at a low rate (about 32 times the spread) go through a
// Gaussian FIR whose frequency response is the square root of that spectrum; the result is
// interpolated linearly up to the caller's sample rate.  The FIR history is filled at
// construction, so the gain is stationary from the first sample.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "sim/gaussian_source.h"

namespace kavra::sim {

class DopplerTap {
public:
    // spread_hz > 0 (two-sigma Doppler spread), sample_rate_hz > 0 (rate of Next()), power > 0
    // (mean |gain|^2); seed and stream as for GaussianSource.
    DopplerTap(double spread_hz, double sample_rate_hz, double power, std::uint64_t seed, std::uint64_t stream);

    // The gain for the next sample.
    std::complex<float> Next() noexcept {
        const double a = static_cast<double>(step_) * inverse_factor_;
        const std::complex<double> g = from_ + (to_ - from_) * a;
        if (++step_ == factor_) {
            step_ = 0;
            from_ = to_;
            to_ = Generate();
        }
        return {static_cast<float>(g.real()), static_cast<float>(g.imag())};
    }

    int factor() const noexcept { return factor_; }            // samples per low-rate sample
    std::size_t shape_length() const noexcept { return shape_.size(); }

private:
    std::complex<double> Generate() noexcept;

    GaussianSource noise_;
    double amplitude_;                              // sqrt(power)
    std::vector<double> shape_;                     // Gaussian FIR, sum of squares 1
    std::vector<std::complex<double>> history_;     // doubled ring of white samples
    std::size_t position_ = 0;
    int factor_ = 1;
    double inverse_factor_ = 1.0;
    int step_ = 0;
    std::complex<double> from_;
    std::complex<double> to_;
};

}  // namespace kavra::sim
