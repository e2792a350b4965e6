// Seeded Gaussian numbers that are the same on every standard library: the 64-bit Mersenne
// Twister (fully specified by the language standard) turned into normal deviates by the
// Box-Muller transform written here, not by std::normal_distribution, whose algorithm is left
// to each library.
#pragma once

#include <complex>
#include <cstdint>
#include <random>

namespace kavra::sim {

class GaussianSource {
public:
    // `stream` separates independent sequences drawn from one user seed (noise, each fading
    // path), so that switching one effect on or off leaves the others' samples unchanged.
    GaussianSource(std::uint64_t seed, std::uint64_t stream);

    // Uniform deviate in (0, 1), never 0 or 1: 53 random bits, centred in their interval.
    double Uniform() noexcept {
        return (static_cast<double>(engine_() >> 11) + 0.5) * 0x1.0p-53;
    }

    // Standard normal deviate (mean 0, variance 1).
    double Next() noexcept;

    // Circular complex normal deviate with E|z|^2 = 1 (variance 1/2 per component).
    std::complex<double> NextComplex() noexcept;

private:
    std::mt19937_64 engine_;
    double spare_ = 0.0;
    bool has_spare_ = false;
};

}  // namespace kavra::sim
