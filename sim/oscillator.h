// Complex oscillator with an exact frequency: the phase is a 64-bit fixed-point fraction of a
// cycle, so it never drifts, and e^{j phase} comes from two 1024-entry tables (coarse angle
// times fine angle), good to about 1e-5 rad.
#pragma once

#include <array>
#include <complex>
#include <cstdint>

namespace kavra::sim {

class Oscillator {
public:
    // `cycles_per_sample` may be negative or above 1 (it is taken modulo 1).
    explicit Oscillator(double cycles_per_sample);

    // e^{j 2 pi phase}, then advances the phase by one sample.
    std::complex<float> Next() noexcept {
        const std::complex<float> value = At(phase_);
        phase_ += step_;
        return value;
    }

    void Reset() noexcept { phase_ = 0; }
    std::uint64_t step() const noexcept { return step_; }

private:
    std::complex<float> At(std::uint64_t phase) const noexcept {
        const auto coarse = static_cast<std::size_t>(phase >> 54);
        const auto fine = static_cast<std::size_t>((phase >> 44) & 1023u);
        return coarse_[coarse] * fine_[fine];
    }

    std::array<std::complex<float>, 1024> coarse_{};  // e^{j 2 pi i / 2^10}
    std::array<std::complex<float>, 1024> fine_{};    // e^{j 2 pi i / 2^20}
    std::uint64_t step_ = 0;
    std::uint64_t phase_ = 0;
};

}  // namespace kavra::sim
