// The receive pipeline's byte stage: decoder reports (frame start, bits, frame end, lost sync)
// with input-chosen bits, some of them whole valid link blocks, and assembly passes under
// input-chosen link states.  Every block handed on must be a checked 65-byte block the state
// admits, and exactly the blocks a plain model of the stage finds must come out; the queues stay
// within their sizes and count what they refuse.
#include <deque>
#include <memory>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "link/link_block.h"
#include "link/link_session.h"
#include "pipeline/receive_pipeline.h"

namespace kavra::fuzz {
namespace {

using link::LinkState;
using pipeline::ReceivePipeline;

// The stage as the link layer expects it: bits least significant first into bytes, a frame
// start drops a partial byte and a partial block, a frame end drops a partial byte; every 65
// bytes are one block.
class Model {
public:
    void Start() {
        bits_ = 0;
        partial_ = 0;
        block_.clear();
    }
    void End() {
        bits_ = 0;
        partial_ = 0;
    }
    void Bit(int bit) {
        partial_ = static_cast<std::uint8_t>(partial_ | (bit & 1) << bits_);
        if (++bits_ < 8) return;
        block_.push_back(partial_);
        ++bytes_made;
        bits_ = 0;
        partial_ = 0;
        if (block_.size() < link::kLinkBlockSize) return;
        complete.push_back(block_);
        block_.clear();
    }
    std::deque<std::vector<std::uint8_t>> complete;  // blocks not yet taken by an assembly pass
    std::uint64_t bytes_made = 0;

private:
    int bits_ = 0;
    std::uint8_t partial_ = 0;
    std::vector<std::uint8_t> block_;
};

struct Stage {
    pipeline::ReceivedBlockQueue blocks;
    pipeline::ReceivedDataView view;
    ReceivePipeline pipe{blocks, view};
    modem::ReceiverOutput output;
    Model model;
    std::deque<link::ReceivedBlock> expected;  // admitted blocks the model says must come out
    std::uint64_t entries_pushed = 0;          // frame markers given to the byte queue
};

void AppendBits(std::vector<int>& bits, std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t b : bytes)
        for (int k = 0; k < 8; ++k) bits.push_back(b >> k & 1);
}

// One report of the decoder.
void Report(Stage& st, Input& in, std::uint8_t op) {
    int flags = 0;
    switch (op % 4) {
        case 0: flags = modem::kRxFlagStart | modem::kRxFlagBits; break;
        case 1: flags = modem::kRxFlagBits; break;
        case 2: flags = modem::kRxFlagEnd | (in.Bool() ? modem::kRxFlagBits : 0); break;
        case 3: flags = modem::kRxFlagSyncLost | (in.Bool() ? modem::kRxFlagBits : 0); break;
    }
    std::vector<int> bits;
    if (flags & modem::kRxFlagBits) {
        const std::uint8_t what = in.U8();
        if (what % 4 == 0) {
            // Whole valid blocks, from code, sequence and payload in the input.
            for (int n = 1 + in.U8() % 8; n > 0; --n) {
                const int code = in.U8() % 12;
                const int sequence = in.U16();
                const std::vector<std::uint8_t> payload = in.Bytes(link::kPayloadArea);
                AppendBits(bits, link::BuildLinkBlock(code, sequence, payload));
            }
        } else if (what % 4 == 1) {
            // A long run, up to the most the decoder delivers at once.
            const std::size_t n = in.U16() % (modem::kMaxDecodedBits + 1);
            const std::vector<std::uint8_t> seed = in.Take(4);
            std::uint32_t x = seed.empty() ? 1 : seed[0] + 1u;
            for (std::size_t i = 0; i < n; ++i) {
                x = x * 1664525u + 1013904223u;
                bits.push_back(static_cast<int>(x >> 31));
            }
        } else {
            // Raw bits; any value, only the lowest bit counts.
            for (const std::uint8_t b : in.Bytes(300)) bits.push_back(static_cast<std::int8_t>(b));
        }
    }
    KAVRA_CHECK(bits.size() <= static_cast<std::size_t>(modem::kMaxDecodedBits));
    for (std::size_t i = 0; i < bits.size(); ++i) st.output.decoded_bits[i] = bits[i];
    st.output.decoded_bit_count = static_cast<int>(bits.size());
    st.output.flags.store(flags);
    st.pipe.TakeReport(st.output);
    KAVRA_CHECK(st.output.flags.load() == 0);

    if (flags & modem::kRxFlagStart) st.model.Start();
    for (const int b : bits) st.model.Bit(b);
    if (flags & modem::kRxFlagEnd) st.model.End();
    st.entries_pushed += (flags & modem::kRxFlagStart ? 1 : 0) + (flags & modem::kRxFlagEnd ? 1 : 0);
}

void CheckHanded(const link::ReceivedBlock& b, LinkState state) {
    KAVRA_CHECK(b.length <= link::kPayloadArea);
    KAVRA_CHECK(link::AdmitsBlock(state, b.code));
    if (b.code != 0) KAVRA_CHECK(b.sequence == 0);
    KAVRA_CHECK(b.sequence <= link::kSequenceMask);
    for (std::size_t i = b.length; i < link::kPayloadArea; ++i) KAVRA_CHECK(b.payload[i] == 0);
}

void Assemble(Stage& st, LinkState state) {
    const std::uint64_t dropped_before = st.blocks.Dropped();
    const pipeline::PipelineCounters before = st.pipe.Counters();
    st.pipe.AssembleBlocks(st.output, [&] { return state; });
    const pipeline::PipelineCounters& after = st.pipe.Counters();
    const std::uint64_t parsed = after.blocks_parsed - before.blocks_parsed;
    // Every 65 bytes were checked once: bad, refused by the state, queued, or refused by a full queue.
    KAVRA_CHECK(parsed == (after.bad_crc - before.bad_crc) + (after.not_admitted - before.not_admitted) +
                              (after.queued - before.queued) + (st.blocks.Dropped() - dropped_before));
    // Without a dropped byte the stage made exactly the model's blocks.
    if (st.pipe.ByteQueue().Dropped() == 0) {
        KAVRA_CHECK_MSG(parsed == st.model.complete.size(),
                        std::to_string(parsed) + " blocks parsed, the model has " + std::to_string(st.model.complete.size()));
        std::uint64_t refused = st.blocks.Dropped() - dropped_before;
        for (const std::vector<std::uint8_t>& bytes : st.model.complete) {
            link::ReceivedBlock b;
            if (link::ParseLinkBlock(std::span<const std::uint8_t, link::kLinkBlockSize>(bytes.data(), link::kLinkBlockSize), b) !=
                    link::ParseResult::Ok ||
                !link::AdmitsBlock(state, b.code))
                continue;
            st.expected.push_back(b);
        }
        // A full queue refuses the newest blocks.
        while (refused-- > 0) {
            KAVRA_CHECK(!st.expected.empty());
            st.expected.pop_back();
        }
    }
    st.model.complete.clear();
}

void Drain(Stage& st, std::size_t max, LinkState state_of_last_pass) {
    link::ReceivedBlock b;
    for (std::size_t n = 0; n < max && st.blocks.Pop(b); ++n) {
        CheckHanded(b, state_of_last_pass);
        if (st.pipe.ByteQueue().Dropped() == 0) {
            KAVRA_CHECK(!st.expected.empty());
            const link::ReceivedBlock& want = st.expected.front();
            KAVRA_CHECK(b.code == want.code && b.sequence == want.sequence && b.length == want.length &&
                        b.payload == want.payload);
            st.expected.pop_front();
        }
    }
}

void Run(Input& in) {
    auto st = std::make_unique<Stage>();
    st->pipe.Reset();
    st->view.SetShown(in.Bool());
    // The state is input-chosen per pass; drained blocks are checked against one state only,
    // so the state changes only when the queue is empty.
    LinkState state = static_cast<LinkState>(in.U8() % 13);
    int steps = 0;
    while (!in.Empty() && ++steps <= 3000) {
        const std::uint8_t op = in.U8();
        switch (op % 8) {
            case 0:
            case 1:
            case 2:
            case 3: Report(*st, in, in.U8()); break;
            case 4: Assemble(*st, state); break;
            case 5: Drain(*st, in.U16(), state); break;
            case 6:
                if (st->blocks.Empty()) state = static_cast<LinkState>(in.U8() % 13);
                break;
            case 7: st->view.SetFirstRow(static_cast<std::int16_t>(in.U16())); break;
        }
        KAVRA_CHECK(st->view.Count() <= pipeline::ReceivedDataView::kSize);
        KAVRA_CHECK(st->view.TakeRefresh() <= 2);
    }
    Assemble(*st, state);
    Drain(*st, pipeline::ReceivedBlockQueue::kSlots, state);
    KAVRA_CHECK(st->blocks.Empty());
    if (st->pipe.ByteQueue().Dropped() == 0) KAVRA_CHECK(st->expected.empty());
    // The byte queue refuses only when it holds its size less one entry.
    if (st->pipe.ByteQueue().Dropped() > 0) KAVRA_CHECK(st->entries_pushed + st->model.bytes_made >= pipeline::RxByteQueue::kSize - 1);
}

}  // namespace
}  // namespace kavra::fuzz

KAVRA_FUZZ_ENTRY(kavra::fuzz::Run)
