// The host-side frame collector: flags, bit packing and the end-of-message cut.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "modem/common/end_of_message.h"
#include "modem/rx/frame_collector.h"

namespace kavra::modem {
namespace {

// Bits of `bytes`, least significant bit first.
std::vector<int> BitsOf(const std::vector<std::uint8_t>& bytes) {
    std::vector<int> bits;
    for (std::uint8_t b : bytes)
        for (int k = 0; k < 8; ++k) bits.push_back((b >> k) & 1);
    return bits;
}

void Hand(ReceiverOutput& out, FrameCollector& c, const std::vector<int>& bits, int flags, bool eom = false) {
    out.decoded_bit_count = static_cast<int>(bits.size());
    for (std::size_t i = 0; i < bits.size(); ++i) out.decoded_bits[i] = bits[i];
    out.eom_found = eom ? 1 : 0;
    out.flags = flags;
    c.Poll(out);
    EXPECT_EQ(out.flags.load(), 0);  // read and cleared
}

TEST(FrameCollector, PacksBitsAndClosesOnEnd) {
    auto out = std::make_unique<ReceiverOutput>();
    FrameCollector c;
    out->mode = 4;
    out->freq_offset = -12;
    Hand(*out, c, BitsOf({0x01, 0x80}), kRxFlagStart + kRxFlagBits);
    Hand(*out, c, BitsOf({0xFF}), kRxFlagBits, true);
    EXPECT_TRUE(c.in_frame());
    out->snr_avg = 30;
    out->snr_min = 28;
    out->snr_max = 33;
    out->flags = kRxFlagEnd;
    c.Poll(*out);
    EXPECT_FALSE(c.in_frame());
    ASSERT_EQ(c.frames().size(), 1u);
    const ReceivedFrame& f = c.frames()[0];
    EXPECT_EQ(f.bytes, (std::vector<std::uint8_t>{0x01, 0x80, 0xFF}));
    EXPECT_EQ(f.mode, 4);
    EXPECT_EQ(f.blocks, 2);
    EXPECT_TRUE(f.eom);
    EXPECT_TRUE(f.ended);
    EXPECT_EQ(f.snr_avg, 30);
    EXPECT_EQ(f.snr_min, 28);
    EXPECT_EQ(f.snr_max, 33);
    EXPECT_EQ(f.freq_offset_hz, -12);
}

TEST(FrameCollector, EndWordAcrossTwoBlocksCutsTheMessage) {
    // The decoder finds the word only inside one block; here its first 12 bits end block 1.
    auto out = std::make_unique<ReceiverOutput>();
    FrameCollector c;
    std::vector<std::uint8_t> stream{0x10, 0x20, 0x30};
    stream.insert(stream.end(), kEomBytes.begin(), kEomBytes.end());
    stream.push_back(0x00);
    const std::vector<int> bits = BitsOf(stream);
    const std::vector<int> first(bits.begin(), bits.begin() + 36);
    const std::vector<int> second(bits.begin() + 36, bits.end());
    Hand(*out, c, first, kRxFlagStart + kRxFlagBits);
    Hand(*out, c, second, kRxFlagBits);
    ASSERT_EQ(c.frames().size(), 1u);
    EXPECT_EQ(c.frames()[0].bytes, (std::vector<std::uint8_t>{0x10, 0x20, 0x30}));
    EXPECT_TRUE(c.frames()[0].eom);
    // Bits after the word are not part of the message.
    Hand(*out, c, BitsOf({0x55}), kRxFlagBits);
    EXPECT_EQ(c.frames()[0].bytes.size(), 3u);
}

TEST(FrameCollector, StartFlagOpensANewFrameAndSyncLossesAreCounted) {
    auto out = std::make_unique<ReceiverOutput>();
    FrameCollector c;
    Hand(*out, c, BitsOf({0xAA}), kRxFlagStart + kRxFlagBits);
    out->flags = kRxFlagSyncLost;
    c.Poll(*out);
    Hand(*out, c, BitsOf({0xBB}), kRxFlagStart + kRxFlagBits);
    c.Finish(*out);
    ASSERT_EQ(c.frames().size(), 2u);
    EXPECT_FALSE(c.frames()[0].ended);
    EXPECT_EQ(c.frames()[1].bytes, std::vector<std::uint8_t>{0xBB});
    EXPECT_EQ(c.sync_losses(), 1);
    EXPECT_EQ(c.AllBytes(), (std::vector<std::uint8_t>{0xAA, 0xBB}));
}

}  // namespace
}  // namespace kavra::modem
