// SpectrumBuffer: 512 complex samples at 8000 Hz for the tuning window's spectroscope, stored in
// the bit-reversed order its FFT expects.  The fill index is the only handshake: CaptureThread
// fills up to 512 and stops; the user-interface thread transforms the full buffer and sets the
// index back to 0.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace kavra::audio {

// Reverses the 9 low bits of n (bit 0 <-> bit 8, bit 1 <-> bit 7, ...).
constexpr std::uint32_t Reverse9Bits(std::uint32_t n) noexcept {
    std::uint32_t r = 0;
    for (int b = 0; b < 9; ++b) r |= ((n >> b) & 1u) << (8 - b);
    return r;
}

class SpectrumBuffer {
public:
    static constexpr std::uint32_t kSize = 512;
    struct Value {
        float re = 0.0f;
        float im = 0.0f;
    };

    // ---- CaptureThread
    // Stores the sample at position r(fill index) while the buffer is not full.
    void Put(std::int16_t sample) noexcept {
        const std::uint32_t n = fill_.load(std::memory_order_acquire);
        if (n >= kSize) return;
        values_[Reverse9Bits(n)] = {static_cast<float>(sample), 0.0f};
        fill_.store(n + 1, std::memory_order_release);
    }

    // ---- user-interface thread
    bool Full() const noexcept { return fill_.load(std::memory_order_acquire) >= kSize; }
    // The values, valid while Full() and before Release().
    const std::array<Value, kSize>& Values() const noexcept { return values_; }
    void Release() noexcept { fill_.store(0, std::memory_order_release); }

    std::uint32_t FillIndex() const noexcept { return fill_.load(std::memory_order_acquire); }

private:
    std::array<Value, kSize> values_{};
    std::atomic<std::uint32_t> fill_{0};
};

}  // namespace kavra::audio
