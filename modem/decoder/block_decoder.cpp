#include "modem/decoder/block_decoder.h"

#include <algorithm>
#include <cmath>

#include "modem/common/end_of_message.h"
#include "modem/common/mode_table.h"

namespace kavra::modem {

namespace {

constexpr float kHalfSqrt2Exact = 0.70710677f;

// Decisions come out this many code pairs after their pair went in.
constexpr int kDelay = ViterbiDecoder::kTraceback;

// Values per group and combined values per group of the 75 bit/s layout: 24 values are the
// unknown symbols of 32 channel symbols (one known then three unknown, repeated).
constexpr int kGroup75 = 24;

int ValuesPerSymbol(Modulation modulation) {
    switch (modulation) {
        case Modulation::Psk8:
        case Modulation::Uncoded8:
            return 3;
        case Modulation::Qpsk:
            return 2;
        case Modulation::Bpsk:
        case Modulation::Bpsk75:
            return 1;
    }
    return 1;
}

}  // namespace

BlockDecoder::BlockDecoder()
    : soft_(static_cast<std::size_t>(kMaxSoftValues), 0.0f),
      deinterleaved_(static_cast<std::size_t>(kMaxSoftValues), 0.0f),
      path_history_(static_cast<std::size_t>(kMaxSoftValues / 2)),
      path_pairs_(static_cast<std::size_t>(kMaxSoftValues / 2)) {}

int BlockDecoder::BlockCodeBits(const ReceiverOutput& out, bool first_of_frame, std::span<std::uint8_t> bits) noexcept {
    const int mode = out.mode;
    if (!IsValidMode(mode)) return 0;
    const DataModeInfo& info = ModeInfo(mode);
    if (info.modulation == Modulation::Uncoded8 || info.modulation == Modulation::Bpsk75) return 0;
    Deinterleave(mode, Demap(out, mode));
    const int size = info.rows * info.columns;
    const int repeats = info.repeats > 1 ? info.repeats : 1;
    const int pairs = CombineRepeats(repeats, size) / 2;
    const bool from_zero = first_of_frame || mode != frame_mode_;
    viterbi_.BestPath(deinterleaved_.data(), pairs, from_zero, path_history_.data(), path_pairs_.data());
    // Sent position f carried the value at coding position order[f] of the repeated stream.
    const std::span<const std::uint16_t> order = fetch_order_.ForMode(mode);
    const int count = std::min({static_cast<int>(order.size()), static_cast<int>(bits.size()), size});
    for (int f = 0; f < count; ++f) {
        const int p = order[static_cast<std::size_t>(f)];
        const int pair = p / (2 * repeats);
        const int code = pair < pairs ? path_pairs_[static_cast<std::size_t>(pair)] : 0;
        bits[static_cast<std::size_t>(f)] = static_cast<std::uint8_t>((p & 1) == 0 ? (code >> 1) & 1 : code & 1);
    }
    return count;
}

void BlockDecoder::DecodeBlock(ReceiverOutput& out) noexcept {
    // A frame of one block, its held-back tail appended.
    DecodeFrameBlock(out, true);
    if (HoldsTail()) {
        const int head = out.decoded_bit_count;
        out.decoded_bit_count += RunTrellis(nullptr, kDelay, out.decoded_bits.data() + head);
        SearchEndOfMessage(out, head);
    }
    frame_mode_ = -1;
}

void BlockDecoder::DecodeFrameBlock(ReceiverOutput& out, bool first_of_frame) noexcept {
    out.decoded_bit_count = 0;
    out.eom_found = 0;
    const int mode = out.mode;
    if (!IsValidMode(mode)) {
        frame_mode_ = -1;
        return;
    }
    if (first_of_frame || mode != frame_mode_) {
        viterbi_.Reset();
        frame_mode_ = mode;
        frame_pairs_ = 0;
        eom_search_.Reset();
        eom_seen_ = false;
    } else {
        viterbi_.Normalize();
    }
    const int pairs = PrepareBlock(out, mode);
    if (pairs >= 0) out.decoded_bit_count = RunTrellis(deinterleaved_.data(), pairs, out.decoded_bits.data());
    SearchEndOfMessage(out, 0);
}

bool BlockDecoder::HoldsTail() const noexcept {
    return frame_mode_ >= 0 && ModeInfo(frame_mode_).modulation != Modulation::Uncoded8 && frame_pairs_ > 0 &&
           !eom_seen_;
}

bool BlockDecoder::FinishFrame(ReceiverOutput& out) noexcept {
    const bool held = HoldsTail();
    frame_mode_ = -1;
    if (!held) return false;
    out.eom_found = 0;
    out.decoded_bit_count = RunTrellis(nullptr, kDelay, out.decoded_bits.data());
    SearchEndOfMessage(out, 0);
    return out.decoded_bit_count > 0 || out.eom_found != 0;
}

int BlockDecoder::PrepareBlock(ReceiverOutput& out, int mode) noexcept {
    const DataModeInfo& info = ModeInfo(mode);
    int count = Demap(out, mode);
    if (info.modulation == Modulation::Uncoded8) {
        const int bits = std::min(count, static_cast<int>(out.decoded_bits.size()));
        for (int i = 0; i < bits; ++i)
            out.decoded_bits[static_cast<std::size_t>(i)] = soft_[static_cast<std::size_t>(i)] < 0.0f ? 1 : 0;
        out.decoded_bit_count = bits;
        return -1;
    }
    if (info.modulation == Modulation::Bpsk75) count = Combine75(count);
    Deinterleave(mode, count);
    count = CombineRepeats(info.repeats, info.rows * info.columns);
    return std::min(count / 2, static_cast<int>(out.decoded_bits.size()));
}

int BlockDecoder::Demap(const ReceiverOutput& out, int mode) noexcept {
    const int per_symbol = ValuesPerSymbol(ModeInfo(mode).modulation);
    const int limit = std::min(static_cast<int>(out.soft_symbols.size()), kMaxSoftValues / per_symbol);
    const int n = std::clamp(out.soft_symbol_count, 0, limit);
    float* dst = soft_.data();
    const SoftSymbol* src = out.soft_symbols.data();
    switch (per_symbol) {
        case 3:
            for (int i = 0; i < n; ++i) {
                const std::array<float, 3> bits = EightPskSoftBits(src[i].i, src[i].q);
                *dst++ = bits[0];
                *dst++ = bits[1];
                *dst++ = bits[2];
            }
            break;
        case 2:
            for (int i = 0; i < n; ++i) {
                *dst++ = src[i].i;
                *dst++ = src[i].q;
            }
            break;
        default:
            for (int i = 0; i < n; ++i) *dst++ = src[i].i;
            break;
    }
    return n * per_symbol;
}

int BlockDecoder::Combine75(int count) noexcept {
    const int groups = count / kGroup75;
    for (int g = 0; g < groups; ++g) {
        const float* x = soft_.data() + g * kGroup75;
        float first = x[1];
        float second = x[2];
        for (int k = 3; k < kGroup75; k += 3) {
            first += x[k + 1];
            second += x[k + 2];
        }
        // The group's values have all been read before its two sums overwrite the front.
        soft_[static_cast<std::size_t>(2 * g)] = first;
        soft_[static_cast<std::size_t>(2 * g + 1)] = second;
    }
    return 2 * groups;
}

void BlockDecoder::Deinterleave(int mode, int count) noexcept {
    // order[f] = coding-order position of the value sent at position f.
    const std::span<const std::uint16_t> order = fetch_order_.ForMode(mode);
    const std::size_t size = order.size();
    if (static_cast<std::size_t>(count) < size)
        std::fill(soft_.begin() + count, soft_.begin() + static_cast<std::ptrdiff_t>(size), 0.0f);
    for (std::size_t f = 0; f < size; ++f) deinterleaved_[order[f]] = soft_[f];
}

int BlockDecoder::CombineRepeats(int repeats, int count) noexcept {
    if (repeats <= 1) return count;
    const int group = 2 * repeats;
    const int groups = count / group;
    float* x = deinterleaved_.data();
    for (int g = 0; g < groups; ++g) {
        const float* in = x + g * group;
        float first = in[0];
        float second = in[1];
        for (int k = 2; k < group; k += 2) {
            first += in[k];
            second += in[k + 1];
        }
        x[2 * g] = first;
        x[2 * g + 1] = second;
    }
    return 2 * groups;
}

int BlockDecoder::RunTrellis(const float* x, int pairs, std::int32_t* bits) noexcept {
    // The step with index g in the frame decides the bit of step g - 64.
    int written = 0;
    for (int j = 0; j < pairs; ++j) {
        const float r = x != nullptr ? viterbi_.Step(x[2 * j], x[2 * j + 1]) : viterbi_.Step(0.0f, 0.0f);
        if (frame_pairs_++ >= kDelay) bits[written++] = r < 0.0f ? 1 : 0;
    }
    return written;
}

void BlockDecoder::SearchEndOfMessage(ReceiverOutput& out, int from) noexcept {
    if (eom_seen_) {
        out.decoded_bit_count = from;
        return;
    }
    const int count = out.decoded_bit_count;
    for (int i = from; i < count; ++i) {
        if (eom_search_.Push(static_cast<std::uint32_t>(out.decoded_bits[static_cast<std::size_t>(i)]))) {
            eom_seen_ = true;
            out.eom_found = 1;
            out.decoded_bit_count = std::max(0, i - 31);
            return;
        }
    }
}

std::array<float, 3> EightPskSoftBits(float u, float v) noexcept {
    // First bit (boundary u = 0): next to the boundary the nearest points on either side are
    // neighbours and the value is u; beyond the diagonal |u| = |v| the nearest point across is
    // three points away and the value grows by 1/sqrt2 of the excess of |u| over |v|.  The
    // second bit is the same with u and v exchanged.
    const float au = std::abs(u);
    const float av = std::abs(v);
    const float first = u + std::copysign(kHalfSqrt2Exact * std::max(0.0f, au - av), u);
    const float second = v + std::copysign(kHalfSqrt2Exact * std::max(0.0f, av - au), v);
    // Third bit (boundaries on the diagonals): the distance to the nearer diagonal, negative
    // when f and g differ in sign (a zero counts as positive).
    const float f = kHalfSqrt2Exact * (v - u);
    const float g = kHalfSqrt2Exact * (u + v);
    const float magnitude = std::min(std::abs(f), std::abs(g));
    const bool negative = (f < 0.0f) != (g < 0.0f);
    return {first, second, negative ? -magnitude : magnitude};
}

int FindEndOfMessage(std::span<const std::int32_t> bits) noexcept {
    EndOfMessageSearch search;
    for (std::size_t i = 0; i < bits.size(); ++i)
        if (search.Push(static_cast<std::uint32_t>(bits[i]))) return static_cast<int>(i) - 31;
    return -1;
}

}  // namespace kavra::modem
