#include "pipeline/receive_pipeline.h"

#include "modem/rx/serial_tone_receiver.h"

namespace kavra::pipeline {

void ReceivePipeline::Reset() noexcept {
    bit_count_ = 0;
    partial_ = 0;
    bytes_.Reset();
    fill_ = 0;
    view_.Clear();
}

void ReceivePipeline::Step(audio::SampleRing& ring, modem::SerialToneReceiver& receiver, modem::ReceiverOutput& output,
                           const link::LinkSession& session) noexcept {
    const std::uint32_t until = ring.WriteIndex();
    while (ring.ReadIndex() != until) {
        receiver.ProcessSample(ring.Pop());
        if (output.flags.load(std::memory_order_relaxed) != 0) TakeReport(output);
    }
    AssembleBlocks(output, [&] { return session.State(); });
}

void ReceivePipeline::TakeReport(modem::ReceiverOutput& output) noexcept {
    const int flags = output.flags.load(std::memory_order_relaxed);
    if (flags & modem::kRxFlagStart) {
        bit_count_ = 0;
        partial_ = 0;
        bytes_.Push(kFrameStartMarker);
        view_.Clear();
    }
    if (flags & modem::kRxFlagBits) {
        const std::uint32_t snapshot = view_.Count();
        const int n = output.decoded_bit_count;
        for (int i = 0; i < n; ++i) {
            partial_ = static_cast<std::uint8_t>(partial_ | ((output.decoded_bits[static_cast<std::size_t>(i)] & 1) << bit_count_));
            if (++bit_count_ == 8) {
                bytes_.Push(partial_);
                view_.Append(partial_);
                bit_count_ = 0;
                partial_ = 0;
            }
        }
        view_.MarkRefresh(snapshot);
    }
    if (flags & modem::kRxFlagEnd) {
        bit_count_ = 0;
        partial_ = 0;
        bytes_.Push(kFrameEndMarker);
    }
    output.flags.store(0, std::memory_order_relaxed);
}

void ReceivePipeline::CheckBlock(link::LinkState state) noexcept {
    ++counters_.blocks_parsed;
    link::ReceivedBlock block;
    if (link::ParseLinkBlock(assembly_, block) != link::ParseResult::Ok) {
        ++counters_.bad_crc;
        return;
    }
    if (!link::AdmitsBlock(state, block.code)) {
        ++counters_.not_admitted;
        return;
    }
    if (blocks_.Push(block)) ++counters_.queued;
}

}  // namespace kavra::pipeline
