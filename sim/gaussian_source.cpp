#include "sim/gaussian_source.h"

#include <cmath>

namespace kavra::sim {

namespace {
constexpr double kTwoPi = 6.28318530717958647692;

std::mt19937_64 SeededEngine(std::uint64_t seed, std::uint64_t stream) {
    // std::seed_seq's mixing is specified exactly, so the engine state is too.
    std::seed_seq sequence{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                           static_cast<std::uint32_t>(stream), static_cast<std::uint32_t>(stream >> 32),
                           0x4b617672u};
    return std::mt19937_64(sequence);
}
}  // namespace

GaussianSource::GaussianSource(std::uint64_t seed, std::uint64_t stream) : engine_(SeededEngine(seed, stream)) {}

double GaussianSource::Next() noexcept {
    if (has_spare_) {
        has_spare_ = false;
        return spare_;
    }
    const double radius = std::sqrt(-2.0 * std::log(Uniform()));
    const double angle = kTwoPi * Uniform();
    spare_ = radius * std::sin(angle);
    has_spare_ = true;
    return radius * std::cos(angle);
}

std::complex<double> GaussianSource::NextComplex() noexcept {
    constexpr double kHalfPower = 0.70710678118654752440;
    const double re = Next();
    const double im = Next();
    return {re * kHalfPower, im * kHalfPower};
}

}  // namespace kavra::sim
