#include "sim/oscillator.h"

#include <cmath>

namespace kavra::sim {

Oscillator::Oscillator(double cycles_per_sample) {
    constexpr double kTwoPi = 6.28318530717958647692;
    for (std::size_t i = 0; i < 1024; ++i) {
        const double coarse = kTwoPi * static_cast<double>(i) / 1024.0;
        const double fine = kTwoPi * static_cast<double>(i) / 1048576.0;
        coarse_[i] = {static_cast<float>(std::cos(coarse)), static_cast<float>(std::sin(coarse))};
        fine_[i] = {static_cast<float>(std::cos(fine)), static_cast<float>(std::sin(fine))};
    }
    // Fraction of a cycle in 64-bit fixed point; a negative frequency wraps to its two's
    // complement, which is the same rotation.
    const double fraction = cycles_per_sample - std::floor(cycles_per_sample);
    const long double scaled = static_cast<long double>(fraction) * 18446744073709551616.0L;
    // A double fraction has at most 53 significant bits, so the product is (nearly) whole.
    step_ = scaled >= 18446744073709551615.0L ? 0 : static_cast<std::uint64_t>(scaled);
}

}  // namespace kavra::sim
