#include "modem/rx/frame_collector.h"

#include "modem/common/end_of_message.h"

namespace kavra::modem {

void FrameCollector::Poll(ReceiverOutput& output) {
    const int flags = output.flags.exchange(0, std::memory_order_acq_rel);
    if (flags == 0) return;
    if ((flags & kRxFlagSyncLost) != 0) ++sync_losses_;
    if ((flags & kRxFlagBits) != 0) {
        if ((flags & kRxFlagStart) != 0 || !open_) {
            if (open_) Close(output, false);
            frames_.emplace_back();
            open_ = true;
            cut_ = false;
            eom_search_.Reset();
            bit_count_ = 0;
            pending_ = 0;
            pending_bits_ = 0;
        }
        // Bits that come with the end of the frame are the decoder's held-back tail, not a block.
        AddBits(output, (flags & kRxFlagEnd) == 0);
    }
    if ((flags & kRxFlagEnd) != 0 && open_) Close(output, true);
}

void FrameCollector::AddBits(const ReceiverOutput& output, bool block) {
    ReceivedFrame& frame = frames_.back();
    frame.mode = output.mode.load(std::memory_order_relaxed);
    frame.freq_offset_hz = output.freq_offset.load(std::memory_order_relaxed);
    if (block) ++frame.blocks;
    if (output.eom_found != 0) frame.eom = true;
    const int count = output.decoded_bit_count < 0 ? 0
                      : output.decoded_bit_count > kMaxDecodedBits ? kMaxDecodedBits
                                                                   : output.decoded_bit_count;
    for (int i = 0; i < count && !cut_; ++i) {
        const unsigned bit = output.decoded_bits[static_cast<std::size_t>(i)] != 0 ? 1u : 0u;
        pending_ |= bit << pending_bits_;
        if (++pending_bits_ == 8) {
            frame.bytes.push_back(static_cast<std::uint8_t>(pending_));
            pending_ = 0;
            pending_bits_ = 0;
        }
        ++bit_count_;
        // The word may also straddle two deliveries of the decoder; the message ends where it
        // starts.
        if (eom_search_.Push(bit)) {
            frame.bytes.resize(static_cast<std::size_t>((bit_count_ - 32) / 8));
            frame.eom = true;
            cut_ = true;
        }
    }
    if (output.eom_found != 0) cut_ = true;
}

void FrameCollector::Close(const ReceiverOutput& output, bool ended) {
    ReceivedFrame& frame = frames_.back();
    frame.ended = ended;
    frame.snr = output.snr.load(std::memory_order_relaxed);
    if (ended) {
        frame.snr_avg = output.snr_avg.load(std::memory_order_relaxed);
        frame.snr_min = output.snr_min.load(std::memory_order_relaxed);
        frame.snr_max = output.snr_max.load(std::memory_order_relaxed);
    }
    open_ = false;
}

void FrameCollector::Finish(const ReceiverOutput& output) {
    if (open_) Close(output, false);
}

std::vector<std::uint8_t> FrameCollector::AllBytes() const {
    std::vector<std::uint8_t> all;
    for (const ReceivedFrame& f : frames_) all.insert(all.end(), f.bytes.begin(), f.bytes.end());
    return all;
}

}  // namespace kavra::modem
