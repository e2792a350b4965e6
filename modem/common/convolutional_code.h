// The rate-1/2, constraint-length-7 convolutional code (generators 133 and 171 octal).
#pragma once

#include <bit>
#include <cstdint>

namespace kavra::modem {

// Masks over a 7-bit register whose bit 6 is the newest input and bit 0 the oldest.
inline constexpr unsigned kGeneratorFirst = 0x5B;   // 133 octal: x[n], x[n-2], x[n-3], x[n-5], x[n-6]
inline constexpr unsigned kGeneratorSecond = 0x79;  // 171 octal: x[n], x[n-1], x[n-2], x[n-3], x[n-6]
inline constexpr int kConstraintLength = 7;

constexpr int CodeParity(unsigned x) { return std::popcount(x) & 1; }

class ConvolutionalEncoder {
public:
    struct CodePair {
        std::uint8_t first;
        std::uint8_t second;
    };

    constexpr void Reset() { register_ = 0; }

    constexpr CodePair Encode(int bit) {
        register_ = (register_ >> 1) | ((static_cast<unsigned>(bit) & 1u) << 6);
        return {static_cast<std::uint8_t>(CodeParity(register_ & kGeneratorFirst)),
                static_cast<std::uint8_t>(CodeParity(register_ & kGeneratorSecond))};
    }

private:
    unsigned register_ = 0;
};

}  // namespace kavra::modem
