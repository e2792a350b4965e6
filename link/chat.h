// Chat: the queue of ChatData blocks between the chat input and the scheduler, the cutting of a
// typed line into blocks, and the receiver's line buffer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/link_block.h"
#include "link/shared_bytes.h"

namespace kavra::link {

inline constexpr std::size_t kChatQueueSlots = 512;
inline constexpr std::size_t kMaxChatInput = 115;    // characters of the chat input
inline constexpr std::size_t kMaxChatLine = 116;     // a received line is shown at this length

// One producer (the chat input, user-interface thread) and one consumer (the scheduler,
// TransmitThread).  Positions count up without bound (32-bit, wrapping); a slot is the position
// modulo 512, so all 512 slots can hold unsent blocks and a full queue is told from an empty one.
// Emptying is always done by the consumer: the producer asks for it by publishing the write
// position up to which everything is to be dropped.
class ChatQueue {
public:
    ChatQueue() : slots_(kChatQueueSlots * kLinkBlockSize) {}

    // Producer side.
    std::size_t FreeSlots() const noexcept;
    bool Push(const LinkBlockBytes& block) noexcept;  // false when full; nothing is overwritten
    void ClearFromProducer() noexcept;

    // Consumer side.
    bool Pop(LinkBlockBytes& block) noexcept;  // false when empty
    void ClearFromConsumer() noexcept;
    bool EmptyForConsumer() noexcept;

private:
    void ApplyClearRequest() noexcept;

    SharedBytes slots_;
    std::atomic<std::uint32_t> write_{0};     // written by the producer
    std::atomic<std::uint32_t> read_{0};      // written by the consumer
    std::atomic<std::uint32_t> clear_to_{0};  // written by the producer
};

// The blocks of one typed line: the text and a line feed, cut into 59-byte ChatData blocks.
std::vector<LinkBlockBytes> ChatBlocksForLine(std::string_view text);

// The receiving side's line buffer: collects the characters of ChatData blocks into lines.
class ChatLineBuffer {
public:
    // Feeds one ChatData payload; appends every line completed by it to `lines`.  An empty
    // payload shows a partly received line.
    void Receive(std::span<const std::uint8_t> payload, std::vector<std::string>& lines);
    std::size_t size() const noexcept { return length_; }

private:
    void Show(std::vector<std::string>& lines);
    std::array<char, 128> buffer_{};
    std::size_t length_ = 0;
};

}  // namespace kavra::link
