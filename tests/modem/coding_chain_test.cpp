// The transmitter's own channel symbols, descrambled and turned into ideal soft values, decode
// through the block decoder to exactly the message bytes, end of message included.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "modem/common/data_scrambler.h"
#include "modem/common/mode_table.h"
#include "modem/decoder/block_decoder.h"
#include "modem/tx/serial_tone_transmitter.h"

namespace kavra::modem {
namespace {

struct Decoded {
    std::vector<std::uint8_t> bytes;
    bool eom = false;
    int blocks = 0;
};

// Soft pair of a descrambled symbol k: u = Im(z e^{j22.5deg}), v = Re(z e^{j22.5deg}).
SoftSymbol IdealSoft(int k) {
    const double angle = (45.0 * k + 22.5) * 3.14159265358979323846 / 180.0;
    return {static_cast<float>(std::sin(angle)), static_cast<float>(std::cos(angle))};
}

Decoded DecodeSymbols(const std::vector<int>& symbols, int mode, BlockDecoder& decoder, ReceiverOutput& out) {
    const auto& info = ModeInfo(mode);
    const int frame = FrameSymbols(mode);
    std::size_t pos = static_cast<std::size_t>(PreambleSymbols(mode));
    std::vector<int> bits;
    Decoded result;
    DataScrambler scrambler;
    while (pos < symbols.size() && !result.eom) {
        out.mode = mode;
        out.soft_symbol_count = 0;
        for (int f = 0; f < FramesPerBlock(mode); ++f) {
            if ((f * frame) % kSegmentSymbols == 0) scrambler.Reset();
            for (int k = 0; k < frame; ++k, ++pos) {
                const int c = scrambler.Next();
                if (k < info.data_symbols)
                    out.soft_symbols[static_cast<std::size_t>(out.soft_symbol_count++)] = IdealSoft((symbols[pos] - c + 8) % 8);
            }
        }
        decoder.DecodeBlock(out);
        ++result.blocks;
        for (int i = 0; i < out.decoded_bit_count; ++i) bits.push_back(out.decoded_bits[static_cast<std::size_t>(i)]);
        result.eom = out.eom_found != 0;
    }
    for (std::size_t i = 0; i + 8 <= bits.size(); i += 8) {
        int byte = 0;
        for (int b = 0; b < 8; ++b) byte |= bits[i + static_cast<std::size_t>(b)] << b;
        result.bytes.push_back(static_cast<std::uint8_t>(byte));
    }
    return result;
}

class CodingChain : public ::testing::TestWithParam<int> {
protected:
    std::unique_ptr<SerialToneTransmitter> tx_ = std::make_unique<SerialToneTransmitter>(TransmitProfile::Profile2400At48k);
    std::unique_ptr<BlockDecoder> decoder_ = std::make_unique<BlockDecoder>();
    std::unique_ptr<ReceiverOutput> out_ = std::make_unique<ReceiverOutput>();
};

TEST_P(CodingChain, MessagesAroundEveryBlockBoundaryComeBackExactly) {
    const int mode = GetParam();
    const int b = DataBytesPerBlock(mode);
    std::mt19937 rng(static_cast<unsigned>(mode) + 7u);
    for (int length : {0, 1, 65, b - 17, b - 16, b - 15, b, 3 * b + 5}) {
        std::vector<std::uint8_t> message(static_cast<std::size_t>(length));
        for (auto& byte : message) byte = static_cast<std::uint8_t>(rng());
        std::vector<int> symbols;
        tx_->SetSymbolTap([](void* c, int s) { static_cast<std::vector<int>*>(c)->push_back(s); }, &symbols);
        std::vector<std::int16_t> samples(16);  // only the symbols matter here
        std::uint32_t count = 0;
        const int blocks = tx_->Transmit(message, 1800, 48000, mode, samples, count);
        ASSERT_EQ(blocks, BlocksForMessage(mode, length));

        const Decoded d = DecodeSymbols(symbols, mode, *decoder_, *out_);
        EXPECT_TRUE(d.eom) << "mode " << mode << " length " << length;
        EXPECT_EQ(d.bytes, message) << "mode " << mode << " length " << length;
        // The word is found in the block that holds its first copy.
        EXPECT_EQ(d.blocks, (length + 4 - 1) / b + 1) << "mode " << mode << " length " << length;
    }
}

INSTANTIATE_TEST_SUITE_P(TransmittedModes, CodingChain, ::testing::Range(0, 6));

}  // namespace
}  // namespace kavra::modem
