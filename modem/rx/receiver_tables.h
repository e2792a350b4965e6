// Constant tables and small pure functions of the serial-tone receivers.  Every table is built
// once by its constructor; nothing here changes afterwards.
#pragma once

#include <array>
#include <cstdint>

#include "modem/common/mode_table.h"
#include "modem/common/receiver_output.h"

namespace kavra::modem {

// ---------------------------------------------------------------------------------------------
// Phases: oscillator phases are floats in 1/4000 cycle, kept in [0, 4000).

inline constexpr float kPhaseCycle = 4000.0f;

// Wraps a phase into [0, 4000) (a non-finite value becomes 0, so no table index can go wrong).
inline float WrapPhase(float phase) noexcept {
    if (phase >= kPhaseCycle) phase -= kPhaseCycle;
    else if (phase < 0.0f) phase += kPhaseCycle;
    if (phase >= 0.0f && phase < kPhaseCycle) return phase;
    return 0.0f;
}

// Truncates toward zero; saturates far outside the int range and maps NaN to 0.
inline int TruncToInt(float v) noexcept {
    if (v != v) return 0;
    if (v >= 1.0e9f) return 1000000000;
    if (v <= -1.0e9f) return -1000000000;
    return static_cast<int>(v);
}

struct Complex {
    float re;
    float im;
};

// 5000 values of sin(k * 2 pi / 4000): sin of phase p is entry trunc(p), cos entry trunc(p) + 1000.
class SineTable {
public:
    static constexpr int kSize = 5000;
    SineTable();

