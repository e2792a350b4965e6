#include "modem/decoder/block_decoder.h"

#include <algorithm>
#include <cmath>

#include "modem/common/end_of_message.h"
#include "modem/common/mode_table.h"

namespace kavra::modem {

namespace {

constexpr float kHalfSqrt2Exact = 0.70710677f;

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

// Third soft bit of an 8-PSK symbol: positive exactly when the third bit of the tribit is 0.
float ThirdSoftBit(float u, float v) {
    const float f = kHalfSqrt2Exact * (v - u);
    const float g = kHalfSqrt2Exact * (u + v);
    const float magnitude = std::min(std::abs(f), std::abs(g));
    const bool negative = (f < 0.0f) != (g < 0.0f);  // a zero counts as positive
    return negative ? -magnitude : magnitude;
}

}  // namespace

BlockDecoder::BlockDecoder()
    : soft_(static_cast<std::size_t>(kMaxSoftValues), 0.0f),
      deinterleaved_(static_cast<std::size_t>(kMaxSoftValues), 0.0f) {}

void BlockDecoder::DecodeBlock(ReceiverOutput& out) noexcept {
    const int mode = out.mode;
    out.decoded_bit_count = 0;
    out.eom_found = 0;
    if (!IsValidMode(mode)) return;
    const DataModeInfo& info = ModeInfo(mode);

    int count = Demap(out, mode);
    int bits = 0;
    if (info.modulation == Modulation::Uncoded8) {
        bits = std::min(count, static_cast<int>(out.decoded_bits.size()));
        for (int i = 0; i < bits; ++i)
            out.decoded_bits[static_cast<std::size_t>(i)] = soft_[static_cast<std::size_t>(i)] < 0.0f ? 1 : 0;
    } else {
        if (info.modulation == Modulation::Bpsk75) count = Combine75(count);
        Deinterleave(mode, count);
        count = CombineRepeats(info.repeats, info.rows * info.columns);
        bits = Decode(count, out);
    }

    out.decoded_bit_count = bits;
    const int eom = FindEndOfMessage(std::span<const std::int32_t>(out.decoded_bits.data(), static_cast<std::size_t>(bits)));
    if (eom >= 0) {
        out.eom_found = 1;
        out.decoded_bit_count = eom;
    }
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
                const float u = src[i].i;
                const float v = src[i].q;
                *dst++ = u;
                *dst++ = v;
                *dst++ = ThirdSoftBit(u, v);
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

int BlockDecoder::Decode(int count, ReceiverOutput& out) noexcept {
    const int pairs = std::min(count / 2, static_cast<int>(out.decoded_bits.size()));
    const float* x = deinterleaved_.data();
    std::int32_t* bits = out.decoded_bits.data();
    viterbi_.Reset();
    // Each step decides the bit of the step 64 before it: the first 64 results are dropped and
    // 64 empty pairs after the block bring out the last decisions.
    constexpr int kDelay = ViterbiDecoder::kTraceback;
    int j = 0;
    for (; j < pairs; ++j) {
        const float r = viterbi_.Step(x[2 * j], x[2 * j + 1]);
        if (j >= kDelay) bits[j - kDelay] = r < 0.0f ? 1 : 0;
    }
    for (; j < pairs + kDelay; ++j) {
        const float r = viterbi_.Step(0.0f, 0.0f);
        if (j >= kDelay) bits[j - kDelay] = r < 0.0f ? 1 : 0;
    }
    return pairs;
}

int FindEndOfMessage(std::span<const std::int32_t> bits) noexcept {
    std::uint32_t word = 0;
    const std::size_t n = bits.size();
    for (std::size_t i = 0; i < n; ++i) {
        word = (word << 1) | (static_cast<std::uint32_t>(bits[i]) & 1u);
        // The word's top bit is 0, so it could match after 31 bits; the whole word must be here.
        if (i >= 31 && word == kEomPattern) return static_cast<int>(i - 31);
    }
    return -1;
}

}  // namespace kavra::modem
