// SampleRing: the decimated capture (9600 Hz for modem type 0, 8000 Hz for type 1) that
// CaptureThread writes and DemodThread reads.  48000 samples; equal indexes mean empty.
//
// One writer per index: CaptureThread owns the write index and the samples, DemodThread the read
// index.  The writer stores the sample, then publishes the index (release); the reader loads the
// write index (acquire) before it reads samples.  A full ring refuses the newest sample and counts
// it, so an overrun loses the latest audio instead of corrupting what the reader has not read.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace kavra::audio {

class SampleRing {
public:
    static constexpr std::uint32_t kSize = 48000;

    // ---- CaptureThread
    // False (and counted) when the ring is full.
    bool Push(std::int16_t sample) noexcept {
        const std::uint32_t w = write_.load(std::memory_order_relaxed);
        const std::uint32_t next = w + 1 == kSize ? 0 : w + 1;
        if (next == read_.load(std::memory_order_acquire)) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        samples_[w] = sample;
        write_.store(next, std::memory_order_release);
        return true;
    }

    // ---- DemodThread
    std::uint32_t WriteIndex() const noexcept { return write_.load(std::memory_order_acquire); }
    std::uint32_t ReadIndex() const noexcept { return read_.load(std::memory_order_relaxed); }
    // The sample at the read index; advances it.  Only while ReadIndex() != a WriteIndex() seen.
    std::int16_t Pop() noexcept {
        const std::uint32_t r = read_.load(std::memory_order_relaxed);
        const std::int16_t s = samples_[r];
        read_.store(r + 1 == kSize ? 0 : r + 1, std::memory_order_release);
        return s;
    }

    // ---- any thread
    std::uint64_t Dropped() const noexcept { return dropped_.load(std::memory_order_relaxed); }
    std::uint32_t Count() const noexcept {
        const std::uint32_t w = write_.load(std::memory_order_acquire), r = read_.load(std::memory_order_acquire);
        return w >= r ? w - r : w + kSize - r;
    }

    // Both indexes to 0: only while neither thread runs (start-up).
    void Reset() noexcept {
        write_.store(0, std::memory_order_relaxed);
        read_.store(0, std::memory_order_relaxed);
    }

private:
    std::array<std::int16_t, kSize> samples_{};
    std::atomic<std::uint32_t> write_{0};
    std::atomic<std::uint32_t> read_{0};
    std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace kavra::audio
