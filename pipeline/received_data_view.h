// ReceivedDataView: the bytes of the frame being received, for the tuning window's "Received data"
// view.  DemodThread appends and sets the refresh flag; the user-interface thread reads the bytes
// up to the count it loads (acquire) and sets the flag back to 0.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace kavra::pipeline {

inline constexpr int kViewBytesPerRow = 44;

class ReceivedDataView {
public:
    static constexpr std::uint32_t kSize = 65536;

    // ---- DemodThread
    void Clear() noexcept { count_.store(0, std::memory_order_release); }
    void Append(std::uint8_t byte) noexcept {
        const std::uint32_t n = count_.load(std::memory_order_relaxed);
        if (n >= kSize) return;
        bytes_[n] = byte;
        count_.store(n + 1, std::memory_order_release);
    }
    // After a delivery of bits: when the view is on screen, mark it for redrawing, and for
    // scrolling to the end when it showed the last rows (first row + 9 >= rows of `snapshot`).
    void MarkRefresh(std::uint32_t snapshot) noexcept {
        if (!shown_.load(std::memory_order_acquire)) return;
        const int shows_end = first_row_.load(std::memory_order_relaxed) + 9 >= static_cast<int>(snapshot / kViewBytesPerRow);
        refresh_.store(shows_end ? 2 : 1, std::memory_order_release);
    }

    // ---- user-interface thread
    void SetShown(bool shown) noexcept { shown_.store(shown, std::memory_order_release); }
    void SetFirstRow(int row) noexcept { first_row_.store(row, std::memory_order_relaxed); }
    // 0 nothing new, 1 new data, 2 new data and the view shows the end.  Reading takes it.
    int TakeRefresh() noexcept { return refresh_.exchange(0, std::memory_order_acq_rel); }
    std::uint32_t Count() const noexcept { return count_.load(std::memory_order_acquire); }
    std::uint8_t At(std::uint32_t i) const noexcept { return bytes_[i]; }

private:
    std::array<std::uint8_t, kSize> bytes_{};
    std::atomic<std::uint32_t> count_{0};
    std::atomic<int> refresh_{0};
    std::atomic<bool> shown_{false};
    std::atomic<int> first_row_{0};
};

}  // namespace kavra::pipeline
