#include "link/chat.h"

namespace kavra::link {

namespace {
constexpr std::int32_t Ahead(std::uint32_t a, std::uint32_t b) { return static_cast<std::int32_t>(a - b); }
}  // namespace

std::size_t ChatQueue::FreeSlots() const noexcept {
    const std::uint32_t w = write_.load(std::memory_order_relaxed);
    std::uint32_t r = read_.load(std::memory_order_acquire);
    const std::uint32_t c = clear_to_.load(std::memory_order_relaxed);
    if (Ahead(c, r) > 0) r = c;
    return kChatQueueSlots - static_cast<std::size_t>(w - r);
}

bool ChatQueue::Push(const LinkBlockBytes& block) noexcept {
    if (FreeSlots() == 0) return false;
    const std::uint32_t w = write_.load(std::memory_order_relaxed);
    slots_.Store((w % kChatQueueSlots) * kLinkBlockSize, block);
    write_.store(w + 1, std::memory_order_release);
    return true;
}

void ChatQueue::ClearFromProducer() noexcept {
    clear_to_.store(write_.load(std::memory_order_relaxed), std::memory_order_release);
}

void ChatQueue::ApplyClearRequest() noexcept {
    const std::uint32_t c = clear_to_.load(std::memory_order_acquire);
    const std::uint32_t r = read_.load(std::memory_order_relaxed);
    if (Ahead(c, r) > 0) read_.store(c, std::memory_order_release);
}

bool ChatQueue::EmptyForConsumer() noexcept {
    ApplyClearRequest();
    return read_.load(std::memory_order_relaxed) == write_.load(std::memory_order_acquire);
}

bool ChatQueue::Pop(LinkBlockBytes& block) noexcept {
    if (EmptyForConsumer()) return false;
    const std::uint32_t r = read_.load(std::memory_order_relaxed);
    slots_.Load((r % kChatQueueSlots) * kLinkBlockSize, block);
    read_.store(r + 1, std::memory_order_release);
    return true;
}

void ChatQueue::ClearFromConsumer() noexcept {
    read_.store(write_.load(std::memory_order_acquire), std::memory_order_release);
}

std::vector<LinkBlockBytes> ChatBlocksForLine(std::string_view text) {
    std::string line(text);
    line.push_back('\n');
    std::vector<LinkBlockBytes> blocks;
    for (std::size_t offset = 0; offset < line.size(); offset += kPayloadArea) {
        const std::size_t n = std::min(kPayloadArea, line.size() - offset);
        blocks.push_back(BuildLinkBlock(static_cast<int>(ControlCode::ChatData), 0,
                                        {reinterpret_cast<const std::uint8_t*>(line.data()) + offset, n}));
    }
    return blocks;
}

void ChatLineBuffer::Show(std::vector<std::string>& lines) {
    lines.emplace_back(buffer_.data(), length_);
    length_ = 0;
}

void ChatLineBuffer::Receive(std::span<const std::uint8_t> payload, std::vector<std::string>& lines) {
    if (payload.empty()) {
        if (length_ > 0) Show(lines);
        return;
    }
    for (std::uint8_t b : payload) {
        if (b == 10 || b == 13) {
            if (length_ > 0) Show(lines);
            continue;
        }
        buffer_[length_++] = static_cast<char>(b);
        if (length_ == kMaxChatLine) Show(lines);
    }
}

}  // namespace kavra::link
