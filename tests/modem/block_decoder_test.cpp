#include "modem/decoder/block_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "modem/common/convolutional_code.h"
#include "modem/common/end_of_message.h"
#include "modem/common/receiver_output.h"
#include "modem/decoder/viterbi_decoder.h"

namespace kavra::modem {
namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;

// Block geometry written out from the mode list, independent of the mode table.
constexpr int kColumns[12] = {72, 576, 36, 288, 18, 144, 18, 144, 18, 144, 9, 36};
constexpr int kDataBits[12] = {1440, 11520, 720, 5760, 360, 2880, 180, 1440, 90, 720, 45, 360};
constexpr int kRepeats[12] = {1, 1, 1, 1, 1, 1, 2, 2, 4, 4, 1, 1};
constexpr int kTribitMapLiteral[8] = {0, 1, 3, 2, 7, 6, 4, 5};
constexpr int kDibitMapLiteral[4] = {0, 2, 6, 4};
constexpr int kJunk = 2;  // a 75 bit/s position the decoder must ignore

int Rows(int mode) { return mode == 10 ? 10 : mode == 11 ? 20 : 40; }
int RowStep(int mode) { return mode >= 10 ? 7 : 9; }
int ColumnStep(int mode) { return mode >= 10 ? 7 : 17; }

// The sending side's interleaver: load column by column, each next bit `row_step` rows further
// down; fetch C passes over rows 0..R-1, the column moving back by `col_step` after each bit.
std::vector<int> Interleave(const std::vector<int>& in, int rows, int cols, int row_step, int col_step) {
    std::vector<int> matrix(static_cast<std::size_t>(rows * cols));
    std::size_t i = 0;
    for (int c = 0; c < cols; ++c) {
        int r = 0;
        for (int k = 0; k < rows; ++k) {
            matrix[static_cast<std::size_t>(r * cols + c)] = in[i++];
            r = (r + row_step) % rows;
        }
    }
    std::vector<int> out;
    for (int p = 0; p < cols; ++p) {
        int c = p;
        for (int r = 0; r < rows; ++r) {
            out.push_back(matrix[static_cast<std::size_t>(r * cols + c)]);
            c = ((c - col_step) % cols + cols) % cols;
        }
    }
    return out;
}

// Coded bits of one block (coding order) -> bits in sending order.  Modes 0-5 as the
// transmitter sends them; 6-11 as the inverse of the decoder: 6-9 repeat each code pair 2 or 4
// times before interleaving, 10-11 interleave and then spread each fetched pair over 24 values
// (positions 1, 4, ... hold the first bit, 2, 5, ... the second, 0, 3, ... are junk).
std::vector<int> SendingOrder(int mode, const std::vector<int>& coded) {
    std::vector<int> stream;
    if (mode < 10) {
        for (std::size_t i = 0; i < coded.size(); i += 2)
            for (int r = 0; r < kRepeats[mode]; ++r) {
                stream.push_back(coded[i]);
                stream.push_back(coded[i + 1]);
            }
        return Interleave(stream, 40, kColumns[mode], 9, 17);
    }
    const std::vector<int> fetched = Interleave(coded, Rows(mode), kColumns[mode], 7, 7);
    for (std::size_t i = 0; i < fetched.size(); i += 2)
        for (int k = 0; k < 8; ++k) {
            stream.push_back(kJunk);
            stream.push_back(fetched[i]);
            stream.push_back(fetched[i + 1]);
        }
    return stream;
}

// Data symbols of a coded block.
std::size_t SymbolsPerBlock(int mode) {
    const int n = kDataBits[mode];
    return static_cast<std::size_t>(mode <= 1 ? n * 2 / 3 : mode <= 3 ? n : mode >= 10 ? n * 24 : n * 2 * kRepeats[mode]);
}

// Sent bits -> soft symbols following the receiver's convention: for 8-PSK symbol k,
// u = Im(z e^{j22.5deg}), v = Re(z e^{j22.5deg}) with z at k x 45deg; QPSK rotated by 45deg;
// BPSK u = Re(z).  Gaussian noise of deviation sigma on both components.
std::vector<SoftSymbol> ToSymbols(int mode, const std::vector<int>& sent, float sigma, std::mt19937& rng) {
    std::normal_distribution<double> noise(0.0, sigma);
    std::bernoulli_distribution coin(0.5);
    std::vector<SoftSymbol> out;
    auto point = [&](double degrees) {
        out.push_back({static_cast<float>(std::sin(degrees * kDegree) + noise(rng)),
                       static_cast<float>(std::cos(degrees * kDegree) + noise(rng))});
    };
    if (mode <= 1 || mode == 12) {
        for (std::size_t i = 0; i + 2 < sent.size(); i += 3) {
            const int k = kTribitMapLiteral[4 * sent[i] + 2 * sent[i + 1] + sent[i + 2]];
            point(45.0 * k + 22.5);
        }
    } else if (mode <= 3) {
        for (std::size_t i = 0; i + 1 < sent.size(); i += 2) point(45.0 * kDibitMapLiteral[2 * sent[i] + sent[i + 1]] + 45.0);
    } else {
        for (int b : sent) {
            const float junk = coin(rng) ? 0.8f : -0.8f;
            const float u = b == kJunk ? junk : (b ? -1.0f : 1.0f);
            out.push_back({u + static_cast<float>(noise(rng)), static_cast<float>(noise(rng)) - junk});
        }
    }
    return out;
}

// Data bits of a run of blocks, coded with one encoder that runs across them; the last block
// ends in zeros as the transmitter's fill does.
struct CodedRun {
    std::vector<std::vector<int>> data;
    std::vector<std::vector<int>> coded;
};

CodedRun MakeRun(int mode, int blocks, std::mt19937& rng) {
    CodedRun run;
    ConvolutionalEncoder encoder;
    for (int b = 0; b < blocks; ++b) {
        std::vector<int> data(static_cast<std::size_t>(kDataBits[mode]));
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = (b + 1 == blocks && i >= data.size() / 2) ? 0 : static_cast<int>(rng() & 1u);
        std::vector<int> coded;
        for (int bit : data) {
            const auto pair = encoder.Encode(bit);
            coded.push_back(pair.first);
            coded.push_back(pair.second);
        }
        run.data.push_back(std::move(data));
        run.coded.push_back(std::move(coded));
    }
    return run;
}

std::vector<int> BitsOf(std::uint32_t word) {
    std::vector<int> bits;
    for (int i = 31; i >= 0; --i) bits.push_back(static_cast<int>((word >> i) & 1u));
    return bits;
}

std::vector<int> Encode(const std::vector<int>& data) {
    ConvolutionalEncoder encoder;
    std::vector<int> coded;
    for (int bit : data) {
        const auto pair = encoder.Encode(bit);
        coded.push_back(pair.first);
        coded.push_back(pair.second);
    }
    return coded;
}

class BlockDecoderFixture {
public:
    struct Result {
        std::vector<int> bits;
        int eom = 0;
    };

