// The block decoder on whatever a receiver could hand it: any mode number, any soft-symbol count
// (negative, beyond the buffers), any soft values (NaN, infinities, huge), blocks on their own
// and frames of blocks.  Its output must stay within the mode's bits, every bit 0 or 1; a block
// decoded on its own must not depend on what the decoder did before.
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "modem/common/mode_table.h"
#include "modem/decoder/block_decoder.h"

namespace kavra::fuzz {
namespace {

using modem::ReceiverOutput;

float SoftValue(Input& in) {
    const std::uint8_t kind = in.U8();
    switch (kind % 16) {
        case 0: return std::numeric_limits<float>::quiet_NaN();
        case 1: return std::numeric_limits<float>::infinity();
        case 2: return -std::numeric_limits<float>::infinity();
        case 3: return (kind & 0x80) != 0 ? 3.0e38f : -3.0e38f;
        case 4: return std::numeric_limits<float>::denorm_min();
        default: return static_cast<float>(static_cast<std::int8_t>(in.U8())) * ((kind & 0x80) != 0 ? 40.0f : 1.0f);
    }
}

int ModeFrom(Input& in) {
    const auto m = static_cast<std::int8_t>(in.U8());
    return m >= -3 && m <= 16 ? m : m % 14;
}

// Soft symbols: a pattern from the input, repeated to the chosen count.
void FillSymbols(ReceiverOutput& out, Input& in) {
    const std::uint16_t c = in.U16();
    int count = 0;
    switch (c % 4) {
        case 0: count = static_cast<int>(c >> 2) % (modem::kMaxSoftSymbols + 1); break;
        case 1: count = modem::BlockSymbols(ModeFrom(in)); break;
        case 2: count = -static_cast<int>(c >> 2); break;
        case 3: count = modem::kMaxSoftSymbols + static_cast<int>(c >> 2); break;
    }
    std::vector<modem::SoftSymbol> pattern;
    for (int n = 1 + in.U8() % 32; n > 0; --n) pattern.push_back({SoftValue(in), SoftValue(in)});
    for (std::size_t i = 0; i < out.soft_symbols.size(); ++i) out.soft_symbols[i] = pattern[i % pattern.size()];
    out.soft_symbol_count = count;
}

void CheckBits(const ReceiverOutput& out, int most) {
    KAVRA_CHECK_MSG(out.decoded_bit_count >= 0 && out.decoded_bit_count <= most,
                    std::to_string(out.decoded_bit_count) + " bits, at most " + std::to_string(most));
    for (int i = 0; i < out.decoded_bit_count; ++i) {
        const std::int32_t b = out.decoded_bits[static_cast<std::size_t>(i)];
        KAVRA_CHECK(b == 0 || b == 1);
    }
    KAVRA_CHECK(out.eom_found == 0 || out.eom_found == 1);
}

// Bits a mode's block may deliver: a coded block ignores symbols beyond its size.
int MostBits(int mode) {
    if (!modem::IsValidMode(mode)) return 0;
    if (mode == modem::kMode4800) return modem::kMaxDecodedBits;  // uncoded: every symbol given is decided
    return modem::ModeInfo(mode).data_bits_per_block;
}

void Run(Input& in) {
    auto decoder = std::make_unique<modem::BlockDecoder>();
    auto out = std::make_unique<ReceiverOutput>();
    int frame_mode = -1000;
    int steps = 0;
    while (!in.Empty() && ++steps <= 12) {
        const std::uint8_t op = in.U8();
        switch (op % 4) {
            case 0: {  // one block on its own, twice: once on a fresh decoder
                out->mode.store(ModeFrom(in));
                FillSymbols(*out, in);
                const int mode = out->mode.load();
                decoder->DecodeBlock(*out);
                CheckBits(*out, MostBits(mode));
                if (!modem::IsValidMode(mode)) KAVRA_CHECK(out->decoded_bit_count == 0);
                if ((op & 0x80) != 0) {
                    const std::vector<std::int32_t> first(out->decoded_bits.begin(),
                                                          out->decoded_bits.begin() + out->decoded_bit_count);
                    const int eom = out->eom_found;
                    auto fresh = std::make_unique<modem::BlockDecoder>();
                    fresh->DecodeBlock(*out);
                    KAVRA_CHECK(out->eom_found == eom);
                    KAVRA_CHECK(std::vector<std::int32_t>(out->decoded_bits.begin(),
                                                          out->decoded_bits.begin() + out->decoded_bit_count) == first);
                }
                break;
            }
            case 1:
            case 2: {  // the next block of a frame, or the first of a new one
                const bool first = op % 4 == 1 || frame_mode == -1000;
                if (first) frame_mode = ModeFrom(in);
                out->mode.store((op & 0x80) != 0 ? ModeFrom(in) : frame_mode);  // a mode change inside a frame
                FillSymbols(*out, in);
                decoder->DecodeFrameBlock(*out, first);
                CheckBits(*out, std::max(MostBits(out->mode.load()), MostBits(frame_mode)) + 64);
                break;
            }
            case 3:
                if (decoder->FinishFrame(*out)) CheckBits(*out, 64);
                frame_mode = -1000;
                break;
        }
    }
}

}  // namespace
}  // namespace kavra::fuzz

KAVRA_FUZZ_ENTRY(kavra::fuzz::Run)
