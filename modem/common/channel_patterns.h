// Preamble channel-symbol patterns, probe patterns and the preamble segment.
#pragma once

#include <array>
#include <cstdint>

namespace kavra::modem {

using ChannelPattern = std::array<std::uint8_t, 32>;
using ProbePatternSymbols = std::array<std::uint8_t, 16>;

namespace detail {

// Base patterns of channel symbols 0..7, repeated to 32 (or 16) symbols.
inline constexpr std::array<std::array<std::uint8_t, 8>, 8> kBasePatterns{{
    {0, 0, 0, 0, 0, 0, 0, 0},
    {0, 4, 0, 4, 0, 4, 0, 4},
    {0, 0, 4, 4, 0, 0, 4, 4},
    {0, 4, 4, 0, 0, 4, 4, 0},
    {0, 0, 0, 0, 4, 4, 4, 4},
    {0, 4, 0, 4, 4, 0, 4, 0},
    {0, 0, 4, 4, 4, 4, 0, 0},
    {0, 4, 4, 0, 4, 0, 0, 4},
}};

inline constexpr std::array<std::uint8_t, 32> kPreambleScrambling{
    7, 4, 3, 0, 5, 1, 5, 0, 2, 2, 1, 1, 5, 7, 4, 3, 5, 0, 2, 6, 2, 1, 6, 2, 0, 0, 5, 0, 5, 2, 6, 6};

constexpr std::array<ChannelPattern, 8> BuildChannelPatterns() {
    std::array<ChannelPattern, 8> patterns{};
    for (std::size_t s = 0; s < 8; ++s)
        for (std::size_t i = 0; i < 32; ++i)
            patterns[s][i] = static_cast<std::uint8_t>((kBasePatterns[s][i % 8] + kPreambleScrambling[i]) % 8);
    patterns[3][9] = 0;  // this system's one changed element (the rule gives 6)
    return patterns;
}

constexpr std::array<ProbePatternSymbols, 8> BuildProbePatterns() {
    std::array<ProbePatternSymbols, 8> patterns{};
    for (std::size_t s = 0; s < 8; ++s)
        for (std::size_t i = 0; i < 16; ++i) patterns[s][i] = kBasePatterns[s][i % 8];
    return patterns;
}

}  // namespace detail

// Pattern s: its base pattern plus the preamble scrambling sequence, mod 8 (preamble only).
inline constexpr std::array<ChannelPattern, 8> kChannelSymbolPatterns = detail::BuildChannelPatterns();

// Pattern s: its base pattern, unscrambled; sent in the known symbols at the end of each block.
inline constexpr std::array<ProbePatternSymbols, 8> kProbePatterns = detail::BuildProbePatterns();

inline constexpr int kPreambleSegmentChannelSymbols = 15;

// The 15 channel symbols of one preamble segment; n = segments still to follow (0 in the last).
constexpr std::array<std::uint8_t, kPreambleSegmentChannelSymbols> PreambleSegment(int d1, int d2, int n) {
    return {0, 1, 3, 0, 1, 3, 1, 2, 0,
            static_cast<std::uint8_t>(d1), static_cast<std::uint8_t>(d2),
            static_cast<std::uint8_t>(4 + ((n >> 4) & 3)),
            static_cast<std::uint8_t>(4 + ((n >> 2) & 3)),
            static_cast<std::uint8_t>(4 + (n & 3)), 0};
}

}  // namespace kavra::modem