    Result DecodeSymbols(int mode, const std::vector<SoftSymbol>& symbols) {
        out_->mode = mode;
        std::copy(symbols.begin(), symbols.end(), out_->soft_symbols.begin());
        out_->soft_symbol_count = static_cast<int>(symbols.size());
        out_->eom_found = 0;
        decoder_.DecodeBlock(*out_);
        Result r;
        r.bits.assign(out_->decoded_bits.begin(), out_->decoded_bits.begin() + out_->decoded_bit_count);
        r.eom = out_->eom_found;
        return r;
    }

    // The blocks of one frame through DecodeFrameBlock and FinishFrame: the bits of every
    // delivery in order, the size of each delivery, and the end-of-message flag of each.
    struct FrameResult {
        std::vector<int> bits;
        std::vector<int> sizes;
        std::vector<int> eoms;
        bool finished = false;  // FinishFrame delivered bits
    };

    FrameResult DecodeFrame(int mode, const std::vector<std::vector<SoftSymbol>>& blocks) {
        FrameResult r;
        auto take = [&] {
            r.bits.insert(r.bits.end(), out_->decoded_bits.begin(), out_->decoded_bits.begin() + out_->decoded_bit_count);
            r.sizes.push_back(out_->decoded_bit_count);
            r.eoms.push_back(out_->eom_found);
        };
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            out_->mode = mode;
            std::copy(blocks[b].begin(), blocks[b].end(), out_->soft_symbols.begin());
            out_->soft_symbol_count = static_cast<int>(blocks[b].size());
            decoder_.DecodeFrameBlock(*out_, b == 0);
            take();
        }
        r.finished = decoder_.FinishFrame(*out_);
        if (r.finished) take();
        return r;
    }

    BlockDecoder decoder_;
    std::unique_ptr<ReceiverOutput> out_ = std::make_unique<ReceiverOutput>();
};

class CodedModeTest : public BlockDecoderFixture, public ::testing::TestWithParam<int> {};

// Three consecutive blocks of one transmission, noise-free, through one decoder.
TEST_P(CodedModeTest, CleanBlocksDecodeExactlyZeroTailIncluded) {
    const int mode = GetParam();
    std::mt19937 rng(100u + static_cast<unsigned>(mode));
    const CodedRun run = MakeRun(mode, 3, rng);
    for (std::size_t b = 0; b < run.data.size(); ++b) {
        const auto symbols = ToSymbols(mode, SendingOrder(mode, run.coded[b]), 0.0f, rng);
        const Result r = DecodeSymbols(mode, symbols);
        EXPECT_EQ(r.eom, 0);
        ASSERT_EQ(r.bits, run.data[b]) << "block " << b;
    }
}

// Gaussian noise strong enough for a few wrong hard decisions in every block.
TEST_P(CodedModeTest, NoisyBlocksStillDecodeExactly) {
    const int mode = GetParam();
    std::mt19937 rng(200u + static_cast<unsigned>(mode));
    const float sigma = mode <= 1 ? 0.17f : mode <= 3 ? 0.36f : 0.5f;
    const CodedRun run = MakeRun(mode, 3, rng);
    int raw_errors = 0;
    for (std::size_t b = 0; b < run.data.size(); ++b) {
        const auto sent = SendingOrder(mode, run.coded[b]);
        const auto clean = ToSymbols(mode, sent, 0.0f, rng);
        const auto noisy = ToSymbols(mode, sent, sigma, rng);
        int errors = 0;
        for (std::size_t i = 0; i < clean.size(); ++i) {
            if (mode >= 10 && sent[i] == kJunk) continue;
            errors += (clean[i].i < 0) != (noisy[i].i < 0);
            if (mode <= 3) errors += (clean[i].q < 0) != (noisy[i].q < 0);
        }
        EXPECT_GE(errors, 3) << "block " << b;
        raw_errors += errors;
        ASSERT_EQ(DecodeSymbols(mode, noisy).bits, run.data[b]) << "block " << b << " with " << errors << " raw errors";
    }
    RecordProperty("raw_errors", raw_errors);
}

