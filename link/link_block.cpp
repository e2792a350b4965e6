#include "link/link_block.h"

#include <algorithm>

namespace kavra::link {

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) noexcept {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t b : bytes) crc = (crc >> 8) ^ kCrc32Table[(crc ^ b) & 0xFFu];
    return ~crc;
}

LinkBlockBytes BuildLinkBlock(int code, int sequence, std::span<const std::uint8_t> payload) noexcept {
    LinkBlockBytes block{};
    const std::size_t length = std::min(payload.size(), kPayloadArea);
    unsigned header = code != 0 ? 0x8000u | (static_cast<unsigned>(code) & 0xFFu)
                                : static_cast<unsigned>(sequence) & static_cast<unsigned>(kSequenceMask);
    if (length == kPayloadArea)
        header |= 0x4000u;
    else
        block[60] = static_cast<std::uint8_t>(length);
    block[0] = static_cast<std::uint8_t>(header >> 8);
    block[1] = static_cast<std::uint8_t>(header & 0xFFu);
    std::copy_n(payload.begin(), length, block.begin() + 2);
    const std::uint32_t crc = Crc32(std::span<const std::uint8_t>(block.data(), 61));
    for (int i = 0; i < 4; ++i) block[61 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
    return block;
}

ParseResult ParseLinkBlock(std::span<const std::uint8_t, kLinkBlockSize> bytes, ReceivedBlock& block) noexcept {
    const std::uint32_t stored = static_cast<std::uint32_t>(bytes[61]) | static_cast<std::uint32_t>(bytes[62]) << 8 |
                                 static_cast<std::uint32_t>(bytes[63]) << 16 | static_cast<std::uint32_t>(bytes[64]) << 24;
    if (Crc32(bytes.first(61)) != stored) return ParseResult::BadCrc;
    const unsigned header = static_cast<unsigned>(bytes[0]) << 8 | bytes[1];
    const bool full = (header & 0x4000u) != 0;
    if (!full && bytes[60] > kMaxShortPayload) return ParseResult::BadLength;
    if (header & 0x8000u) {
        block.code = static_cast<std::uint8_t>(header & 0xFFu);
        block.sequence = 0;
    } else {
        block.code = 0;
        block.sequence = static_cast<std::uint16_t>(header & static_cast<unsigned>(kSequenceMask));
    }
    block.length = full ? static_cast<std::uint8_t>(kPayloadArea) : bytes[60];
    block.payload.fill(0);
    std::copy_n(bytes.begin() + 2, block.length, block.payload.begin());
    return ParseResult::Ok;
}

std::size_t PackBlockNumbers(std::span<const std::uint16_t> numbers, std::span<std::uint8_t, kPayloadArea> out) noexcept {
    const std::size_t n = std::min(numbers.size(), kMaxNumbersPerAck);
    std::size_t pos = 0;
    for (std::size_t i = 0; i < n; i += 2) {
        const unsigned a = numbers[i] & static_cast<unsigned>(kSequenceMask);
        out[pos++] = static_cast<std::uint8_t>(a & 0xFFu);
        if (i + 1 < n) {
            const unsigned b = numbers[i + 1] & static_cast<unsigned>(kSequenceMask);
            out[pos++] = static_cast<std::uint8_t>((a >> 8) | ((b & 0x0Fu) << 4));
            out[pos++] = static_cast<std::uint8_t>(b >> 4);
        } else {
            out[pos++] = static_cast<std::uint8_t>(a >> 8);
        }
    }
    return pos;
}

std::size_t UnpackBlockNumbers(std::span<const std::uint8_t> bytes,
                               std::span<std::uint16_t, kMaxNumbersPerAck> out) noexcept {
    const std::size_t length = std::min(bytes.size(), kPayloadArea);
    std::size_t count = 0;
    std::size_t pos = 0;
    for (; pos + 3 <= length; pos += 3) {
        out[count++] = static_cast<std::uint16_t>(bytes[pos] | (bytes[pos + 1] & 0x0F) << 8);
        out[count++] = static_cast<std::uint16_t>((bytes[pos + 1] >> 4) | bytes[pos + 2] << 4);
    }
    if (length - pos == 2) out[count++] = static_cast<std::uint16_t>(bytes[pos] | (bytes[pos + 1] & 0x0F) << 8);
    return count;
}

std::array<std::uint8_t, kCallsignBytes> MakeCallsignField(std::string_view callsign) noexcept {
    std::array<std::uint8_t, kCallsignBytes> field{};
    const std::size_t n = std::min(callsign.size(), kCallsignBytes);
    for (std::size_t i = 0; i < n; ++i) field[i] = static_cast<std::uint8_t>(callsign[i]);
    return field;
}

std::string ReadCallsignField(std::span<const std::uint8_t> field) {
    std::string text;
    for (std::size_t i = 0; i < field.size() && i < kCallsignBytes && field[i] != 0; ++i)
        text.push_back(static_cast<char>(field[i]));
    return text;
}

}  // namespace kavra::link
