// The modes no transmitter here sends (300, 150, 75 and 4800 bit/s, and the (D1, D2) pairs
// without a mode): a preamble announcing them and frames laid out as the receiver expects,
// synthesised with the transmitter's waveform chain, are detected and demodulated.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "modem/common/channel_patterns.h"
#include "modem/common/convolutional_code.h"
#include "modem/common/interleaver.h"
#include "modem/common/mode_table.h"
#include "modem/common/symbols.h"
#include "modem/rx/frame_collector.h"
#include "modem/rx/receiver_tables.h"
#include "modem/rx/serial_tone_receiver.h"
#include "modem/tx/waveform_synthesizer.h"

namespace kavra::modem {
namespace {

struct Synthesised {
    std::vector<std::int16_t> ring;      // SampleRing samples at 9600 Hz
    std::vector<int> mapped;             // mapped value of every unknown symbol sent, in order
};

// One interleaver block of a BPSK mode as sent: random data bits coded (the coder running on
// from block to block), each code pair repeated, fetched in the interleaver's order.
std::vector<int> CodedBlock(int mode, ConvolutionalEncoder& coder, std::mt19937& rng) {
    const DataModeInfo& info = ModeInfo(mode);
    const int repeats = info.repeats > 1 ? info.repeats : 1;
    std::vector<int> stream(static_cast<std::size_t>(info.rows * info.columns));
    for (std::size_t pair = 0; pair * 2 * static_cast<std::size_t>(repeats) < stream.size(); ++pair) {
        const ConvolutionalEncoder::CodePair code = coder.Encode(static_cast<int>(rng() % 2));
        for (std::size_t r = 0; r < static_cast<std::size_t>(repeats); ++r) {
            stream[2 * (pair * static_cast<std::size_t>(repeats) + r)] = code.first;
            stream[2 * (pair * static_cast<std::size_t>(repeats) + r) + 1] = code.second;
        }
    }
    const FetchOrderTable orders;
    std::vector<int> sent;
    for (std::uint16_t p : orders.ForMode(mode)) sent.push_back(stream[p]);
    return sent;
}

// Preamble of `segments` segments announcing (d1, d2), then `blocks` interleaver blocks in the
// receiver's frame layout for that pair.  The unknown symbols of a BPSK mode with a code carry
// a codeword, as on the air (the receiver takes the decoder's references); elsewhere each is a
// random value of the modulation.
Synthesised Synthesise(int d1, int d2, int segments, int blocks, std::uint32_t seed) {
    const DataModeSelection sel = SelectDataMode(d1, d2);
    const bool coded = sel.mode >= 0 && ModeInfo(sel.mode).modulation == Modulation::Bpsk;
    const FrameTables tables;
    std::vector<int> symbols;
    for (int n = segments - 1; n >= 0; --n)
        for (std::uint8_t channel_symbol : PreambleSegment(d1, d2, n))
            for (std::uint8_t s : kChannelSymbolPatterns[channel_symbol]) symbols.push_back(s);
    Synthesised out;
    std::mt19937 rng(seed);
    ConvolutionalEncoder coder;
    for (int b = 0; b < blocks; ++b) {
        const std::vector<int> block = coded ? CodedBlock(sel.mode, coder, rng) : std::vector<int>{};
        std::size_t in_block = 0;
        for (int f = 0; f < sel.frames_per_block; ++f) {
            const SymbolTable& table = f + 1 == sel.frames_per_block ? tables.Last(d1, d2) : tables.Normal(sel.layout);
            for (int p = 0; p < kFrameLength; ++p) {
                const int t = table[static_cast<std::size_t>(p)];
                if (t < kUnknownSymbol) {
                    symbols.push_back(t);
                    continue;
                }
                const int mapped = coded                                ? 4 * block.at(in_block++)
                                   : sel.decisions == Modulation::Psk8 ? static_cast<int>(rng() % 8)
                                                                        : 4 * static_cast<int>(rng() % 2);
                out.mapped.push_back(mapped);
                symbols.push_back((mapped + t) % 8);
            }
        }
    }
    for (int k = 0; k < 64; ++k) symbols.push_back(0);  // flushes the shaping filter

    auto synth = std::make_unique<WaveformSynthesizer>(TransmitProfile::Profile2400At48k);
    std::vector<std::int16_t> played(symbols.size() * 20 + 64);
    synth->SetUp(1800, 48000, played);
    for (int s : symbols) synth->SendSymbol(s);
    played.resize(synth->sample_count());
    for (std::size_t i = 0; i < played.size(); i += 5) out.ring.push_back(played[i]);
    return out;
}

// (D1, D2), the mode index reported (-1: the receiver's previous one is kept), unknown symbols
// per block.
using PairCase = std::tuple<int, int, int, int>;

class ReceiveOnlyModes : public ::testing::TestWithParam<PairCase> {};

TEST_P(ReceiveOnlyModes, DetectedAndDemodulated) {
    const auto [d1, d2, mode, per_block] = GetParam();
    const DataModeSelection sel = SelectDataMode(d1, d2);
    const int blocks = sel.frames_per_block == 3 ? 2 : 1;
    const Synthesised tx = Synthesise(d1, d2, sel.frames_per_block == 3 ? 6 : 12, blocks, static_cast<std::uint32_t>(d1 * 8 + d2));

    auto out = std::make_unique<ReceiverOutput>();
    auto rx = std::make_unique<SerialToneReceiver>(0, *out);
    rx->SelectKernels(true);
    int handed = 0;
    std::size_t next = 0;  // index into tx.mapped
    int wrong = 0;
    int ends = 0;
    for (std::size_t i = 0; i < tx.ring.size() + 19200; ++i) {
        rx->ProcessSample(i < tx.ring.size() ? tx.ring[i] : std::int16_t{0});
        const int flags = out->flags.exchange(0);
        // Bits that come with the end of the frame are the decoder's held-back tail.
        if ((flags & kRxFlagBits) != 0 && (flags & kRxFlagEnd) == 0) {
            ++handed;
            EXPECT_EQ(flags, handed == 1 ? kRxFlagStart + kRxFlagBits : kRxFlagBits);
            EXPECT_EQ(out->mode.load(), mode < 0 ? 0 : mode);  // a kept row leaves the receiver's initial 0
            ASSERT_EQ(out->soft_symbol_count, per_block);
            for (int k = 0; k < per_block; ++k, ++next) {
                const SoftSymbol& s = out->soft_symbols[static_cast<std::size_t>(k)];
                const int sent = tx.mapped[next];
                if (sel.decisions == Modulation::Psk8) {
                    // u > 0: first tribit bit 0, i.e. symbols 0..3; v > 0: symbols 0, 1, 6, 7.
                    wrong += (s.i > 0) != (sent <= 3) || (s.q > 0) != (sent <= 1 || sent >= 6);
                } else {
                    wrong += (s.i > 0) != (sent == 0);
                }
            }
            if (mode == kMode4800 && handed == 1) {
                // Uncoded: the decoder's hard decisions are the tribits of the symbols sent.
                ASSERT_EQ(out->decoded_bit_count, 3 * per_block);
                for (int k = 0; k < per_block; ++k) {
                    int tribit = 0;
                    while (kTribitMap[static_cast<std::size_t>(tribit)] != tx.mapped[static_cast<std::size_t>(k)]) ++tribit;
                    for (int bit = 0; bit < 3; ++bit)
                        ASSERT_EQ(out->decoded_bits[static_cast<std::size_t>(3 * k + bit)], (tribit >> (2 - bit)) & 1) << k;
                }
            }
        }
        ends += (flags & kRxFlagEnd) != 0 ? 1 : 0;
    }
    EXPECT_EQ(handed, blocks);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(ends, 1);  // the known symbols stop with the signal
    EXPECT_FALSE(rx->in_data_mode());
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, ReceiveOnlyModes,
    ::testing::Values(PairCase{6, 7, 6, 720}, PairCase{7, 4, 8, 720}, PairCase{5, 4, 9, 5760},
                      PairCase{7, 5, 10, 1080}, PairCase{5, 5, 11, 8640}, PairCase{7, 6, 12, 960},
                      PairCase{7, 7, -1, 960}, PairCase{5, 6, -1, 720}),
    [](const ::testing::TestParamInfo<PairCase>& p) {
        return "D" + std::to_string(std::get<0>(p.param)) + std::to_string(std::get<1>(p.param));
    });

}  // namespace
}  // namespace kavra::modem
