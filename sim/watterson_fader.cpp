#include "sim/watterson_fader.h"

#include <cmath>

namespace kavra::sim {

namespace {
// Independent random streams drawn from the one user seed.
constexpr std::uint64_t kPath1Stream = 1;
constexpr std::uint64_t kPath2Stream = 2;

int WholeSamples(const FadingSettings& s, double rate) {
    return static_cast<int>(std::floor(s.delay_ms * rate / 1000.0));
}
}  // namespace

WattersonFader::WattersonFader(const FadingSettings& settings, double sample_rate_hz, std::uint64_t seed)
    : path1_(settings.spread_hz, sample_rate_hz, 0.5, seed, kPath1Stream),
      path2_(settings.spread_hz, sample_rate_hz, 0.5, seed, kPath2Stream),
      re_(static_cast<std::size_t>(kLatency + WholeSamples(settings, sample_rate_hz) + SincInterpolator::kTaps + 2)),
      im_(static_cast<std::size_t>(kLatency + WholeSamples(settings, sample_rate_hz) + SincInterpolator::kTaps + 2)) {
    const double delay = settings.delay_ms * sample_rate_hz / 1000.0;
    delay_int_ = WholeSamples(settings, sample_rate_hz);
    delay_fraction_ = delay - delay_int_;
    if (delay_fraction_ > 0.0) {
        // The point x(q - fraction) lies (1 - fraction) after sample q - 1.
        SincInterpolator kernel;
        kernel.Weights(1.0 - delay_fraction_, fraction_weights_);
    }
}

std::complex<float> WattersonFader::Process(std::complex<float> x) noexcept {
    re_.Push(x.real());
    im_.Push(x.imag());
    const std::int64_t newest = re_.count() - 1;
    const std::int64_t direct = newest - kLatency;
    const std::complex<float> first(*re_.Window(direct), *im_.Window(direct));
    const std::int64_t q = direct - delay_int_;
    std::complex<float> second;
    if (delay_fraction_ > 0.0) {
        const std::int64_t start = q - 1 - SincInterpolator::kBefore;
        second = SincInterpolator::Apply(fraction_weights_, re_.Window(start), im_.Window(start));
    } else {
        second = {*re_.Window(q), *im_.Window(q)};
    }
    return path1_.Next() * first + path2_.Next() * second;
}

}  // namespace kavra::sim