// A burst of wrong values in a row is spread by the deinterleaver into isolated errors: C
// consecutive sent values (C = interleaver columns) fall into different columns, or into one
// column twice at most, i.e. at most two errors per 40 coded bits.  At 75 bit/s the burst is
// three whole groups of 24 values, six coded bits before the spreading.
TEST_P(CodedModeTest, BurstOfWrongValuesIsCorrected) {
    const int mode = GetParam();
    std::mt19937 rng(300u + static_cast<unsigned>(mode));
    const CodedRun run = MakeRun(mode, 1, rng);
    auto sent = SendingOrder(mode, run.coded[0]);
    const int length = mode >= 10 ? 3 * 24 : kColumns[mode] * kRepeats[mode];
    const std::size_t start = mode >= 10 ? 24 * (sent.size() / 24 / 3) : sent.size() / 3;
    for (std::size_t i = start; i < start + static_cast<std::size_t>(length); ++i)
        if (sent[i] != kJunk) sent[i] ^= 1;
    ASSERT_EQ(DecodeSymbols(mode, ToSymbols(mode, sent, 0.0f, rng)).bits, run.data[0]);
}

TEST_P(CodedModeTest, ZeroSoftValuesDecodeToAllOnes) {
    const int mode = GetParam();
    const Result r = DecodeSymbols(mode, std::vector<SoftSymbol>(SymbolsPerBlock(mode), SoftSymbol{0.0f, 0.0f}));
    EXPECT_EQ(r.bits, std::vector<int>(static_cast<std::size_t>(kDataBits[mode]), 1));
    EXPECT_EQ(r.eom, 0);
}

// A decoder that has already decoded other blocks gives the same bits as a fresh one: stale
// decision slots only reach the dropped results.
TEST_P(CodedModeTest, UsedDecoderMatchesFreshOne) {
    const int mode = GetParam();
    std::mt19937 rng(400u + static_cast<unsigned>(mode));
    const CodedRun run = MakeRun(mode, 2, rng);
    const auto noisy = ToSymbols(mode, SendingOrder(mode, run.coded[1]), 0.6f, rng);
    const Result used = DecodeSymbols(mode, noisy);
    BlockDecoderFixture fresh;
    EXPECT_EQ(fresh.DecodeSymbols(mode, noisy).bits, used.bits);
}

// The end-of-message word at the start, at an odd offset, and ending on the last bit is found
// and cuts the count; one bit later it no longer fits in the block and is not found.
TEST_P(CodedModeTest, EndOfMessageFoundWhereverItLiesInTheBlock) {
    const int mode = GetParam();
    const int n = kDataBits[mode];
    std::mt19937 rng(500u + static_cast<unsigned>(mode));
    for (int at : {0, 13, n / 2 - 1, n - 32, n - 31}) {
        std::vector<int> data(static_cast<std::size_t>(n));
        for (auto& b : data) b = static_cast<int>(rng() & 1u);
        const auto word = BitsOf(kEomPattern);
        for (int k = 0; k < 32 && at + k < n; ++k) data[static_cast<std::size_t>(at + k)] = word[static_cast<std::size_t>(k)];
        const Result r = DecodeSymbols(mode, ToSymbols(mode, SendingOrder(mode, Encode(data)), 0.0f, rng));
        if (at <= n - 32) {
            EXPECT_EQ(r.eom, 1) << at;
            EXPECT_EQ(r.bits, std::vector<int>(data.begin(), data.begin() + at)) << at;
        } else {
            EXPECT_EQ(r.eom, 0) << at;
            EXPECT_EQ(r.bits, data) << at;
        }
    }
}

// The best path through a noisy block, coded again, is the block's code bits in sending order
// (the first block from no known state, the next carried on from it); the 75 bit/s layout, whose
// values are sums, gives none.  Asking for it does not change what the frame decodes to.
TEST_P(CodedModeTest, BestPathGivesTheSentCodeBitsInSendingOrder) {
    const int mode = GetParam();
    std::mt19937 rng(600u + static_cast<unsigned>(mode));
    const float sigma = mode <= 1 ? 0.17f : mode <= 3 ? 0.36f : 0.5f;
    const CodedRun run = MakeRun(mode, 2, rng);
    std::vector<std::vector<SoftSymbol>> blocks;
    for (const auto& coded : run.coded) blocks.push_back(ToSymbols(mode, SendingOrder(mode, coded), sigma, rng));
    const FrameResult plain = BlockDecoderFixture().DecodeFrame(mode, blocks);

    std::vector<std::uint8_t> bits(kMaxSoftValues + 8);
    std::vector<int> decoded;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        out_->mode = mode;
        std::copy(blocks[b].begin(), blocks[b].end(), out_->soft_symbols.begin());
        out_->soft_symbol_count = static_cast<int>(blocks[b].size());
        const int count = decoder_.BlockCodeBits(*out_, b == 0, bits);
        if (mode >= 10) {
            EXPECT_EQ(count, 0);
        } else {
            const std::vector<int> sent = SendingOrder(mode, run.coded[b]);
            ASSERT_EQ(count, static_cast<int>(sent.size())) << "block " << b;
            EXPECT_TRUE(std::equal(sent.begin(), sent.end(), bits.begin())) << "block " << b;
        }
        decoder_.DecodeFrameBlock(*out_, b == 0);
        decoded.insert(decoded.end(), out_->decoded_bits.begin(), out_->decoded_bits.begin() + out_->decoded_bit_count);
    }
    if (decoder_.FinishFrame(*out_))
        decoded.insert(decoded.end(), out_->decoded_bits.begin(), out_->decoded_bits.begin() + out_->decoded_bit_count);
    EXPECT_EQ(decoded, plain.bits);
}

