// The record shared by the receivers, the block decoder, the receive pipeline and the display.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace kavra::modem {

inline constexpr int kMaxSoftSymbols = 8640;    // the largest block: 75 bit/s long
inline constexpr int kMaxDecodedBits = 23040;   // 2400 bit/s long, 7680 symbols x 3
inline constexpr int kConstellationTraceLength = 256;

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

// One record per station, shared by both receivers (only the active one is fed).  Fields read
// by another thread than their writer are atomics with one writer each; a reader may see a
// value one sample old.  The soft symbols, decoded bits and their counts belong to the
// demodulation thread alone: the receiver and its decoder write them inside ProcessSample and
// the same thread reads them after the call.
struct ReceiverOutput {
    // --- written by the host ---
    // Carrier the receiver mixes down, Hz (0..3999; 1800 for type 0, 1500 for type 1).
    std::atomic<int> rx_carrier{1800};
    // True capture rate of the sound card, Hz (setting CORR_FREQC).
    std::atomic<int> card_rate{48000};

    // --- written by the receiver ---
    // Measured carrier offset, Hz, updated every baseband sample; positive: signal above rx_carrier.
    std::atomic<int> freq_offset{0};
    // kRxFlag* values; the receiver assigns 5 (first block of a frame), 1 (later blocks) or 2
    // (end of frame), or ORs in 8.  The demodulation thread writes 0 after reading.
    std::atomic<int> flags{0};
    // Latest S/N estimate in dB (kSnrNone = none yet).
    std::atomic<int> snr{kSnrNone};
    // Statistics of the frame just ended, dB.
    std::atomic<int> snr_min{kSnrNone};
    std::atomic<int> snr_avg{kSnrNone};
    std::atomic<int> snr_max{kSnrNone};
    // 1 from the switch to data until the end of the frame.
    std::atomic<int> receiving{0};
    // Received data mode 0..12, written by the receiver at the start of each interleaver block.
    std::atomic<int> mode{0};

    // Soft (I, Q) values of the unknown data symbols of the current block.
    std::array<SoftSymbol, kMaxSoftSymbols> soft_symbols{};
    int soft_symbol_count = 0;

    // Written by the block decoder: one 0/1 per decoded bit.
    std::array<std::int32_t, kMaxDecodedBits> decoded_bits{};
    int decoded_bit_count = 0;

    // Set by the decoder when it finds the end-of-message word; cleared by the receiver.
    int eom_found = 0;

    // trunc(44 I), trunc(44 Q) of each equalised symbol, for the tuning window; the position
    // names the next entry to write and wraps at 256.
    std::array<std::atomic<int>, kConstellationTraceLength> trace_i{};
    std::array<std::atomic<int>, kConstellationTraceLength> trace_q{};
    std::atomic<int> trace_position{0};
};

}  // namespace kavra::modem
