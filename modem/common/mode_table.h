// The table of data modes and the numbers every station must agree on.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kavra::modem {

// 0: 2400 symbols/s, 1800 Hz carrier.  1: 2000 symbols/s, 1500 Hz carrier.
inline constexpr int kModemTypeCount = 2;
constexpr bool IsValidModemType(int type) { return type == 0 || type == 1; }
constexpr int SymbolRate(int modem_type) { return modem_type == 1 ? 2000 : 2400; }
constexpr int DefaultCarrierHz(int modem_type) { return modem_type == 1 ? 1500 : 1800; }

enum class Modulation : std::uint8_t {
    Psk8,      // 3 coded bits per data symbol
    Qpsk,      // 2
    Bpsk,      // 1
    Bpsk75,    // 75 bit/s: 1 known symbol then 3 data symbols, repeated
    Uncoded8,  // 4800 bit/s: 3 bits per symbol, no code, no interleaver
};

// One row of the mode table.  Index 0..12; even = short interleave, odd = long, 12 = "4800".
struct DataModeInfo {
    std::string_view name_type0;
    std::string_view name_type1;  // empty where type 1 has no such mode
    int d1;
    int d2;
    Modulation modulation;
    int bits_per_symbol;       // coded bits carried by one data symbol
    int data_symbols;          // per frame
    int known_symbols;         // per frame
    int repeats;               // repeats of each coded pair (1, 2, 4); 0 where not applicable
    int rows;                  // interleaver rows (0 = no interleaver)
    int columns;               // interleaver columns
    int row_step;
    int column_step;
    int data_bits_per_block;   // decoded data bits per interleaver block
    bool long_interleave;
    bool transmitted;          // the transmitter builds only these
};

inline constexpr int kModeCount = 13;
inline constexpr int kTransmittedModeCount = 6;
inline constexpr int kMode4800 = 12;

inline constexpr std::array<DataModeInfo, kModeCount> kModeTable{{
    {"2400 short", "2000 short", 6, 4, Modulation::Psk8, 3, 32, 16, 1, 40, 72, 9, 17, 1440, false, true},
    {"2400 long", "2000 long", 4, 4, Modulation::Psk8, 3, 32, 16, 1, 40, 576, 9, 17, 11520, true, true},
    {"1200 short", "1000 short", 6, 5, Modulation::Qpsk, 2, 20, 20, 1, 40, 36, 9, 17, 720, false, true},
    {"1200 long", "1000 long", 4, 5, Modulation::Qpsk, 2, 20, 20, 1, 40, 288, 9, 17, 5760, true, true},
    {"600 short", "500 short", 6, 6, Modulation::Bpsk, 1, 20, 20, 1, 40, 18, 9, 17, 360, false, true},
    {"600 long", "500 long", 4, 6, Modulation::Bpsk, 1, 20, 20, 1, 40, 144, 9, 17, 2880, true, true},
    {"300 short", "", 6, 7, Modulation::Bpsk, 1, 20, 20, 2, 40, 18, 9, 17, 180, false, false},
    {"300 long", "", 4, 7, Modulation::Bpsk, 1, 20, 20, 2, 40, 144, 9, 17, 1440, true, false},
    {"150 short", "", 7, 4, Modulation::Bpsk, 1, 20, 20, 4, 40, 18, 9, 17, 90, false, false},
    {"150 long", "", 5, 4, Modulation::Bpsk, 1, 20, 20, 4, 40, 144, 9, 17, 720, true, false},
    {"75 short", "", 7, 5, Modulation::Bpsk75, 1, 3, 1, 0, 10, 9, 7, 7, 45, false, false},
    {"75 long", "", 5, 5, Modulation::Bpsk75, 1, 3, 1, 0, 20, 36, 7, 7, 360, true, false},
    {"4800", "", 7, 6, Modulation::Uncoded8, 3, 32, 16, 0, 0, 0, 0, 0, 0, false, false},
}};