INSTANTIATE_TEST_SUITE_P(Modes, CodedModeTest, ::testing::Range(0, 12));

class BlockDecoderTest : public BlockDecoderFixture, public ::testing::Test {};

TEST_F(BlockDecoderTest, DecodeBlockAllocatesBuffersForTheLargestBlock) {
    EXPECT_EQ(kMaxSoftValues, 23040);
    EXPECT_GE(static_cast<int>(out_->decoded_bits.size()), kDataBits[1]);
}

// Every single wrong bit of a 600 bit/s short block is corrected, except in the block's last
// pair: the block is not terminated, and a path that differs only in the last input bit is just
// two code bits away, so one error there is a tie.
TEST_F(BlockDecoderTest, SingleErrorAtEveryPositionIsCorrected) {
    constexpr int kMode = 4;
    std::mt19937 rng(600);
    const CodedRun run = MakeRun(kMode, 1, rng);
    const auto sent = SendingOrder(kMode, run.coded[0]);
    // Sending position of each coded bit.
    std::vector<int> index(sent.size());
    for (std::size_t i = 0; i < index.size(); ++i) index[i] = static_cast<int>(i);
    const auto sent_index = Interleave(index, 40, kColumns[kMode], 9, 17);
    for (std::size_t f = 0; f < sent.size(); ++f) {
        if (sent_index[f] >= static_cast<int>(sent.size()) - 2) continue;
        auto wrong = sent;
        wrong[f] ^= 1;
        ASSERT_EQ(DecodeSymbols(kMode, ToSymbols(kMode, wrong, 0.0f, rng)).bits, run.data[0])
            << "sent position " << f << ", coded position " << sent_index[f];
    }
}

// Two wrong bits three apart in coding order, at every position outside the last six pairs
// (near the unterminated end the competing paths are too close for two errors).
TEST_F(BlockDecoderTest, TwoErrorsAtEveryPositionAreCorrected) {
    constexpr int kMode = 4;
    std::mt19937 rng(601);
    const CodedRun run = MakeRun(kMode, 1, rng);
    const auto& coded = run.coded[0];
    for (std::size_t i = 0; i + 3 < coded.size() - 12; ++i) {
        auto wrong = coded;
        wrong[i] ^= 1;
        wrong[i + 3] ^= 1;
        ASSERT_EQ(DecodeSymbols(kMode, ToSymbols(kMode, SendingOrder(kMode, wrong), 0.0f, rng)).bits, run.data[0]) << i;
    }
}

TEST_F(BlockDecoderTest, EightPskDemappingFollowsTheTribitMap) {
    // Mode 12 shows the demapped values directly: symbol k -> its tribit.
    const int expected[8][3] = {{0, 0, 0}, {0, 0, 1}, {0, 1, 1}, {0, 1, 0},
                                {1, 1, 0}, {1, 1, 1}, {1, 0, 1}, {1, 0, 0}};
    std::vector<SoftSymbol> symbols;
    for (int k = 0; k < 8; ++k) {
        const double a = (45.0 * k + 22.5) * kDegree;
        symbols.push_back({static_cast<float>(std::sin(a)), static_cast<float>(std::cos(a))});
    }
    const Result r = DecodeSymbols(12, symbols);
    ASSERT_EQ(r.bits.size(), 24u);
    for (int k = 0; k < 8; ++k)
        for (int j = 0; j < 3; ++j) EXPECT_EQ(r.bits[static_cast<std::size_t>(3 * k + j)], expected[k][j]) << k;
}

TEST_F(BlockDecoderTest, ZeroComponentsCountAsPositive) {
    // (u, v) -> bits (u < 0, v < 0, w < 0) with w = sign(f) sign(g) min(|f|, |g|),
    // f = (v - u)/sqrt2, g = (u + v)/sqrt2, zero counting as positive.
    const std::vector<SoftSymbol> symbols{{0.0f, 0.0f}, {0.0f, -1.0f}, {-1.0f, 0.0f},
                                          {1.0f, 1.0f}, {-1.0f, -1.0f}, {-1.0f, 1.0f}};
    const std::vector<int> expected{0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 0, 0, 1, 1, 0, 1, 0, 0};
    EXPECT_EQ(DecodeSymbols(12, symbols).bits, expected);
}

TEST_F(BlockDecoderTest, Mode12GivesThreeHardBitsPerSymbolWithoutDelay) {
    std::mt19937 rng(700);
    std::vector<int> bits(3 * 7680);
    for (auto& b : bits) b = static_cast<int>(rng() & 1u);
    const Result r = DecodeSymbols(12, ToSymbols(12, bits, 0.05f, rng));
    EXPECT_EQ(r.eom, 0);
    EXPECT_EQ(r.bits, bits);
    // One symbol gives exactly its own three bits.
    const Result one = DecodeSymbols(12, ToSymbols(12, {1, 0, 1}, 0.0f, rng));
    EXPECT_EQ(one.bits, (std::vector<int>{1, 0, 1}));
}

