// ReceivedBlockQueue: 4096 slots of checked link blocks from DemodThread to the user-interface
// thread's protocol handler.  One writer per index: DemodThread fills a slot, then publishes the
// write index (release); the user-interface thread copies the slot, then publishes the read index.
// A full queue refuses the newest block and counts it: the link layer's repetition recovers a
// refused block, while overwriting would lose 4096 blocks at once and make the queue look empty.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "link/link_block.h"

namespace kavra::pipeline {

class ReceivedBlockQueue {
public:
    static constexpr std::uint32_t kSlots = 4096;

    // ---- DemodThread
    bool Push(const link::ReceivedBlock& block) noexcept {
        const std::uint32_t w = write_.load(std::memory_order_relaxed);
        const std::uint32_t next = (w + 1) % kSlots;
        if (next == read_.load(std::memory_order_acquire)) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        slots_[w] = block;
        write_.store(next, std::memory_order_release);
        return true;
    }

    // ---- user-interface thread
    // PopReceivedBlock: false when empty (nothing changes).
    bool Pop(link::ReceivedBlock& current) noexcept {
        const std::uint32_t r = read_.load(std::memory_order_relaxed);
        if (r == write_.load(std::memory_order_acquire)) return false;
        current = slots_[r];
        read_.store((r + 1) % kSlots, std::memory_order_release);
        return true;
    }

    // ---- any thread
    std::uint64_t Dropped() const noexcept { return dropped_.load(std::memory_order_relaxed); }
    bool Empty() const noexcept { return read_.load(std::memory_order_acquire) == write_.load(std::memory_order_acquire); }
    // Both indexes to 0: only while neither thread runs.
    void Reset() noexcept {
        write_.store(0, std::memory_order_relaxed);
        read_.store(0, std::memory_order_relaxed);
    }

private:
    std::array<link::ReceivedBlock, kSlots> slots_{};
    std::atomic<std::uint32_t> write_{0};
    std::atomic<std::uint32_t> read_{0};
    std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace kavra::pipeline
