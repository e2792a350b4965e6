// A test transmission in the receive-only 4800 bit/s mode (mode 12), which no transmitter of
// this system sends: the preamble announcing D1 = 7, D2 = 6, then blocks of three 480-symbol
// groups of ten frames, each frame 32 uncoded 8-PSK data symbols (three bits each through the
// tribit map, first bit most significant) and 16 known symbols, every symbol offset by the data
// scrambler (reset at each group).  The last two frames of each block carry the D1 and D2 probe
// patterns.  Made with the transmitter's waveform chain at 48000 Hz on 1800 Hz.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kavra::perf {

// Message bytes per block: 2880 bits.
inline constexpr int kBytesPerBlock4800 = 360;

// The message, then the end-of-message word four times and zero fill to whole blocks (a
// further block follows when the total is a multiple of the block), after a preamble of
// `segments` segments.  Bytes become bits least-significant bit first.
std::vector<std::int16_t> Transmit4800(std::span<const std::uint8_t> message, int segments = 6);

}  // namespace kavra::perf
