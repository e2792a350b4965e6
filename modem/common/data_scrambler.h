// The 12-stage data scrambler (Galois form of x^12 + x^6 + x^4 + x + 1).
#pragma once

#include <cstdint>

namespace kavra::modem {

// One value 0..7 per data or known symbol.  The register is reset after every 160th value,
// so the sequence has period 160 like the standard's data sequence (the bare register would
// only come back to its start after 4095 shifts).
class DataScrambler {
public:
    static constexpr int kPeriod = 160;
    // r0..r11 = 1 0 1 1 0 1 0 1 1 1 0 1, bit i of the word holding r_i.
    static constexpr std::uint16_t kInitialState = 0b1011'1010'1101;

    constexpr DataScrambler() = default;

    constexpr void Reset() {
        state_ = kInitialState;
        count_ = 0;
    }

    constexpr int Next() {
        if (count_ == kPeriod) Reset();
        for (int i = 0; i < 8; ++i) Shift();
        ++count_;
        return state_ & 7;
    }

private:
    constexpr void Shift() {
        const unsigned c = (state_ >> 11) & 1u;
        // Taps feed r1, r4 and r6; r0 takes the bit shifted out of r11.
        unsigned s = (static_cast<unsigned>(state_) << 1) & 0xFFEu;
        s ^= c * 0b0000'0101'0010u;
        s |= c;
        state_ = static_cast<std::uint16_t>(s);
    }

    std::uint16_t state_ = kInitialState;
    int count_ = 0;
};

}  // namespace kavra::modem
