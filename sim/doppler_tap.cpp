#include "sim/doppler_tap.h"

#include <algorithm>
#include <cmath>

namespace kavra::sim {

namespace {
constexpr double kPi = 3.14159265358979323846;
// Low rate = this many times the spread: the spectrum (to 4 sigma = 2 x spread) sits well
// inside it, and the images of the linear interpolation are more than 35 dB down.
constexpr double kOversampling = 32.0;
// The FIR spans +-5 of its time-domain standard deviations.
constexpr double kSpanSigmas = 5.0;
}  // namespace

DopplerTap::DopplerTap(double spread_hz, double sample_rate_hz, double power, std::uint64_t seed,
                       std::uint64_t stream)
    : noise_(seed, stream), amplitude_(std::sqrt(power)) {
    factor_ = std::max(1, static_cast<int>(std::lround(sample_rate_hz / (kOversampling * spread_hz))));
    inverse_factor_ = 1.0 / factor_;
    const double low_rate = sample_rate_hz / factor_;
    // |H(f)|^2 = exp(-f^2 / (2 sigma_f^2)) with sigma_f = spread / 2 needs
    // h(t) = exp(-t^2 / (2 sigma_t^2)) with sigma_t = 1 / (2 sqrt(2) pi sigma_f).
    const double sigma_f = spread_hz / 2.0;
    const double sigma_t = low_rate / (2.0 * std::sqrt(2.0) * kPi * sigma_f);  // in low-rate samples
    const int half = static_cast<int>(std::ceil(kSpanSigmas * sigma_t));
    shape_.resize(static_cast<std::size_t>(2 * half + 1));
    double energy = 0.0;
    for (int k = -half; k <= half; ++k) {
        const double v = std::exp(-0.5 * (k / sigma_t) * (k / sigma_t));
        shape_[static_cast<std::size_t>(k + half)] = v;
        energy += v * v;
    }
    for (double& v : shape_) v /= std::sqrt(energy);

    history_.assign(2 * shape_.size(), {});
    for (std::size_t i = 0; i < shape_.size(); ++i) {
        const auto w = noise_.NextComplex();
        history_[i] = w;
        history_[i + shape_.size()] = w;
    }
    from_ = Generate();
    to_ = Generate();
}

std::complex<double> DopplerTap::Generate() noexcept {
    const std::size_t n = shape_.size();
    const auto w = noise_.NextComplex();
    history_[position_] = w;
    history_[position_ + n] = w;
    position_ = position_ + 1 == n ? 0 : position_ + 1;
    // Oldest sample first: history_[position_ .. position_ + n - 1].
    const std::complex<double>* window = history_.data() + position_;
    double re = 0.0, im = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        re += shape_[k] * window[k].real();
        im += shape_[k] * window[k].imag();
    }
    return {amplitude_ * re, amplitude_ * im};
}

}  // namespace kavra::sim