TEST_F(BlockDecoderTest, Mode12FindsTheEndOfMessage) {
    std::mt19937 rng(701);
    for (int at : {0, 1, 2, 100, 3 * 50 - 32}) {
        std::vector<int> bits(3 * 50);
        for (auto& b : bits) b = static_cast<int>(rng() & 1u);
        const auto word = BitsOf(kEomPattern);
        std::copy(word.begin(), word.end(), bits.begin() + at);
        const Result r = DecodeSymbols(12, ToSymbols(12, bits, 0.0f, rng));
        EXPECT_EQ(r.eom, 1) << at;
        EXPECT_EQ(r.bits, std::vector<int>(bits.begin(), bits.begin() + at)) << at;
    }
}

// Every start offset within a 600 bit/s short block.
TEST_F(BlockDecoderTest, EndOfMessageAtEveryOffsetReportsExactlyTheBitsBefore) {
    constexpr int kMode = 4;
    const int n = kDataBits[kMode];
    std::mt19937 rng(800);
    const auto word = BitsOf(kEomPattern);
    for (int at = 0; at <= n - 32; ++at) {
        std::vector<int> data(static_cast<std::size_t>(n));
        for (auto& b : data) b = static_cast<int>(rng() & 1u);
        std::copy(word.begin(), word.end(), data.begin() + at);
        const Result r = DecodeSymbols(kMode, ToSymbols(kMode, SendingOrder(kMode, Encode(data)), 0.0f, rng));
        ASSERT_EQ(r.eom, 1) << at;
        ASSERT_EQ(r.bits, std::vector<int>(data.begin(), data.begin() + at)) << at;
    }
}

// The word split over two blocks is found in neither, whatever the split.  With 31 bits in the
// second block the word (whose top bit is 0) would equal the 31 bits shifted in so far; the
// search must not take that for a word starting before the block.
TEST_F(BlockDecoderTest, EndOfMessageSplitOverTwoBlocksIsNotFound) {
    constexpr int kMode = 0;
    const int n = kDataBits[kMode];
    std::mt19937 rng(900);
    const auto word = BitsOf(kEomPattern);
    for (int in_first = 1; in_first < 32; ++in_first) {
        std::vector<int> data(static_cast<std::size_t>(2 * n));
        for (auto& b : data) b = static_cast<int>(rng() & 1u);
        std::copy(word.begin(), word.end(), data.begin() + (n - in_first));
        const auto coded = Encode(data);
        for (int b = 0; b < 2; ++b) {
            const std::vector<int> block_coded(coded.begin() + 2 * n * b, coded.begin() + 2 * n * (b + 1));
            const Result r = DecodeSymbols(kMode, ToSymbols(kMode, SendingOrder(kMode, block_coded), 0.0f, rng));
            EXPECT_EQ(r.eom, 0) << in_first << " block " << b;
            EXPECT_EQ(r.bits, std::vector<int>(data.begin() + n * b, data.begin() + n * (b + 1))) << in_first;
        }
    }
}

TEST(FindEndOfMessageTest, FirstWholeOccurrenceWins) {
    const auto word = BitsOf(kEomPattern);
    std::vector<std::int32_t> bits(200, 0);
    std::copy(word.begin(), word.end(), bits.begin() + 150);
    std::copy(word.begin(), word.end(), bits.begin() + 70);
    EXPECT_EQ(FindEndOfMessage(bits), 70);
    // The last 31 bits of the word at the very start are not a whole word.
    std::vector<std::int32_t> tail(word.begin() + 1, word.end());
    tail.resize(60, 1);
    EXPECT_EQ(FindEndOfMessage(tail), -1);
    EXPECT_EQ(FindEndOfMessage({}), -1);
    std::vector<std::int32_t> exact(word.begin(), word.end());
    EXPECT_EQ(FindEndOfMessage(exact), 0);
}

TEST_F(BlockDecoderTest, EndOfMessageFlagIsClearedWhenNotFound) {
    out_->eom_found = 1;
    out_->mode = 12;
    out_->soft_symbol_count = 4;
    out_->soft_symbols.fill({1.0f, 1.0f});
    decoder_.DecodeBlock(*out_);
    EXPECT_EQ(out_->eom_found, 0);
    EXPECT_EQ(out_->decoded_bit_count, 12);
}

class InvalidModeTest : public BlockDecoderFixture, public ::testing::TestWithParam<int> {};

TEST_P(InvalidModeTest, DecodesNothingAndWritesNoBits) {
    out_->decoded_bits.fill(7);
    out_->decoded_bit_count = 99;
    out_->eom_found = 1;
    out_->mode = GetParam();
    out_->soft_symbol_count = 1000;
    decoder_.DecodeBlock(*out_);
    EXPECT_EQ(out_->decoded_bit_count, 0);
    EXPECT_EQ(out_->eom_found, 0);
    EXPECT_TRUE(std::all_of(out_->decoded_bits.begin(), out_->decoded_bits.end(), [](int b) { return b == 7; }));
}

INSTANTIATE_TEST_SUITE_P(BadModes, InvalidModeTest, ::testing::Values(-1, 13, 14, 1000, INT_MIN, INT_MAX));

