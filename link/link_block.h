// The 65-byte link block: header, 59-byte payload area, CRC-32; control codes and the packing of
// 12-bit block numbers used by acknowledgements.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kavra::link {

inline constexpr std::size_t kLinkBlockSize = 65;
inline constexpr std::size_t kPayloadArea = 59;       // offsets 2..60
inline constexpr std::size_t kMaxShortPayload = 58;   // largest length the length byte may hold
inline constexpr std::size_t kCallsignBytes = 8;
inline constexpr std::size_t kMaxNumbersPerAck = 39;  // 39 packed numbers fill 59 bytes
inline constexpr int kSequenceMask = 0x0FFF;

using LinkBlockBytes = std::array<std::uint8_t, kLinkBlockSize>;
using Payload = std::array<std::uint8_t, kPayloadArea>;

// Control codes; 0 marks a data block (header bit 15 clear).
enum class ControlCode : std::uint8_t {
    Data = 0,
    ConnectRequest = 1,
    ConnectReply = 2,
    DisconnectNotice = 3,
    ChatData = 4,
    FileOffer = 5,
    FileReply = 6,
    TransferEnd = 7,
    BlockAck = 8,
    SignalReport = 9,
};

inline constexpr std::uint8_t kAnswerAccepted = 255;
inline constexpr std::uint8_t kAnswerDeclined = 0;

// The CRC-32 of IEEE 802.3, reflected (0xEDB88320), initial value and final complement all ones.
using Crc32Table = std::array<std::uint32_t, 256>;
constexpr Crc32Table MakeCrc32Table() {
    Crc32Table table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[i] = c;
    }
    return table;
}
inline constexpr Crc32Table kCrc32Table = MakeCrc32Table();

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) noexcept;

// Builds a block.  `code` 0 builds a data block numbered by the low 12 bits of `sequence`;
// any other code builds a control block.  A payload longer than 59 bytes is cut to 59.
LinkBlockBytes BuildLinkBlock(int code, int sequence, std::span<const std::uint8_t> payload) noexcept;

// One block as the protocol handler sees it: the payload area with `length` payload bytes; the
// bytes beyond the length are zero.
struct ReceivedBlock {
    std::uint8_t code = 0;       // 0 = data block
    std::uint16_t sequence = 0;  // data blocks only
    std::uint8_t length = 0;     // 0..59
    Payload payload{};
};

enum class ParseResult : std::uint8_t {
    Ok,
    BadCrc,     // CRC-32 mismatch
    BadLength,  // CRC matches but the length byte says more than 58: not a block this system sends
};

// Checks and reads a block.  Only an `Ok` result fills `block`.
ParseResult ParseLinkBlock(std::span<const std::uint8_t, kLinkBlockSize> bytes, ReceivedBlock& block) noexcept;

// Packs up to 39 twelve-bit numbers, two to three bytes; answers the byte count (3n/2 rounded up).
// Numbers past the 39th are not packed.
std::size_t PackBlockNumbers(std::span<const std::uint16_t> numbers, std::span<std::uint8_t, kPayloadArea> out) noexcept;

// Unpacks 2L/3 numbers (rounded down) from L bytes, L at most 59; answers the count.
std::size_t UnpackBlockNumbers(std::span<const std::uint8_t> bytes,
                               std::span<std::uint16_t, kMaxNumbersPerAck> out) noexcept;

// A callsign field: 8 bytes holding the characters followed by zero bytes.  Text longer than 8
// characters is cut to its first 8.
std::array<std::uint8_t, kCallsignBytes> MakeCallsignField(std::string_view callsign) noexcept;
// Reads a callsign field: bytes up to the first zero, at most 8.
std::string ReadCallsignField(std::span<const std::uint8_t> field);

}  // namespace kavra::link
