// The one-second looping capture buffer of a simulated sound card: the air writes samples round
// and round, the station reads them by position in one or two pieces.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "audio/sound_ports.h"

namespace kavra::air {

class LoopingCapture {
public:
    static constexpr std::size_t kSamples = audio::kCaptureBufferBytes / 2;

    void Write(std::span<const std::int16_t> samples) noexcept {
        std::size_t at = write_bytes_ / 2;
        for (const std::int16_t v : samples) {
            ring_[at] = v;
            at = at + 1 == kSamples ? 0 : at + 1;
        }
        write_bytes_ = static_cast<std::uint32_t>(at * 2);
    }
    // The byte offset the next sample goes to.
    std::uint32_t WritePosition() const noexcept { return write_bytes_; }
    audio::LockedRange Lock(std::uint32_t offset, std::uint32_t bytes) const noexcept {
        const std::size_t start = (offset / 2) % kSamples;
        const std::size_t count = std::min<std::size_t>(bytes / 2, kSamples);
        const std::size_t first = std::min(count, kSamples - start);
        return {std::span<const std::int16_t>(ring_.data() + start, first),
                std::span<const std::int16_t>(ring_.data(), count - first)};
    }

private:
    std::array<std::int16_t, kSamples> ring_{};
    std::uint32_t write_bytes_ = 0;
};

}  // namespace kavra::air
