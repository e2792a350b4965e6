// The acknowledgement list: sequence numbers received since the last acknowledgement turn, in
// arrival order.  Appended by the receive handler (user-interface thread), read and emptied by
// the acknowledgement turn (TransmitThread).  Same one-producer, one-consumer scheme as the chat
// queue: positions count up, emptying is done by the consumer or requested by the producer.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kavra::link {

inline constexpr std::size_t kAckListCapacity = 256;

class AckList {
public:
    // Producer side.  Push refuses a number beyond the 256th.
    bool Push(std::uint16_t number) noexcept {
        if (CountForProducer() >= kAckListCapacity) return false;
        const std::uint32_t w = write_.load(std::memory_order_relaxed);
        entries_[w % kAckListCapacity].store(number, std::memory_order_relaxed);
        write_.store(w + 1, std::memory_order_release);
        return true;
    }
    std::size_t CountForProducer() const noexcept {
        const std::uint32_t w = write_.load(std::memory_order_relaxed);
        std::uint32_t r = read_.load(std::memory_order_acquire);
        const std::uint32_t c = clear_to_.load(std::memory_order_relaxed);
        if (static_cast<std::int32_t>(c - r) > 0) r = c;
        return w - r;
    }
    void ClearFromProducer() noexcept {
        clear_to_.store(write_.load(std::memory_order_relaxed), std::memory_order_release);
    }

    // Consumer side: copies every pending number into `out` in order and empties the list.
    std::size_t Drain(std::span<std::uint16_t, kAckListCapacity> out) noexcept {
        ApplyClearRequest();
        std::uint32_t r = read_.load(std::memory_order_relaxed);
        const std::uint32_t w = write_.load(std::memory_order_acquire);
        std::size_t n = 0;
        for (; r != w && n < kAckListCapacity; ++r) out[n++] = entries_[r % kAckListCapacity].load(std::memory_order_relaxed);
        read_.store(r, std::memory_order_release);
        return n;
    }
    std::size_t CountForConsumer() noexcept {
        ApplyClearRequest();
        return write_.load(std::memory_order_acquire) - read_.load(std::memory_order_relaxed);
    }
    void ClearFromConsumer() noexcept {
        read_.store(write_.load(std::memory_order_acquire), std::memory_order_release);
    }

private:
    void ApplyClearRequest() noexcept {
        const std::uint32_t c = clear_to_.load(std::memory_order_acquire);
        const std::uint32_t r = read_.load(std::memory_order_relaxed);
        if (static_cast<std::int32_t>(c - r) > 0) read_.store(c, std::memory_order_release);
    }

    std::array<std::atomic<std::uint16_t>, kAckListCapacity> entries_{};
    std::atomic<std::uint32_t> write_{0};
    std::atomic<std::uint32_t> read_{0};
    std::atomic<std::uint32_t> clear_to_{0};
};

}  // namespace kavra::link
