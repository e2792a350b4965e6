// Storage shared between the user-interface thread and TransmitThread without locks.
//
// Every byte is read and written through std::atomic_ref with relaxed order, so that a reader
// running at the same time as a writer sees old or new bytes but never causes undefined
// behaviour.  Ordering between threads comes from the index or state published with release
// and read with acquire; the seqlock types below add a sequence word so that a reader can tell a
// torn copy and read again.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kavra::link {

class SharedBytes {
public:
    explicit SharedBytes(std::size_t size) : bytes_(size) {}
    SharedBytes(const SharedBytes&) = delete;
    SharedBytes& operator=(const SharedBytes&) = delete;

    std::size_t size() const noexcept { return bytes_.size(); }

    std::uint8_t Get(std::size_t i) const noexcept {
        return std::atomic_ref<std::uint8_t>(bytes_[i]).load(std::memory_order_relaxed);
    }
    void Set(std::size_t i, std::uint8_t v) noexcept {
        std::atomic_ref<std::uint8_t>(bytes_[i]).store(v, std::memory_order_relaxed);
    }
    // Copies `src` to `offset`; bytes past the end of the storage are not written.
    void Store(std::size_t offset, std::span<const std::uint8_t> src) noexcept {
        const std::size_t n = offset < size() ? std::min(src.size(), size() - offset) : 0;
        for (std::size_t i = 0; i < n; ++i) Set(offset + i, src[i]);
    }
    // Copies from `offset` into `dst`; bytes past the end of the storage read as zero.
    void Load(std::size_t offset, std::span<std::uint8_t> dst) const noexcept {
        for (std::size_t i = 0; i < dst.size(); ++i) dst[i] = offset + i < size() ? Get(offset + i) : 0;
    }
    void Fill(std::size_t offset, std::size_t count, std::uint8_t v) noexcept {
        const std::size_t end = std::min(size(), offset + count);
        for (std::size_t i = offset; i < end; ++i) Set(i, v);
    }

private:
    mutable std::vector<std::uint8_t> bytes_;
};

// Up to `capacity` bytes written by one thread and read by any: a seqlock over SharedBytes.
// The sequence word is odd while a write is in progress.
class SeqlockBytes {
public:
    explicit SeqlockBytes(std::size_t capacity) : bytes_(capacity) {}

    std::size_t capacity() const noexcept { return bytes_.size(); }

    // Single writer.  Bytes beyond the capacity are dropped.
    void Write(std::span<const std::uint8_t> src) noexcept {
        const std::uint32_t s = seq_.load(std::memory_order_relaxed);
        seq_.store(s + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        const std::size_t n = std::min(src.size(), capacity());
        bytes_.Store(0, src.first(n));
        length_.store(static_cast<std::uint32_t>(n), std::memory_order_relaxed);
        seq_.store(s + 2, std::memory_order_release);
    }

    // Any thread; copies a consistent snapshot into `dst` (resized to the stored length).
    void Read(std::vector<std::uint8_t>& dst) const {
        for (;;) {
            const std::uint32_t s1 = seq_.load(std::memory_order_acquire);
            if (s1 & 1u) continue;
            dst.resize(length_.load(std::memory_order_relaxed));
            bytes_.Load(0, dst);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (seq_.load(std::memory_order_relaxed) == s1) return;
        }
    }

private:
    SharedBytes bytes_;
    std::atomic<std::uint32_t> length_{0};
    std::atomic<std::uint32_t> seq_{0};
};

// A text written by the user-interface thread and read by TransmitThread for its messages.
class SharedText {
public:
    explicit SharedText(std::size_t capacity) : bytes_(capacity) {}
    void Set(std::string_view text) noexcept {
        bytes_.Write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    }
    std::string Get() const {
        std::vector<std::uint8_t> v;
        bytes_.Read(v);
        return {v.begin(), v.end()};
    }

private:
    SeqlockBytes bytes_;
};

}  // namespace kavra::link