class SymbolCountTest : public BlockDecoderFixture, public ::testing::TestWithParam<int> {};

// Counts outside the buffers are cut to them (the sanitizer build checks the accesses); coded
// modes always give their block's bits, mode 12 three per symbol up to 23040.
TEST_P(SymbolCountTest, OutOfRangeCountsStayInsideTheBuffers) {
    const int mode = GetParam();
    std::mt19937 rng(1000u + static_cast<unsigned>(mode));
    std::normal_distribution<float> gauss(0.0f, 1.0f);
    for (auto& s : out_->soft_symbols) s = {gauss(rng), gauss(rng)};
    for (int count : {-1, INT_MIN, 0, 1, 8639, 8640, 8641, INT_MAX}) {
        out_->mode = mode;
        out_->soft_symbol_count = count;
        decoder_.DecodeBlock(*out_);
        const int clamped = std::clamp(count, 0, 8640);
        const int expected = mode == 12 ? 3 * std::min(clamped, 7680) : kDataBits[mode];
        if (out_->eom_found) {
            EXPECT_LT(out_->decoded_bit_count, expected);
        } else {
            EXPECT_EQ(out_->decoded_bit_count, expected) << count;
        }
        EXPECT_GE(out_->decoded_bit_count, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, SymbolCountTest, ::testing::Range(0, 13));

// Symbols after the block are ignored; symbols missing at its end count as erasures, which the
// code bridges when they are few.
TEST_P(CodedModeTest, ExtraSymbolsAreIgnoredAndAFewMissingOnesAreBridged) {
    const int mode = GetParam();
    std::mt19937 rng(1100u + static_cast<unsigned>(mode));
    const CodedRun run = MakeRun(mode, 1, rng);
    auto symbols = ToSymbols(mode, SendingOrder(mode, run.coded[0]), 0.0f, rng);
    const std::size_t full = symbols.size();
    auto longer = symbols;
    longer.resize(std::min<std::size_t>(full + 200, 8640), SoftSymbol{-5.0f, 5.0f});
    EXPECT_EQ(DecodeSymbols(mode, longer).bits, run.data[0]);
    symbols.resize(full - full / 16);
    EXPECT_EQ(DecodeSymbols(mode, symbols).bits, run.data[0]);
}

// The decoder against a plain rendering of its steps: matrix deinterleaving written in the
// sending side's fetch order and read in its load order, sums taken left to right.
// Soft values in sending order: 8-PSK by the closed forms of the max-log values.
std::vector<float> ReferenceSoftValues(int mode, const std::vector<SoftSymbol>& symbols) {
    std::vector<float> x;
    for (const auto& s : symbols) {
        if (mode <= 1 || mode == 12) {
            const float f = 0.70710677f * (s.q - s.i);
            const float g = 0.70710677f * (s.i + s.q);
            const float sf = f < 0 ? -1.0f : 1.0f;
            const float sg = g < 0 ? -1.0f : 1.0f;
            // First two bits: max-log over the eight points, in units of the boundary distance.
            const float eu = std::max(0.0f, std::abs(s.i) - std::abs(s.q));
            const float ev = std::max(0.0f, std::abs(s.q) - std::abs(s.i));
            x.insert(x.end(), {s.i + std::copysign(0.70710677f * eu, s.i), s.q + std::copysign(0.70710677f * ev, s.q),
                               sf * sg * std::min(std::abs(f), std::abs(g))});
        } else if (mode <= 3) {
            x.insert(x.end(), {s.i, s.q});
        } else {
            x.push_back(s.i);
        }
    }
    return x;
}

// Code pairs of one coded block in coding order.
std::vector<float> ReferencePairs(int mode, const std::vector<SoftSymbol>& symbols) {
    std::vector<float> x = ReferenceSoftValues(mode, symbols);
    if (mode >= 10) {
        std::vector<float> y;
        for (std::size_t g = 0; g + 24 <= x.size(); g += 24) {
            float a = x[g + 1];
            float b = x[g + 2];
            for (std::size_t k = 3; k < 24; k += 3) {
                a += x[g + k + 1];
                b += x[g + k + 2];
            }
            y.insert(y.end(), {a, b});
        }
        x = y;
    }
    const int rows = Rows(mode), cols = kColumns[mode];
    x.resize(static_cast<std::size_t>(rows * cols), 0.0f);
    std::vector<float> matrix(x.size());
    std::size_t i = 0;
    for (int p = 0; p < cols; ++p) {
        int c = p;
        for (int r = 0; r < rows; ++r) {
            matrix[static_cast<std::size_t>(r * cols + c)] = x[i++];
            c = ((c - ColumnStep(mode)) % cols + cols) % cols;
        }
    }
    std::vector<float> y;
    for (int c = 0; c < cols; ++c) {
        int r = 0;
        for (int k = 0; k < rows; ++k) {
            y.push_back(matrix[static_cast<std::size_t>(r * cols + c)]);
            r = (r + RowStep(mode)) % rows;
        }
    }
    const int group = 2 * kRepeats[mode];
    std::vector<float> z;
    for (std::size_t g = 0; g + static_cast<std::size_t>(group) <= y.size(); g += static_cast<std::size_t>(group)) {
        float a = y[g];
        float b = y[g + 1];
        for (int k = 2; k < group; k += 2) {
            a += y[g + static_cast<std::size_t>(k)];
            b += y[g + static_cast<std::size_t>(k) + 1];
        }
        z.insert(z.end(), {a, b});
    }
    return z;
}

// One trellis over the code pairs of consecutive blocks, best metric subtracted at each block
// start after the first, 64 empty pairs at the end, the first 64 results dropped.
std::vector<int> ReferenceTrellis(const std::vector<std::vector<float>>& blocks) {
    ViterbiDecoder viterbi;
    std::vector<int> bits;
    std::size_t step = 0;
    auto run = [&](float a, float b) {
        const float r = viterbi.Step(a, b);
        if (step++ >= 64) bits.push_back(r < 0 ? 1 : 0);
    };
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        if (b > 0) viterbi.Normalize();
        for (std::size_t k = 0; k + 1 < blocks[b].size(); k += 2) run(blocks[b][k], blocks[b][k + 1]);
    }
    for (int k = 0; k < 64; ++k) run(0.0f, 0.0f);
    return bits;
}

std::vector<int> ReferenceDecode(int mode, const std::vector<SoftSymbol>& symbols) {
    if (mode == 12) {
        std::vector<int> bits;
        for (float v : ReferenceSoftValues(mode, symbols)) bits.push_back(v < 0 ? 1 : 0);
        return bits;
    }
    return ReferenceTrellis({ReferencePairs(mode, symbols)});
}

class ReferenceIdentityTest : public BlockDecoderFixture, public ::testing::TestWithParam<int> {};

TEST_P(ReferenceIdentityTest, MatchesThePlainRenderingOnRandomInput) {
    const int mode = GetParam();
    std::mt19937 rng(1200u + static_cast<unsigned>(mode));
    std::normal_distribution<float> gauss(0.0f, 1.0f);
    std::uniform_int_distribution<int> small(-2, 2);
    const int block = mode <= 1 || mode == 12 ? 7680 : 8640;
    for (int trial = 0; trial < 3; ++trial) {
        // Full blocks of noise, blocks of small integers full of ties, and a short block.
        const int n = trial == 2 ? block / 3 : block;
        std::vector<SoftSymbol> symbols(static_cast<std::size_t>(n));
        for (auto& s : symbols)
            s = trial == 1 ? SoftSymbol{static_cast<float>(small(rng)), static_cast<float>(small(rng))}
                           : SoftSymbol{gauss(rng) * 40.0f, gauss(rng) * 40.0f};
        std::vector<int> expected = ReferenceDecode(mode, symbols);
        if (mode != 12) expected.resize(static_cast<std::size_t>(kDataBits[mode]));
        const int eom = FindEndOfMessage(std::vector<std::int32_t>(expected.begin(), expected.end()));
        if (eom >= 0) expected.resize(static_cast<std::size_t>(eom));
        ASSERT_EQ(DecodeSymbols(mode, symbols).bits, expected) << "trial " << trial;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, ReferenceIdentityTest, ::testing::Range(0, 13));

// The 8-PSK soft bits against a brute-force max-log demapper over the eight points and their
// tribits, scaled by the distance of neighbouring points to a boundary (2 sin 22.5 degrees).
TEST(EightPskSoftBitsTest, EqualMaxLogOverTheEightPoints) {
    const int tribit_of_point[8] = {0, 1, 3, 2, 6, 7, 5, 4};
    std::mt19937 rng(1300);
    std::uniform_real_distribution<double> angle(0.0, 360.0);
    std::uniform_real_distribution<double> radius(0.0, 1.6);
    for (int trial = 0; trial < 20000; ++trial) {
        const double a = angle(rng) * kDegree;
        const double r = trial < 16 ? 1.0 : radius(rng);
        const double u = trial < 16 ? std::sin(22.5 * trial * kDegree) : r * std::sin(a);
        const double v = trial < 16 ? std::cos(22.5 * trial * kDegree) : r * std::cos(a);
        const auto bits = EightPskSoftBits(static_cast<float>(u), static_cast<float>(v));
        for (int j = 0; j < 3; ++j) {
            double best[2] = {-10.0, -10.0};
            for (int k = 0; k < 8; ++k) {
                const double p = (45.0 * k + 22.5) * kDegree;
                const int bit = (tribit_of_point[k] >> (2 - j)) & 1;
                best[bit] = std::max(best[bit], u * std::sin(p) + v * std::cos(p));
            }
            const double expected = (best[0] - best[1]) / (2.0 * std::sin(22.5 * kDegree));
            ASSERT_NEAR(bits[static_cast<std::size_t>(j)], expected, 1e-5) << "u " << u << " v " << v << " bit " << j;
        }
    }
}

// A frame's blocks decoded as one stream: the bits equal one trellis run over all of the
// frame's code pairs; deliveries lag the blocks by 64 bits, the last 64 come with FinishFrame.
TEST_P(ReferenceIdentityTest, FrameDecodingIsOneTrellisOverTheFrame) {
    const int mode = GetParam();
    std::mt19937 rng(1400u + static_cast<unsigned>(mode));
    std::normal_distribution<float> gauss(0.0f, 40.0f);
    const int symbols_per_block = mode == 12 ? 960 : static_cast<int>(SymbolsPerBlock(mode));
    std::vector<std::vector<SoftSymbol>> blocks(3);
    std::vector<std::vector<float>> pairs;
    std::vector<int> expected;
    for (auto& b : blocks) {
        b.resize(static_cast<std::size_t>(symbols_per_block));
        for (auto& s : b) s = {gauss(rng), gauss(rng)};
        if (mode == 12) {
            const auto hard = ReferenceDecode(mode, b);
            expected.insert(expected.end(), hard.begin(), hard.end());
        } else {
            pairs.push_back(ReferencePairs(mode, b));
        }
    }
    if (mode != 12) expected = ReferenceTrellis(pairs);
    const int eom = FindEndOfMessage(std::vector<std::int32_t>(expected.begin(), expected.end()));
    if (eom >= 0) expected.resize(static_cast<std::size_t>(eom));

    const FrameResult r = DecodeFrame(mode, blocks);
    EXPECT_EQ(r.bits, expected);
    if (eom < 0 && mode != 12) {
        const int n = kDataBits[mode];
        // Bits come out 64 trellis steps late.
        auto out_by = [](int steps) { return std::max(0, steps - 64); };
        const std::vector<int> sizes{out_by(n), out_by(2 * n) - out_by(n), out_by(3 * n) - out_by(2 * n), std::min(64, 3 * n)};
        EXPECT_EQ(r.sizes, sizes);
        EXPECT_TRUE(r.finished);
    }
    if (mode == 12) {
        EXPECT_FALSE(r.finished);  // uncoded: nothing held back
    }
}

// The last code pair of a block is unprotected when the block is decoded alone (one wrong
// code bit there is a tie); in a frame the next block's first pairs decide it.
TEST_P(CodedModeTest, FrameDecodingCorrectsTheLastPairOfABlock) {
    const int mode = GetParam();
    std::mt19937 rng(1500u + static_cast<unsigned>(mode));
    const CodedRun run = MakeRun(mode, 2, rng);
    for (int which = 0; which < 2; ++which) {
        auto first = run.coded[0];
        first[first.size() - 2 + static_cast<std::size_t>(which)] ^= 1;
        // Every copy of a repeated pair is wrong, so the repetition cannot outvote it.
        const std::vector<std::vector<SoftSymbol>> blocks{ToSymbols(mode, SendingOrder(mode, first), 0.0f, rng),
                                                          ToSymbols(mode, SendingOrder(mode, run.coded[1]), 0.0f, rng)};
        std::vector<int> sent = run.data[0];
        sent.insert(sent.end(), run.data[1].begin(), run.data[1].end());
        EXPECT_EQ(DecodeFrame(mode, blocks).bits, sent) << "code bit " << which;
    }
}

// The word is found in the frame's stream wherever it lies: inside a delivery, across the
// boundary of two deliveries (the earlier one has already given out its first bits), and across
// the boundary of two blocks.  Nothing is held back after it.
TEST_F(BlockDecoderTest, FrameFindsTheEndOfMessageAcrossBlocksAndDeliveries) {
    constexpr int kMode = 0;
    const int n = kDataBits[kMode];
    std::mt19937 rng(1600);
    const auto word = BitsOf(kEomPattern);
    for (int start = n - 64 - 40; start < n + 8; ++start) {
        std::vector<int> data(static_cast<std::size_t>(2 * n));
        for (auto& b : data) b = static_cast<int>(rng() & 1u);
        std::copy(word.begin(), word.end(), data.begin() + start);
        if (FindEndOfMessage(std::vector<std::int32_t>(data.begin(), data.begin() + start + 31)) >= 0) continue;
        const auto coded = Encode(data);
        std::vector<std::vector<SoftSymbol>> blocks;
        for (int b = 0; b < 2; ++b)
            blocks.push_back(ToSymbols(kMode, SendingOrder(kMode, std::vector<int>(coded.begin() + 2 * n * b, coded.begin() + 2 * n * (b + 1))), 0.0f, rng));
        const FrameResult r = DecodeFrame(kMode, blocks);
        // The first delivery ends 64 bits before the end of the first block; a word that
        // straddles that point has had its first bits delivered.
        const bool straddles = start < n - 64 && start + 32 > n - 64;
        const int delivered = straddles ? n - 64 : start;
        EXPECT_EQ(r.bits, std::vector<int>(data.begin(), data.begin() + delivered)) << start;
        EXPECT_EQ(std::count(r.eoms.begin(), r.eoms.end(), 1), 1) << start;
        EXPECT_FALSE(r.finished) << start;
    }
}

TEST_F(BlockDecoderTest, FinishFrameDeliversOnlyWhatAFrameHolds) {
    EXPECT_FALSE(decoder_.FinishFrame(*out_));  // no frame yet
    out_->mode = 4;
    out_->soft_symbol_count = 720;
    out_->soft_symbols.fill({1.0f, 0.0f});
    decoder_.DecodeFrameBlock(*out_, true);
    EXPECT_EQ(out_->decoded_bit_count, 360 - 64);
    EXPECT_TRUE(decoder_.FinishFrame(*out_));
    EXPECT_EQ(out_->decoded_bit_count, 64);
    EXPECT_FALSE(decoder_.FinishFrame(*out_));  // once only
    decoder_.DecodeFrameBlock(*out_, true);
    decoder_.DecodeBlock(*out_);  // a block decoded alone closes the frame
    EXPECT_FALSE(decoder_.FinishFrame(*out_));
    out_->mode = 13;
    decoder_.DecodeFrameBlock(*out_, true);
    EXPECT_EQ(out_->decoded_bit_count, 0);
    EXPECT_FALSE(decoder_.FinishFrame(*out_));
}

}  // namespace
}  // namespace kavra::modem
