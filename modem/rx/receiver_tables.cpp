#include "modem/rx/receiver_tables.h"

#include <cmath>

#include "modem/common/channel_patterns.h"
#include "modem/common/data_scrambler.h"

namespace kavra::modem {

SineTable::SineTable() {
    for (int k = 0; k < kSize; ++k)
        table_[static_cast<std::size_t>(k)] = std::sin(static_cast<float>(k) * 0.0015707964f);
}

SnrMap::SnrMap() {
    for (int i = 0; i + 1 < kEntries; ++i)
        midpoints_[static_cast<std::size_t>(i)] =
            0.5f * (kRatios[static_cast<std::size_t>(i)] + kRatios[static_cast<std::size_t>(i + 1)]);
}

float SnrMap::SnrFromError(float ratio) const noexcept {
    // Ratios fall with the index; entry i wins while the ratio is at or above the midpoint to
    // entry i + 1.  Written as "not below" so that NaN stops at the first entry.
    for (int i = 0; i + 1 < kEntries; ++i)
        if (!(ratio < midpoints_[static_cast<std::size_t>(i)])) return kFirstDb + static_cast<float>(i);
    return kFirstDb + static_cast<float>(kEntries - 1);
}

PreambleReference::PreambleReference(const SineTable& sine, int rotation_step) {
    for (int pattern = 0; pattern < 8; ++pattern) {
        for (int i = 0; i < kBlockSymbols; ++i) {
            const int s = kChannelSymbolPatterns[static_cast<std::size_t>(pattern)][static_cast<std::size_t>(i)];
            const float re = kDecisionSet8.re[static_cast<std::size_t>(s)];
            const float im = kDecisionSet8.im[static_cast<std::size_t>(s)];
            const Complex turn = sine.Rotor(static_cast<float>((rotation_step * i) % 4000));
            // Bank Y: times e^{+j i step}; bank X: times e^{-j i step}.
            const Complex y{re * turn.re - im * turn.im, re * turn.im + im * turn.re};
            const Complex x{re * turn.re + im * turn.im, im * turn.re - re * turn.im};
            const auto row = static_cast<std::size_t>(i);
            c[row][static_cast<std::size_t>(kBankZ * 8 + pattern)] = re;
            d[row][static_cast<std::size_t>(kBankZ * 8 + pattern)] = im;
            c[row][static_cast<std::size_t>(kBankY * 8 + pattern)] = y.re;
            d[row][static_cast<std::size_t>(kBankY * 8 + pattern)] = y.im;
            c[row][static_cast<std::size_t>(kBankX * 8 + pattern)] = x.re;
            d[row][static_cast<std::size_t>(kBankX * 8 + pattern)] = x.im;
        }
    }
}

SymbolTable BuildPreambleSymbolTable() {
    // The common part and the closing block of a segment; blocks 9..13 (D1, D2, C1..C3) vary.
    constexpr std::array<int, 15> kSegmentPatterns{0, 1, 3, 0, 1, 3, 1, 2, 0, -1, -1, -1, -1, -1, 0};
    SymbolTable table{};
    for (int i = 0; i < kFrameLength; ++i) {
        const int position = (i + 160) % kFrameLength;
        const int pattern = kSegmentPatterns[static_cast<std::size_t>(position / 32)];
        table[static_cast<std::size_t>(i)] =
            pattern < 0 ? std::int16_t{-1}
                        : static_cast<std::int16_t>(kChannelSymbolPatterns[static_cast<std::size_t>(pattern)]
                                                                          [static_cast<std::size_t>(position % 32)]);
    }
    return table;
}

namespace {

struct LayoutShape {
    int unknown;     // data symbols per sub-frame (after the known run for Known1)
    int known;       // known symbols per sub-frame
    bool known_first;
};

constexpr LayoutShape Shape(FrameLayout layout) {
    switch (layout) {
        case FrameLayout::Known16: return {32, 16, false};
        case FrameLayout::Known20: return {20, 20, false};
        case FrameLayout::Known1: return {3, 1, true};
    }
    return {32, 16, false};
}

// Data scrambler values of one 480-symbol frame; the sequence restarts with every frame.
std::array<int, kFrameLength> FrameScrambling() {
    std::array<int, kFrameLength> c{};
    DataScrambler scrambler;
    for (int& v : c) v = scrambler.Next();
    return c;
}

}  // namespace

SymbolTable BuildFrameSymbolTable(FrameLayout layout) {
    const LayoutShape shape = Shape(layout);
    const auto c = FrameScrambling();
    const int length = shape.unknown + shape.known;
    SymbolTable table{};
    for (int p = 0; p < kFrameLength; ++p) {
        const int in_frame = p % length;
        const bool known = shape.known_first ? in_frame < shape.known : in_frame >= shape.unknown;
        const int scramble = c[static_cast<std::size_t>(p)];
        table[static_cast<std::size_t>(p)] = static_cast<std::int16_t>(known ? scramble : kUnknownSymbol + scramble);
    }
    return table;
}

SymbolTable BuildLastFrameSymbolTable(FrameLayout layout, int d1, int d2) {
    SymbolTable table = BuildFrameSymbolTable(layout);
    const LayoutShape shape = Shape(layout);
    const auto c = FrameScrambling();
    const int length = shape.unknown + shape.known;
    const int sub_frames = kFrameLength / length;
    // The known runs of the last two sub-frames carry probe patterns D1 and D2: 16 symbols,
    // then plain known symbols (4 of them in a 20-symbol run).  In the 75 bit/s layout each
    // run is one symbol, and every probe pattern begins with 0, so nothing changes there.
    for (int which = 0; which < 2; ++which) {
        const int sub_frame = sub_frames - 2 + which;
        const int first = sub_frame * length + (shape.known_first ? 0 : shape.unknown);
        const auto& probe = kProbePatterns[static_cast<std::size_t>(which == 0 ? d1 : d2)];
        for (int k = 0; k < shape.known && k < static_cast<int>(probe.size()); ++k) {
            const auto p = static_cast<std::size_t>(first + k);
            table[p] = static_cast<std::int16_t>((probe[static_cast<std::size_t>(k)] + c[p]) % 8);
        }
    }
    return table;
}

DataModeSelection SelectDataMode(int d1, int d2) noexcept {
    using enum Modulation;
    using enum FrameLayout;
    struct Row {
        int d1, d2;
        DataModeSelection selection;
    };
    static constexpr std::array<Row, 16> kRows{{
        {7, 6, {12, Psk8, 3, Known16}},
        {7, 7, {-1, Psk8, 3, Known16}},
        {6, 4, {0, Psk8, 3, Known16}},
        {4, 4, {1, Psk8, 24, Known16}},
        {6, 5, {2, Qpsk, 3, Known20}},
        {4, 5, {3, Qpsk, 24, Known20}},
        {6, 6, {4, Bpsk, 3, Known20}},
        {4, 6, {5, Bpsk, 24, Known20}},
        {6, 7, {6, Bpsk, 3, Known20}},
        {4, 7, {7, Bpsk, 24, Known20}},
        {7, 4, {8, Bpsk, 3, Known20}},
        {5, 4, {9, Bpsk, 24, Known20}},
        {7, 5, {10, Bpsk, 3, Known1}},
        {5, 5, {11, Bpsk, 24, Known1}},
        {5, 6, {-1, Bpsk, 3, Known20}},
        {5, 7, {-1, Bpsk, 3, Known20}},
    }};
    for (const Row& row : kRows)
        if (row.d1 == d1 && row.d2 == d2) return row.selection;
    return kRows[1].selection;  // unreachable for D1, D2 in 4..7
}

FrameTables::FrameTables() : preamble(BuildPreambleSymbolTable()) {
    for (int l = 0; l < 3; ++l) normal[static_cast<std::size_t>(l)] = BuildFrameSymbolTable(static_cast<FrameLayout>(l));
    for (int d1 = 4; d1 < 8; ++d1)
        for (int d2 = 4; d2 < 8; ++d2)
            last[static_cast<std::size_t>((d1 - 4) * 4 + (d2 - 4))] =
                BuildLastFrameSymbolTable(SelectDataMode(d1, d2).layout, d1, d2);
}

int SegmentCounts::Add(int read, int max_segments) noexcept {
    a_ = b_;
    b_ = c_;
    const bool plausible = read >= 0 && read < max_segments;
    // (Two implausible counts two segments apart once made a descending run of their own, which
    // then overrode every true count, and the preamble never reached its end.)
    if (plausible) c_ = {read, true};
    else if (b_.read_right && b_.value >= 1) c_ = {b_.value - 1, false};
    else c_ = {read, false};
    if (a_.read_right && c_.read_right && a_.value - c_.value == 2) b_ = {a_.value - 1, true};
    if (a_.read_right && b_.read_right && a_.value - b_.value == 1) c_ = {b_.value - 1, true};
    if (b_.read_right && c_.read_right && b_.value - c_.value == 1) a_ = {b_.value + 1, true};
    return c_.value;
}

}  // namespace kavra::modem
