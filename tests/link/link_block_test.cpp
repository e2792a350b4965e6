// Known answers for the block format, the CRC and the number packing.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "link/link_block.h"

namespace kavra::link {
namespace {

std::span<const std::uint8_t> Bytes(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

unsigned Header(const LinkBlockBytes& b) { return static_cast<unsigned>(b[0]) << 8 | b[1]; }
std::uint32_t StoredCrc(const LinkBlockBytes& b) {
    return static_cast<std::uint32_t>(b[61]) | static_cast<std::uint32_t>(b[62]) << 8 |
           static_cast<std::uint32_t>(b[63]) << 16 | static_cast<std::uint32_t>(b[64]) << 24;
}

TEST(Crc32, CheckValueAndTable) {
    EXPECT_EQ(Crc32(Bytes("123456789")), 0xCBF43926u);
    EXPECT_EQ(Crc32({}), 0u);
    EXPECT_EQ(kCrc32Table[0], 0u);
    EXPECT_EQ(kCrc32Table[1], 0x77073096u);
    EXPECT_EQ(kCrc32Table[128], 0xEDB88320u);
    EXPECT_EQ(kCrc32Table[255], 0x2D02EF8Du);
}

TEST(LinkBlock, EmptyChatBlock) {
    const auto b = BuildLinkBlock(static_cast<int>(ControlCode::ChatData), 0, {});
    EXPECT_EQ(Header(b), 0x8004u);
    for (std::size_t i = 2; i <= 60; ++i) EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(StoredCrc(b), Crc32(std::span<const std::uint8_t>(b.data(), 61)));
    // CRC least significant byte first, header most significant byte first.
    EXPECT_EQ(b[0], 0x80);
    EXPECT_EQ(b[1], 0x04);
}

TEST(LinkBlock, FullDataBlock4095) {
    std::vector<std::uint8_t> payload(59);
    std::iota(payload.begin(), payload.end(), std::uint8_t{1});
    const auto b = BuildLinkBlock(0, 4095, payload);
    EXPECT_EQ(Header(b), 0x4FFFu);
    EXPECT_EQ(b[60], 59);  // 59th payload byte, not a length
    ReceivedBlock r;
    ASSERT_EQ(ParseLinkBlock(b, r), ParseResult::Ok);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.sequence, 4095);
    EXPECT_EQ(r.length, 59);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), r.payload.begin()));
}

TEST(LinkBlock, FullControlBlocksSetBit14) {
    std::vector<std::uint8_t> payload(59, 0xA5);
    EXPECT_EQ(Header(BuildLinkBlock(5, 0, payload)), 0xC005u);
    EXPECT_EQ(Header(BuildLinkBlock(8, 0, payload)), 0xC008u);
}

TEST(LinkBlock, SequenceUsesOnlyLow12Bits) {
    EXPECT_EQ(Header(BuildLinkBlock(0, 0x1234, {})), 0x0234u);
    // The sequence is ignored for control blocks.
    EXPECT_EQ(Header(BuildLinkBlock(3, 0x0FFF, {})), 0x8003u);
}

TEST(LinkBlock, ControlHeaderWithCodeZeroParsesAsDataBlockZero) {
    LinkBlockBytes b{};
    b[0] = 0x80;
    b[60] = 0;
    const auto crc = Crc32(std::span<const std::uint8_t>(b.data(), 61));
    for (int i = 0; i < 4; ++i) b[61 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
    ReceivedBlock r;
    ASSERT_EQ(ParseLinkBlock(b, r), ParseResult::Ok);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.sequence, 0);
}

// Every control code and every payload length survives build and parse.
TEST(LinkBlock, EveryControlCodeAndLengthRoundTrips) {
    for (int code = 0; code < 10; ++code) {
        for (std::size_t length = 0; length <= 59; ++length) {
            SCOPED_TRACE(::testing::Message() << "code " << code << " length " << length);
            std::vector<std::uint8_t> payload(length);
            for (std::size_t i = 0; i < length; ++i) payload[i] = static_cast<std::uint8_t>(code * 31 + i * 7 + 1);
            const auto b = BuildLinkBlock(code, 77, payload);
            ReceivedBlock r;
            ASSERT_EQ(ParseLinkBlock(b, r), ParseResult::Ok);
            EXPECT_EQ(r.code, code);
            EXPECT_EQ(r.sequence, code == 0 ? 77 : 0);
            EXPECT_EQ(r.length, length);
            EXPECT_TRUE(std::equal(payload.begin(), payload.end(), r.payload.begin()));
            for (std::size_t i = length; i < 59; ++i) EXPECT_EQ(r.payload[i], 0);
        }
    }
}

