// A FIR delay line whose newest samples are always contiguous in memory, so a filter is one
// straight dot product: each sample is written twice, at pos and pos + length.
#pragma once

#include <array>
#include <cstddef>
#include <span>

namespace kavra::modem {

// Sum of a[i] * b[i] over n values, with eight partial sums so the compiler can keep it in
// vector registers.
inline float DotProduct(const float* a, const float* b, std::size_t n) noexcept {
    float acc[8] = {};
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
        for (std::size_t k = 0; k < 8; ++k) acc[k] += a[i + k] * b[i + k];
    float tail = 0.0f;
    for (; i < n; ++i) tail += a[i] * b[i];
    return ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7])) + tail;
}

template <std::size_t MaxLength>
class DelayLine {
public:
    explicit DelayLine(std::size_t length = MaxLength) : length_(length < MaxLength ? length : MaxLength) {}

    std::size_t length() const noexcept { return length_; }

    void Reset() noexcept {
        buffer_.fill(0.0f);
        pos_ = 0;
    }

    void Push(float x) noexcept {
        buffer_[pos_] = x;
        buffer_[pos_ + length_] = x;
        pos_ = pos_ + 1 == length_ ? 0 : pos_ + 1;
    }

    // The last `length` samples, oldest first.
    const float* Window() const noexcept { return buffer_.data() + pos_; }

    // Filter output with taps applied oldest first.
    float Filter(std::span<const float> taps) const noexcept { return DotProduct(taps.data(), Window(), length_); }

private:
    std::array<float, 2 * MaxLength> buffer_{};
    std::size_t length_;
    std::size_t pos_ = 0;
};

}  // namespace kavra::modem
