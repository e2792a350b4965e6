// Decodes the soft symbols of one received interleaver block into data bits.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "modem/common/end_of_message.h"
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

    // Decodes one block on its own: the trellis starts from no known state and the block's last
    // bits are decided from the block alone.  Reads out.mode and
    // out.soft_symbols[0, out.soft_symbol_count); writes out.decoded_bits, out.decoded_bit_count
    // and out.eom_found (1 when the word was found in this block, else 0).  A mode outside 0..12
    // decodes nothing.  A negative count is taken as 0 and one beyond the buffers is cut to them.
    // Symbols missing from a coded block count as erasures (soft value 0); symbols beyond its
    // size are ignored.  The output holds the block's full number of data bits before the
    // end-of-message cut.
    void DecodeBlock(ReceiverOutput& out) noexcept;

    // Decodes the blocks of a frame as one stream, as the receiver does.  The encoder runs on from
    // one block into the next, so the trellis is carried across them and every bit is decided 64
    // code pairs after it was received: a block delivers the bits from 64 pairs before its start
    // (none for the first block of a frame) to 64 pairs before its end, and FinishFrame() delivers
    // the rest.  The last bits of a block are thus decided with the start of the next one instead
    // of without a code tail.  The end-of-message word is searched in the frame's bit stream,
    // across block boundaries; out.decoded_bit_count is cut to the bits before it (0 when it began
    // in an earlier delivery).  The uncoded mode 12 has no delay.  Inputs as for DecodeBlock.
    void DecodeFrameBlock(ReceiverOutput& out, bool first_of_frame) noexcept;

    // The code bits of the best path through the block, as DecodeFrameBlock would next decode it
    // (the trellis carried on from the frame's earlier blocks unless `first_of_frame`), traced
    // back from the block's best final state and put into the order they were sent: one bit per
    // soft value, so bits[3k .. 3k+2] belong to the k-th 8-PSK symbol.  Changes nothing the
    // decoding depends on.  Returns the number of bits written; 0 for the uncoded mode and the
    // 75 bit/s layout (whose symbols carry sums), or an invalid mode.
    int BlockCodeBits(const ReceiverOutput& out, bool first_of_frame, std::span<std::uint8_t> bits) noexcept;

    // Delivers the bits a frame still holds back (the last 64 of its last block) into out.
    // Returns false, writing nothing, when there are none or the end-of-message word has been
    // found (what follows it is fill).
    bool FinishFrame(ReceiverOutput& out) noexcept;

private:
    // Demaps, undoes the interleaver and combines repetitions into deinterleaved_; returns the
    // number of code pairs.  The uncoded mode writes its hard bits to out and returns -1.
    int PrepareBlock(ReceiverOutput& out, int mode) noexcept;
    // Fills soft_ with one to three soft values per symbol; returns how many were written.
    int Demap(const ReceiverOutput& out, int mode) noexcept;
    // 75 bit/s: each group of 24 values becomes the sums of every third value from positions 1
    // and 2.  Works in place in soft_; returns the new count.
    int Combine75(int count) noexcept;
    // Writes soft_ (taken in the sending order) into deinterleaved_ in coding order.
    void Deinterleave(int mode, int count) noexcept;
    // Adds the repeated copies of each code pair in deinterleaved_; returns the new count.
    int CombineRepeats(int repeats, int count) noexcept;
    // Runs the trellis over pairs (a null x means empty pairs) and writes the decided bits of
    // the frame's stream to bits; returns how many it wrote.
    int RunTrellis(const float* x, int pairs, std::int32_t* bits) noexcept;
    // Searches the frame's stream for the end-of-message word in out.decoded_bits[from, count);
    // cuts the count when found.
    void SearchEndOfMessage(ReceiverOutput& out, int from) noexcept;
    // The open frame has coded bits held back that FinishFrame would deliver.
    bool HoldsTail() const noexcept;

    FetchOrderTable fetch_order_;
    std::vector<float> soft_;
    std::vector<float> deinterleaved_;
    std::vector<std::uint64_t> path_history_;
    std::vector<std::uint8_t> path_pairs_;
    ViterbiDecoder viterbi_;

    // The frame being decoded by DecodeFrameBlock.
    int frame_mode_ = -1;            // -1: no frame open
    long long frame_pairs_ = 0;      // trellis steps taken in the frame
    EndOfMessageSearch eom_search_;  // over the bits the frame delivered
    bool eom_seen_ = false;
};

// Soft bits of the 8-PSK symbol (u, v), positive meaning bit 0, for the three bits of its tribit:
// for each bit the max-log value, the difference between the correlations with the nearest point
// where the bit is 0 and the nearest where it is 1, in units of the distance to that bit's
// boundary (so near a boundary the value is the distance itself).
std::array<float, 3> EightPskSoftBits(float u, float v) noexcept;

// Searches bits[0, count) for the end-of-message word (most significant bit first, all 32 bits
// inside this block).  Returns the number of bits before its first occurrence, or -1.
int FindEndOfMessage(std::span<const std::int32_t> bits) noexcept;

}  // namespace kavra::modem
