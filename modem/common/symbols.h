// The 8-PSK symbol alphabet and the maps from coded bits to symbol numbers.
#pragma once

#include <array>
#include <cstdint>

namespace kavra::modem {

// Channel symbol k (0..7) is the carrier phase k x 45 degrees.
struct SymbolPoint {
    float i;  // cos(k x 45 deg)
    float q;  // sin(k x 45 deg)
};

inline constexpr float kHalfSqrt2 = 0.707107f;

inline constexpr std::array<SymbolPoint, 8> kSymbolPoints{{
    {1.0f, 0.0f},
    {kHalfSqrt2, kHalfSqrt2},
    {0.0f, 1.0f},
    {-kHalfSqrt2, kHalfSqrt2},
    {-1.0f, 0.0f},
    {-kHalfSqrt2, -kHalfSqrt2},
    {0.0f, -1.0f},
    {kHalfSqrt2, -kHalfSqrt2},
}};

// Gray maps; the first bit read is the most significant bit of the index.
inline constexpr std::array<std::uint8_t, 8> kTribitMap{0, 1, 3, 2, 7, 6, 4, 5};
inline constexpr std::array<std::uint8_t, 4> kDibitMap{0, 2, 6, 4};
inline constexpr std::array<std::uint8_t, 2> kBitMap{0, 4};

}  // namespace kavra::modem