constexpr bool IsValidMode(int mode) { return mode >= 0 && mode < kModeCount; }
constexpr bool IsTransmittedMode(int mode) { return mode >= 0 && mode < kTransmittedModeCount; }

// The row of a mode; an index outside 0..12 yields row 0 (callers validate first).
constexpr const DataModeInfo& ModeInfo(int mode) {
    return kModeTable[static_cast<std::size_t>(IsValidMode(mode) ? mode : 0)];
}

// The name shown to the user; empty for an index without a name under that modem type.
constexpr std::string_view ModeName(int mode, int modem_type) {
    if (!IsValidMode(mode)) return {};
    return modem_type == 1 ? ModeInfo(mode).name_type1 : ModeInfo(mode).name_type0;
}

// Mode announced by a preamble's (D1, D2) pair; (7,7), (5,6), (5,7) and the rest map to none.
constexpr std::optional<int> ModeFromPreamble(int d1, int d2) {
    for (int m = 0; m < kModeCount; ++m)
        if (kModeTable[static_cast<std::size_t>(m)].d1 == d1 &&
            kModeTable[static_cast<std::size_t>(m)].d2 == d2)
            return m;
    return std::nullopt;
}

// Symbols are counted in 480-symbol segments; a short block is 3 of them, a long one 24.
inline constexpr int kSegmentSymbols = 480;
inline constexpr int kShortBlockSymbols = 1440;
inline constexpr int kLongBlockSymbols = 11520;
constexpr int BlockSymbols(int mode) {
    return ModeInfo(mode).long_interleave ? kLongBlockSymbols : kShortBlockSymbols;
}
constexpr int FrameSymbols(int mode) { return ModeInfo(mode).data_symbols + ModeInfo(mode).known_symbols; }
constexpr int FramesPerBlock(int mode) { return BlockSymbols(mode) / FrameSymbols(mode); }
constexpr int CodedBitsPerBlock(int mode) { return ModeInfo(mode).rows * ModeInfo(mode).columns; }
// Bytes of message carried by one block of a transmitted mode: 180, 1440, 90, 720, 45, 360.
constexpr int DataBytesPerBlock(int mode) { return ModeInfo(mode).data_bits_per_block / 8; }

// Preamble as this system sends it: 6 segments for short modes, 12 for long ones.
constexpr int PreambleSegments(int mode) { return ModeInfo(mode).long_interleave ? 12 : 6; }
inline constexpr int kPreambleSegmentSymbols = 480;  // 15 channel symbols of 32
constexpr int PreambleSymbols(int mode) { return PreambleSegments(mode) * kPreambleSegmentSymbols; }

// Blocks a message of `length` bytes needs: the 16 end-of-message bytes are appended and a
// further block always follows the last byte (floor(T / B) + 1).
constexpr int BlocksForMessage(int mode, int length) {
    const int total = (length < 0 ? 0 : length) + 16;
    return total / DataBytesPerBlock(mode) + 1;
}

// Symbols on the air for a message: preamble plus whole blocks.
constexpr long long TransmissionSymbols(int mode, int length) {
    return PreambleSymbols(mode) + static_cast<long long>(BlocksForMessage(mode, length)) * BlockSymbols(mode);
}

// Air time in milliseconds at the symbol rate of the modem type.
constexpr long long TransmissionMillis(int modem_type, int mode, int length) {
    return TransmissionSymbols(mode, length) * 1000 / SymbolRate(modem_type);
}

// Data bits per second: 2400 .. 600 under type 0, 5/6 of that under type 1.
constexpr int DataRateBps(int modem_type, int mode) {
    if (mode == kMode4800) return 2 * SymbolRate(modem_type);
    return ModeInfo(mode).data_bits_per_block * SymbolRate(modem_type) / BlockSymbols(mode);
}

}  // namespace kavra::modem