    // e^{j 2 pi p / 4000}; p outside [0, 4000) is read as 0.
    Complex Rotor(float phase) const noexcept {
        const int k = (phase >= 0.0f && phase < kPhaseCycle) ? static_cast<int>(phase) : 0;
        return {table_[static_cast<std::size_t>(k + 1000)], table_[static_cast<std::size_t>(k)]};
    }
    float Sin(float phase) const noexcept { return Rotor(phase).im; }
    float Cos(float phase) const noexcept { return Rotor(phase).re; }
    float operator[](int k) const noexcept { return table_[static_cast<std::size_t>(k)]; }

private:
    std::array<float, kSize> table_{};
};

// |a| + 0.414214 |b| for the larger |a|, the cheap magnitude used throughout the receiver.
inline float ApproxMagnitude(float a, float b) noexcept {
    const float x = a < 0.0f ? -a : a;
    const float y = b < 0.0f ? -b : b;
    // Larger plus 0.414214 times smaller, written without a branch.
    const float larger = x > y ? x : y;
    const float smaller = x > y ? y : x;
    return larger + 0.414214f * smaller;
}

// Soft value of a data symbol before its noise weight, from a = trunc(1000 I), b = trunc(1000 Q):
// limited to an approximate magnitude of 1500, the components truncated again.
inline SoftSymbol LimitedSoftSymbol(float a, float b) noexcept {
    constexpr float kSoftLimit = 1500.0f;
    const float mag = ApproxMagnitude(a, b);
    if (mag > kSoftLimit) {
        a = static_cast<float>(TruncToInt(a * kSoftLimit / mag));
        b = static_cast<float>(TruncToInt(b * kSoftLimit / mag));
    }
    return {a, b};
}

// The soft value of an equaliser output v in its decision set (v = 1 at a point).
inline SoftSymbol SoftValueOf(Complex v) noexcept {
    return LimitedSoftSymbol(static_cast<float>(TruncToInt(1000.0f * v.re)), static_cast<float>(TruncToInt(1000.0f * v.im)));
}

// Index 0..7 of the 45-degree sector, centred on the 8-point reference at 67.5 - 45 m degrees,
// that holds (a, b).  "Not greater than zero" includes NaN.
inline int Decide8Psk(float a, float b) noexcept {
    const float x = a < 0.0f ? -a : a;
    const float y = b < 0.0f ? -b : b;
    const bool a_low = !(a > 0.0f);
    const bool b_low = !(b > 0.0f);
    if (x > y) {
        if (b_low) return a_low ? 5 : 2;
        return a_low ? 6 : 1;
    }
    if (b_low) return a_low ? 4 : 3;
    return a_low ? 7 : 0;
}

// ---------------------------------------------------------------------------------------------
// Decision sets.  Point m of a set is re[m] + j im[m]; the 8-point set is at 67.5 - 45 m degrees.

struct DecisionSet {
    int size;
    std::array<float, 8> re;
    std::array<float, 8> im;
};

inline constexpr DecisionSet kDecisionSet8{
    8,
    {0.38268f, 0.92388f, 0.92388f, 0.38268f, -0.38268f, -0.92388f, -0.92388f, -0.38268f},
    {0.92388f, 0.38268f, -0.38268f, -0.92388f, -0.92388f, -0.38268f, 0.38268f, 0.92388f}};
inline constexpr DecisionSet kDecisionSet4{
    4, {0.7071f, 0.7071f, -0.7071f, -0.7071f, 0, 0, 0, 0}, {0.7071f, -0.7071f, -0.7071f, 0.7071f, 0, 0, 0, 0}};
inline constexpr DecisionSet kDecisionSet2{2, {1.0f, -1.0f, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}};

inline Complex Mul(Complex a, Complex b) noexcept { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
inline Complex Conj(Complex a) noexcept { return {a.re, -a.im}; }

// The descrambling rotor of scrambler value c (0..7): e^{j(22.5 + 45 c) deg}, 8-point entry c
// with its parts swapped.
inline Complex ScrambleRotor(int c) noexcept {
    return {kDecisionSet8.im[static_cast<std::size_t>(c)], kDecisionSet8.re[static_cast<std::size_t>(c)]};
}

// Rotation from each decision set back to the descrambled symbol (its conjugate turns a
// descrambled symbol into the set).
inline constexpr Complex kFromSet8{0.92388f, 0.38268f};  // e^{j 22.5 deg}
inline constexpr Complex kFromSet4{0.7071f, 0.7071f};  // e^{j 45 deg}

// Into and out of the decision set of a modulation: its points, the shift from an 8-PSK
// decision to an index in it (also the row of its bits-to-symbol table), and the turn back.
struct DecisionFrame {
    const DecisionSet* set;
    int shift;
    Complex from;
    // A descrambled symbol turned into the set.
    Complex Into(Complex d) const noexcept { return Mul(d, Conj(from)); }
    int bits_per_symbol() const noexcept { return 3 - shift; }
};

inline DecisionFrame FrameOf(Modulation decisions) noexcept {
    switch (decisions) {
        case Modulation::Qpsk: return {&kDecisionSet4, 1, kFromSet4};
        case Modulation::Bpsk:
        case Modulation::Bpsk75: return {&kDecisionSet2, 2, {0.0f, 1.0f}};
        default: return {&kDecisionSet8, 0, kFromSet8};
    }
}

// ---------------------------------------------------------------------------------------------
// S/N from the mean known-symbol error: the nearest of 41 ratios, 0.91 (-5 dB) .. 0.02 (35 dB);
// a ratio exactly between two entries takes the earlier (lower-dB) one.

class SnrMap {
public:
    static constexpr int kEntries = 41;
    static constexpr std::array<float, kEntries> kRatios{
        0.91f, 0.87f, 0.83f, 0.8f,  0.75f, 0.71f, 0.67f, 0.64f,  0.59f, 0.54f,  0.49f,
        0.44f, 0.4f,  0.37f, 0.33f, 0.3f,  0.26f, 0.23f, 0.21f,  0.19f, 0.17f,  0.15f,
        0.14f, 0.12f, 0.11f, 0.1f,  0.09f, 0.08f, 0.07f, 0.06f,  0.055f, 0.05f, 0.045f,
        0.04f, 0.035f, 0.033f, 0.029f, 0.027f, 0.024f, 0.022f, 0.02f};
    static constexpr float kFirstDb = -5.0f;

    SnrMap();
    // dB of the entry nearest to `ratio`; NaN reads as the worst entry.
    float SnrFromError(float ratio) const noexcept;
    // The point halfway between entries i and i + 1, as the look-up computes it.
    float Midpoint(int i) const noexcept { return midpoints_[static_cast<std::size_t>(i)]; }

private:
    std::array<float, kEntries - 1> midpoints_{};
};

// The countdown of a preamble, one count read per segment, mended from the counts before it: a
// count no preamble can carry (read in a fade) takes the place the count before it gives, if that
// one was read right, and a count that breaks a descending run of counts read right is taken from
// its neighbours.
class SegmentCounts {
public:
    static constexpr int kNone = 100;
    // Takes the count read in the next segment of a preamble of at most `max_segments`; returns
    // the count taken for that segment.
    int Add(int read, int max_segments) noexcept;
    int current() const noexcept { return c_.value; }
    // The count taken was 0 but the segment is not the last: the count before it less one, at
    // least 1, or none.
    void NotLast(int max_segments) noexcept {
        c_ = {b_.value >= 1 && b_.value <= max_segments ? (b_.value > 1 ? b_.value - 1 : 1) : kNone, false};
    }
    void Reset() noexcept { a_ = b_ = c_ = Count{}; }

private:
    // A count taken, and whether it was read as a count a preamble can carry (or mended from
    // such counts): only those prove a run.  A count put in place of an implausible one always
    // continues the run before it, so taking it as proof made any wrong count before an
    // implausible one override every true count after it.
    struct Count {
        int value = kNone;
        bool read_right = false;
    };
    Count a_, b_, c_;  // the last three segments, oldest first
};

// ---------------------------------------------------------------------------------------------
// Correlator references: 3 banks (Z 0 Hz, Y about -60 Hz, X about +60 Hz) x 8 preamble
// patterns x 32 symbols.  Stored symbol-major (c[i][r], r = 8 bank + pattern) so the kernels
// can run four or more references side by side, each summing over the symbols in order.

inline constexpr int kCorrelatorBanks = 3;
inline constexpr int kBankZ = 0;
inline constexpr int kBankY = 1;
inline constexpr int kBankX = 2;
inline constexpr int kCorrelatorRefs = 24;
inline constexpr int kBlockSymbols = 32;

struct alignas(64) PreambleReference {
    std::array<std::array<float, kCorrelatorRefs>, kBlockSymbols> c{};  // real parts
    std::array<std::array<float, kCorrelatorRefs>, kBlockSymbols> d{};  // imaginary parts

    // `rotation_step`: 1/4000 cycle per symbol by which banks Y (+) and X (-) turn.
    PreambleReference(const SineTable& sine, int rotation_step);
};

// ---------------------------------------------------------------------------------------------
// Symbol tables.  A preamble table entry is the 8-point index the equaliser is trained on (-1
// where the symbol is not known); a frame table entry is 256 + c for an unknown data symbol
// and (k + c) mod 8 for a known one, c being the data scrambler value of that position.

inline constexpr int kFrameLength = 480;
inline constexpr int kUnknownSymbol = 256;
using SymbolTable = std::array<std::int16_t, kFrameLength>;

// Entry i: the symbol expected at preamble segment position (i + 160) mod 480.  The
// equaliser is trained to put channel symbol s on 8-point reference s (at 67.5 - 45 s
// degrees), the same place the data path, the correlator and the decoder expect it.
SymbolTable BuildPreambleSymbolTable();

enum class FrameLayout : std::uint8_t {
    Known16,   // 32 unknown then 16 known, 10 times (4800, 2400)
    Known20,   // 20 unknown then 20 known, 12 times (1200 .. 150)
    Known1,    // 1 known then 3 unknown, 120 times (75)
};

// The normal frame table of a layout (every known symbol carries 0).
SymbolTable BuildFrameSymbolTable(FrameLayout layout);
// The last frame of an interleaver block: its last two known runs carry the probe patterns
// D1 and D2 as the transmitter sends them.
SymbolTable BuildLastFrameSymbolTable(FrameLayout layout, int d1, int d2);

// What the receiver does with a preamble's (D1, D2) pair.
struct DataModeSelection {
    int mode;                 // mode index 0..12, or -1 to keep the previous index
    Modulation decisions;     // Psk8, Qpsk or Bpsk (the 4800 and 75 bit/s rows decide as 8-PSK / BPSK)
    int frames_per_block;     // 480-symbol frames: 3 or 24
    FrameLayout layout;
};
// D1 and D2 in 4..7; every pair has a row.
DataModeSelection SelectDataMode(int d1, int d2) noexcept;

// The tables a receiver needs, built once.
struct FrameTables {
    SymbolTable preamble;
    std::array<SymbolTable, 3> normal;       // by FrameLayout
    std::array<SymbolTable, 16> last;        // by (D1 - 4) * 4 + (D2 - 4)
    FrameTables();
    const SymbolTable& Last(int d1, int d2) const noexcept {
        return last[static_cast<std::size_t>((d1 - 4) * 4 + (d2 - 4))];
    }
    const SymbolTable& Normal(FrameLayout layout) const noexcept {
        return normal[static_cast<std::size_t>(layout)];
    }
};

}  // namespace kavra::modem
