// The most recent samples of a stream, readable as one contiguous window: each sample is
// stored twice, at i and i + N, so any run of up to N samples ending at the newest is a
// plain array.  Sized once at construction.
#pragma once

#include <cstdint>
#include <vector>

namespace kavra::sim {

class History {
public:
    // Keeps at least `capacity` samples; starts as if preceded by zeros.
    explicit History(std::size_t capacity) {
        while (size_ < capacity) size_ *= 2;
        data_.assign(2 * size_, 0.0f);
    }

    void Push(float x) noexcept {
        const std::size_t at = static_cast<std::size_t>(count_) & (size_ - 1);
        data_[at] = x;
        data_[at + size_] = x;
        ++count_;
    }

    // Samples first .. first + length - 1 (absolute indexes, the first sample pushed is 0);
    // valid while they are among the last `capacity` pushed (indexes below 0 read as 0).
    const float* Window(std::int64_t first) const noexcept {
        return data_.data() + (static_cast<std::size_t>(first) & (size_ - 1));
    }

    // The last `length` samples, oldest first.
    const float* Last(std::size_t length) const noexcept {
        return Window(count_ - static_cast<std::int64_t>(length));
    }

    std::int64_t count() const noexcept { return count_; }

    void Reset() noexcept {
        std::fill(data_.begin(), data_.end(), 0.0f);
        count_ = 0;
    }

private:
    std::size_t size_ = 1;
    std::vector<float> data_;
    std::int64_t count_ = 0;
};

}  // namespace kavra::sim
