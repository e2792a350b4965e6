// The record shared by the receivers, the block decoder, the receive pipeline and the display.
#pragma once

#include <array>
#include <cstdint>

namespace kavra::modem {

inline constexpr int kMaxSoftSymbols = 8640;    // the largest block: 75 bit/s long
inline constexpr int kMaxDecodedBits = 23040;   // 2400 bit/s long, 7680 symbols x 3

struct SoftSymbol {
    float i;
    float q;
};

// Flag bits, assigned as whole values by the receiver and cleared by the demodulation thread.
inline constexpr int kRxFlagBits = 1;     // decoded bits ready
inline constexpr int kRxFlagEnd = 2;      // end of frame
inline constexpr int kRxFlagStart = 4;    // start of frame
inline constexpr int kRxFlagSyncLost = 8; // preamble tracking timed out
inline constexpr int kSnrNone = -100;

struct ReceiverOutput {
    // Received data mode 0..12, written by the receiver at the start of each interleaver block.
    int mode = 0;

    // Soft (I, Q) values of the unknown data symbols of the current block.
    std::array<SoftSymbol, kMaxSoftSymbols> soft_symbols{};
    int soft_symbol_count = 0;

    // Written by the block decoder: one 0/1 per decoded bit.
    std::array<std::int32_t, kMaxDecodedBits> decoded_bits{};
    int decoded_bit_count = 0;

    // Set by the decoder when it finds the end-of-message word; cleared by the receiver.
    int eom_found = 0;
};

}  // namespace kavra::modem
