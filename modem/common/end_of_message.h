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

}  // namespace kavra::modem
