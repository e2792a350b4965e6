// The end-of-message word that closes every transmission.
#pragma once

#include <array>
#include <cstdint>

namespace kavra::modem {

// Sent most significant bit first; with bytes sent least-significant bit first this is D2 A6 A5 4D.
inline constexpr std::uint32_t kEomPattern = 0x4B65A5B2;
inline constexpr std::array<std::uint8_t, 4> kEomBytes{0xD2, 0xA6, 0xA5, 0x4D};
// The transmitter appends the word four times.
inline constexpr int kEomRepeats = 4;
inline constexpr int kEomTrailerBytes = 16;

// Looks for the word in a stream of bits taken one at a time.
class EndOfMessageSearch {
public:
    // Shifts in one bit (the lowest of `bit`); true when the last 32 bits are the whole word.
    // The word begins with a 0 bit, so fewer than 32 bits are never taken for it.
    bool Push(std::uint32_t bit) noexcept {
        word_ = (word_ << 1) | (bit & 1u);
        if (bits_ < 32) ++bits_;
        return bits_ == 32 && word_ == kEomPattern;
    }
    void Reset() noexcept {
        word_ = 0;
        bits_ = 0;
    }

private:
    std::uint32_t word_ = 0;
    int bits_ = 0;
};

}  // namespace kavra::modem
