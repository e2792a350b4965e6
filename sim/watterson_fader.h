// Two-path Watterson fading on a complex baseband signal: two independent Rayleigh paths of
// equal mean power (1/2 each, so the mean signal power is kept), each with a Gaussian Doppler
// spectrum of the given two-sigma spread, the second delayed by the differential delay.
//   y(t) = g1(t) x(t - L) + g2(t) x(t - L - delay)
// L is a fixed look-ahead of SincInterpolator::kAfter samples that lets a delay which is not a
// whole number of samples go through the band-limited interpolator; the caller compensates it.
#pragma once

#include <array>
#include <complex>
#include <cstdint>

#include "sim/doppler_tap.h"
#include "sim/history.h"
#include "sim/sinc_interpolator.h"

namespace kavra::sim {

struct FadingSettings {
    double delay_ms = 0.0;   // differential delay of the second path, 0..10 ms
    double spread_hz = 0.0;  // two-sigma Doppler spread of each path, 0.01..50 Hz
};

class WattersonFader {
public:
    static constexpr int kLatency = SincInterpolator::kAfter;

    // sample_rate_hz: rate of the baseband samples in real time.
    WattersonFader(const FadingSettings& settings, double sample_rate_hz, std::uint64_t seed);
    WattersonFader(const WattersonFader&) = delete;
    WattersonFader& operator=(const WattersonFader&) = delete;

    std::complex<float> Process(std::complex<float> x) noexcept;

    double delay_samples() const noexcept { return delay_int_ + delay_fraction_; }

private:
    DopplerTap path1_;
    DopplerTap path2_;
    History re_;
    History im_;
    int delay_int_ = 0;
    double delay_fraction_ = 0.0;
    std::array<float, SincInterpolator::kTaps> fraction_weights_{};
};

}  // namespace kavra::sim
