// The receive pipeline of DemodThread: ring samples through the active receiver, decided bits
// packed least significant bit first into the RxByteQueue between frame markers, bytes cut into
// 65-byte link blocks aligned to the frame start, blocks checked and filtered by the link state,
// and queued for the protocol handler.
#pragma once

#include <array>
#include <cstdint>

#include "audio/sample_ring.h"
#include "link/link_block.h"
#include "link/link_session.h"
#include "modem/common/receiver_output.h"
#include "pipeline/received_block_queue.h"
#include "pipeline/received_data_view.h"

namespace kavra::modem {
class SerialToneReceiver;
}

namespace kavra::pipeline {

inline constexpr std::uint16_t kFrameStartMarker = 256;
inline constexpr std::uint16_t kFrameEndMarker = 512;

// 65536 entries: bytes and frame markers.  Both indexes belong to DemodThread; it is drained in
// every step.  A full queue refuses the newest entry and counts it.
class RxByteQueue {
public:
    static constexpr std::uint32_t kSize = 65536;
    bool Push(std::uint16_t entry) noexcept {
        const std::uint32_t next = (write_ + 1) % kSize;
        if (next == read_) {
            ++dropped_;
            return false;
        }
        entries_[write_] = entry;
        write_ = next;
        return true;
    }
    std::uint32_t WriteIndex() const noexcept { return write_; }
    bool Pop(std::uint32_t until, std::uint16_t& entry) noexcept {
        if (read_ == until) return false;
        entry = entries_[read_];
        read_ = (read_ + 1) % kSize;
        return true;
    }
    void Reset() noexcept { write_ = read_ = 0; }
    std::uint64_t Dropped() const noexcept { return dropped_; }

private:
    std::array<std::uint16_t, kSize> entries_{};
    std::uint32_t write_ = 0;
    std::uint32_t read_ = 0;
    std::uint64_t dropped_ = 0;
};

struct PipelineCounters {
    std::uint64_t blocks_parsed = 0;    // 65 bytes assembled
    std::uint64_t bad_crc = 0;          // dropped for their CRC-32 (or length)
    std::uint64_t not_admitted = 0;     // dropped by the link-state filter
    std::uint64_t queued = 0;
};

class ReceivePipeline {
public:
    ReceivePipeline(ReceivedBlockQueue& blocks, ReceivedDataView& view) : blocks_(blocks), view_(view) {}

    // Empties the packer, the byte queue, the assembler and the view: before DemodThread starts.
    void Reset() noexcept;

    // One demodulation step: drains the ring through `receiver` (phase 1), then the byte queue
    // into blocks (phase 2) under the link state read once per block.
    void Step(audio::SampleRing& ring, modem::SerialToneReceiver& receiver, modem::ReceiverOutput& output,
              const link::LinkSession& session) noexcept;

    // Phase 1 for one report of the receiver: the flags in `output` handled in the order start,
    // bits, end, then cleared.
    void TakeReport(modem::ReceiverOutput& output) noexcept;
    // Phase 2: bytes to blocks.  `state` decides admission.
    template <class StateFn>
    void AssembleBlocks(modem::ReceiverOutput& output, StateFn&& state) noexcept {
        const std::uint32_t until = bytes_.WriteIndex();
        std::uint16_t entry = 0;
        while (bytes_.Pop(until, entry)) {
            if (entry == kFrameStartMarker) {
                fill_ = 0;
            } else if (entry == kFrameEndMarker) {
                output.snr.store(modem::kSnrNone, std::memory_order_relaxed);
            } else {
                assembly_[fill_++] = static_cast<std::uint8_t>(entry);
                if (fill_ == link::kLinkBlockSize) {
                    fill_ = 0;
                    CheckBlock(state());
                }
            }
        }
    }

    const PipelineCounters& Counters() const noexcept { return counters_; }
    const RxByteQueue& ByteQueue() const noexcept { return bytes_; }

private:
    void CheckBlock(link::LinkState state) noexcept;

    ReceivedBlockQueue& blocks_;
    ReceivedDataView& view_;
    int bit_count_ = 0;
    std::uint8_t partial_ = 0;
    RxByteQueue bytes_;
    std::array<std::uint8_t, link::kLinkBlockSize> assembly_{};
    std::size_t fill_ = 0;
    PipelineCounters counters_;
};

}  // namespace kavra::pipeline
