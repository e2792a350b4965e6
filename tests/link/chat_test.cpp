// Cutting typed lines into blocks, the receiver's line buffer, and the chat queue.
#include <gtest/gtest.h>

#include "link/chat.h"

namespace kavra::link {
namespace {

std::vector<ReceivedBlock> Parse(const std::vector<LinkBlockBytes>& blocks) {
    std::vector<ReceivedBlock> out;
    for (const auto& b : blocks) {
        ReceivedBlock r;
        EXPECT_EQ(ParseLinkBlock(b, r), ParseResult::Ok);
        EXPECT_EQ(r.code, static_cast<int>(ControlCode::ChatData));
        out.push_back(r);
    }
    return out;
}

TEST(ChatBlocks, LineLengths) {
    struct Case {
        std::size_t chars;
        std::vector<int> lengths;
    };
    for (const Case& c : {Case{1, {2}}, Case{58, {59}}, Case{59, {59, 1}}, Case{115, {59, 57}}, Case{117, {59, 59}}}) {
        const std::string text(c.chars, 'q');
        const auto blocks = ChatBlocksForLine(text);
        const auto parsed = Parse(blocks);
        ASSERT_EQ(parsed.size(), c.lengths.size()) << c.chars;
        for (std::size_t i = 0; i < parsed.size(); ++i) EXPECT_EQ(parsed[i].length, c.lengths[i]) << c.chars;
        EXPECT_EQ(parsed.back().payload[parsed.back().length - 1u], '\n');
    }
    // A 58-character line is one full block: header bit 14 set.
    const auto full = ChatBlocksForLine(std::string(58, 'a'));
    EXPECT_EQ(full[0][0], 0xC0);
    EXPECT_EQ(full[0][1], 0x04);
}

TEST(ChatLineBuffer, ShowsLinesAtBreaksAndAtEmptyBlocks) {
    ChatLineBuffer buffer;
    std::vector<std::string> lines;
    auto feed = [&](std::string_view s) {
        buffer.Receive({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}, lines);
    };
    feed("hello");
    EXPECT_TRUE(lines.empty());
    feed(" there\n");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "hello there");
    feed("\n\r\n");  // line breaks with an empty buffer show nothing
    EXPECT_EQ(lines.size(), 1u);
    feed("a\r\nb\n");  // two breaks in a row show one line
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "a");
    EXPECT_EQ(lines[2], "b");
    feed("partial");
    feed("");  // the empty keep-alive block flushes
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3], "partial");
    feed("");
    EXPECT_EQ(lines.size(), 4u);
}

TEST(ChatLineBuffer, A116CharacterLineIsShownAtItsLastCharacter) {
    ChatLineBuffer buffer;
    std::vector<std::string> lines;
    const std::string a(59, 'x'), b(57, 'y');
    buffer.Receive({reinterpret_cast<const std::uint8_t*>(a.data()), a.size()}, lines);
    buffer.Receive({reinterpret_cast<const std::uint8_t*>(b.data()), b.size()}, lines);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 116u);
    EXPECT_EQ(buffer.size(), 0u);
    const std::uint8_t lf = '\n';
    buffer.Receive({&lf, 1}, lines);
    EXPECT_EQ(lines.size(), 1u);
}

TEST(ChatQueue, HoldsAll512AndRefusesMore) {
    ChatQueue q;
    LinkBlockBytes block{};
    for (std::size_t i = 0; i < kChatQueueSlots; ++i) {
        block[2] = static_cast<std::uint8_t>(i);
        block[3] = static_cast<std::uint8_t>(i >> 8);
        ASSERT_TRUE(q.Push(block)) << i;
    }
    EXPECT_EQ(q.FreeSlots(), 0u);
    block[2] = 0xEE;
    EXPECT_FALSE(q.Push(block));
    LinkBlockBytes out{};
    for (std::size_t i = 0; i < kChatQueueSlots; ++i) {
        ASSERT_TRUE(q.Pop(out));
        EXPECT_EQ(out[2] | out[3] << 8, static_cast<int>(i));  // nothing overwritten
    }
    EXPECT_FALSE(q.Pop(out));
    EXPECT_EQ(q.FreeSlots(), kChatQueueSlots);
}

TEST(ChatQueue, EmptyingFromEitherSide) {
    ChatQueue q;
    LinkBlockBytes block{};
    LinkBlockBytes out{};
    q.Push(block);
    q.Push(block);
    q.ClearFromProducer();
    EXPECT_EQ(q.FreeSlots(), kChatQueueSlots);
    block[2] = 7;
    q.Push(block);  // pushed after the request: kept
    ASSERT_TRUE(q.Pop(out));
    EXPECT_EQ(out[2], 7);
    EXPECT_FALSE(q.Pop(out));
    q.Push(block);
    q.ClearFromConsumer();
    EXPECT_TRUE(q.EmptyForConsumer());
    EXPECT_EQ(q.FreeSlots(), kChatQueueSlots);
    // Positions keep counting across the 32-bit wrap of many pushes.
    for (int i = 0; i < 5000; ++i) {
        ASSERT_TRUE(q.Push(block));
        ASSERT_TRUE(q.Pop(out));
    }
    EXPECT_TRUE(q.EmptyForConsumer());
}

}  // namespace
}  // namespace kavra::link
