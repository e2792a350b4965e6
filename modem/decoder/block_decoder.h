// Decodes the soft symbols of one received interleaver block into data bits.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "modem/common/interleaver.h"
#include "modem/common/receiver_output.h"
#include "modem/decoder/viterbi_decoder.h"

namespace kavra::modem {

// Soft values of the largest block: 2400 bit/s long, 7680 symbols x 3 values.
inline constexpr int kMaxSoftValues = 23040;

// One per receiver.  DecodeBlock() demaps the soft symbols into soft bits (three per 8-PSK
// symbol, two per QPSK, one per BPSK), combines repetitions, undoes the interleaver, runs the
// Viterbi decoder and cuts the bits at the end-of-message word.  The 4800 bit/s mode (12) is
// uncoded and takes hard decisions.  All buffers are allocated here; DecodeBlock never allocates.
class BlockDecoder {
public:
    BlockDecoder();
    BlockDecoder(const BlockDecoder&) = delete;
    BlockDecoder& operator=(const BlockDecoder&) = delete;

    // Reads out.mode and out.soft_symbols[0, out.soft_symbol_count); writes out.decoded_bits,
    // out.decoded_bit_count and out.eom_found (1 when the word was found in this block, else 0).
    // A mode outside 0..12 decodes nothing.  A negative count is taken as 0 and one beyond the
    // buffers is cut to them.  Symbols missing from a coded block count as erasures (soft value
    // 0); symbols beyond its size are ignored.  The output always holds the block's full number
    // of data bits before the end-of-message cut.
    void DecodeBlock(ReceiverOutput& out) noexcept;

private:
    // Fills soft_ with one to three soft values per symbol; returns how many were written.
    int Demap(const ReceiverOutput& out, int mode) noexcept;
    // 75 bit/s: each group of 24 values becomes the sums of every third value from positions 1
    // and 2.  Works in place in soft_; returns the new count.
    int Combine75(int count) noexcept;
    // Writes soft_ (taken in the sending order) into deinterleaved_ in coding order.
    void Deinterleave(int mode, int count) noexcept;
    // Adds the repeated copies of each code pair in deinterleaved_; returns the new count.
    int CombineRepeats(int repeats, int count) noexcept;
    // Viterbi-decodes count / 2 pairs of deinterleaved_ into out.decoded_bits.
    int Decode(int count, ReceiverOutput& out) noexcept;

    FetchOrderTable fetch_order_;
    std::vector<float> soft_;
    std::vector<float> deinterleaved_;
    ViterbiDecoder viterbi_;
};

// Searches bits[0, count) for the end-of-message word (most significant bit first, all 32 bits
// inside this block).  Returns the number of bits before its first occurrence, or -1.
int FindEndOfMessage(std::span<const std::int32_t> bits) noexcept;

}  // namespace kavra::modem