TEST(LinkBlock, EverySingleBitFlipIsCaught) {
    std::vector<std::uint8_t> payload(40, 0x3C);
    auto b = BuildLinkBlock(4, 0, payload);
    ReceivedBlock r;
    for (std::size_t bit = 0; bit < 65 * 8; ++bit) {
        b[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        EXPECT_EQ(ParseLinkBlock(b, r), ParseResult::BadCrc) << bit;
        b[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    }
    EXPECT_EQ(ParseLinkBlock(b, r), ParseResult::Ok);
}

TEST(LinkBlock, LengthAbove58WithMatchingCrcIsRefused) {
    for (int length : {59, 60, 200, 255}) {
        LinkBlockBytes b{};
        b[0] = 0x80;
        b[1] = 0x04;
        b[60] = static_cast<std::uint8_t>(length);
        const auto crc = Crc32(std::span<const std::uint8_t>(b.data(), 61));
        for (int i = 0; i < 4; ++i) b[61 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
        ReceivedBlock r;
        r.length = 7;
        EXPECT_EQ(ParseLinkBlock(b, r), ParseResult::BadLength) << length;
        EXPECT_EQ(r.length, 7);  // untouched
    }
}

TEST(BlockNumbers, PackingExamples) {
    std::array<std::uint8_t, 59> out{};
    const std::uint16_t pair[] = {0x123, 0x456};
    ASSERT_EQ(PackBlockNumbers(pair, out), 3u);
    EXPECT_EQ(out[0], 0x23);
    EXPECT_EQ(out[1], 0x61);
    EXPECT_EQ(out[2], 0x45);
    const std::uint16_t single[] = {0xABC};
    ASSERT_EQ(PackBlockNumbers(single, out), 2u);
    EXPECT_EQ(out[0], 0xBC);
    EXPECT_EQ(out[1], 0x0A);
}

TEST(BlockNumbers, UnpackCounts) {
    std::array<std::uint16_t, 39> numbers{};
    const std::uint8_t two[] = {0xBC, 0x0A};
    ASSERT_EQ(UnpackBlockNumbers(two, numbers), 1u);
    EXPECT_EQ(numbers[0], 0xABC);
    const std::uint8_t three[] = {0x23, 0x61, 0x45};
    ASSERT_EQ(UnpackBlockNumbers(three, numbers), 2u);
    EXPECT_EQ(numbers[0], 0x123);
    EXPECT_EQ(numbers[1], 0x456);
    std::array<std::uint8_t, 59> full{};
    EXPECT_EQ(UnpackBlockNumbers(full, numbers), 39u);
    EXPECT_EQ(UnpackBlockNumbers(std::span<const std::uint8_t>(full.data(), 1), numbers), 0u);
    EXPECT_EQ(UnpackBlockNumbers(std::span<const std::uint8_t>(full.data(), 4), numbers), 2u);
}

TEST(BlockNumbers, EveryCountRoundTrips) {
    for (std::size_t n = 0; n <= 39; ++n) {
        SCOPED_TRACE(::testing::Message() << n << " numbers");
        std::vector<std::uint16_t> in(n);
        for (std::size_t i = 0; i < n; ++i) in[i] = static_cast<std::uint16_t>((i * 2654435761u) & 0xFFF);
        std::array<std::uint8_t, 59> packed{};
        const std::size_t bytes = PackBlockNumbers(in, packed);
        EXPECT_EQ(bytes, (3 * n + 1) / 2);
        std::array<std::uint16_t, 39> out{};
        ASSERT_EQ(UnpackBlockNumbers(std::span<const std::uint8_t>(packed.data(), bytes), out), n);
        for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(out[i], in[i]) << i;
    }
}

TEST(BlockNumbers, MoreThan39AreNotPacked) {
    std::vector<std::uint16_t> in(50, 0xFFF);
    std::array<std::uint8_t, 59> packed{};
    EXPECT_EQ(PackBlockNumbers(in, packed), 59u);
}

TEST(Callsign, FieldIsZeroPaddedAndCut) {
    const auto f = MakeCallsignField("AB1CD");
    EXPECT_EQ(f[4], 'D');
    EXPECT_EQ(f[5], 0);
    EXPECT_EQ(ReadCallsignField(f), "AB1CD");
    const auto g = MakeCallsignField("ABCDEFGHIJ");
    EXPECT_EQ(ReadCallsignField(g), "ABCDEFGH");
    const std::uint8_t nine[] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I'};
    EXPECT_EQ(ReadCallsignField(nine), "ABCDEFGH");
}

}  // namespace
}  // namespace kavra::link
