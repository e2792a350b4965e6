// The modem end to end: the transmitter's audio, carried to the SampleRing rate, decoded back
// to the message bytes by the receiver of the same modem type.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "modem/common/mode_table.h"
#include "modem/rx/serial_tone_receiver.h"
#include "tests/modem/rx/rx_test_support.h"

namespace kavra::modem {
namespace {

using test::AirSpec;
using test::MakeRingSamples;
using test::RandomBytes;
using test::Receive;
using test::RxResult;

constexpr int kCleanSnrDb = 35;  // the top of the S/N table

void ExpectOneCleanFrame(const RxResult& r, const std::vector<std::uint8_t>& message, int mode, int offset_hz) {
    ASSERT_EQ(r.frames.size(), 1u);
    const ReceivedFrame& f = r.frames[0];
    EXPECT_EQ(f.bytes, message);
    EXPECT_TRUE(f.eom);
    EXPECT_TRUE(f.ended);
    EXPECT_EQ(f.mode, mode);
    EXPECT_EQ(f.snr_avg, kCleanSnrDb);
    EXPECT_EQ(f.snr_min, kCleanSnrDb);
    EXPECT_EQ(f.snr_max, kCleanSnrDb);
    EXPECT_NEAR(f.freq_offset_hz, offset_hz, 1);
    EXPECT_TRUE(r.back_to_search);
    EXPECT_EQ(r.last_search_state, kSearching);
}

// Every transmitted mode of both types (type 1 also played at 8000 Hz), each at one of the
// carrier offsets 0, +-10, +-30, +-55 Hz.
using MatrixCase = std::tuple<int, bool, int>;  // modem type, 8000 Hz playback, mode

class EndToEnd : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(EndToEnd, ExactBytesModeAndCleanSnr) {
    const auto [type, play_8k, mode] = GetParam();
    constexpr int kOffsets[7] = {0, 10, -10, 30, -30, 55, -55};
    AirSpec air;
    air.modem_type = type;
    air.play_8k = play_8k;
    air.mode = mode;
    air.carrier_offset_hz = kOffsets[(mode + 2 * type + (play_8k ? 3 : 0)) % 7];
    const auto message = RandomBytes(65, static_cast<std::uint32_t>(100 + mode));
    const RxResult r = Receive(type, MakeRingSamples(air, message));
    ExpectOneCleanFrame(r, message, mode, air.carrier_offset_hz);
}

INSTANTIATE_TEST_SUITE_P(
    AllModes, EndToEnd,
    ::testing::Values(MatrixCase{0, false, 0}, MatrixCase{0, false, 1}, MatrixCase{0, false, 2}, MatrixCase{0, false, 3},
                      MatrixCase{0, false, 4}, MatrixCase{0, false, 5}, MatrixCase{1, false, 0}, MatrixCase{1, false, 1},
                      MatrixCase{1, false, 2}, MatrixCase{1, false, 3}, MatrixCase{1, false, 4}, MatrixCase{1, false, 5},
                      MatrixCase{1, true, 0}, MatrixCase{1, true, 1}, MatrixCase{1, true, 2}, MatrixCase{1, true, 3},
                      MatrixCase{1, true, 4}, MatrixCase{1, true, 5}),
    [](const ::testing::TestParamInfo<MatrixCase>& p) {
        return "Type" + std::to_string(std::get<0>(p.param)) + (std::get<1>(p.param) ? "At8k" : "") + "Mode" +
               std::to_string(std::get<2>(p.param));
    });

// Carrier offsets across the three correlator banks, for both types, out to 80 Hz: +-75 Hz lies
// on the alias of the coarse estimate (symbol rate / 32 at 2400 Bd), where the strongest bank
// must pick the alias.
class CarrierOffsets : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(CarrierOffsets, EstimatedAndDecoded) {
    const auto [type, offset] = GetParam();
    AirSpec air;
    air.modem_type = type;
    air.mode = 4;
    air.carrier_offset_hz = offset;
    const auto message = RandomBytes(20, 9);
    ExpectOneCleanFrame(Receive(type, MakeRingSamples(air, message)), message, 4, offset);
}

INSTANTIATE_TEST_SUITE_P(Banks, CarrierOffsets,
                         ::testing::Combine(::testing::Values(0, 1), ::testing::Values(-80, -75, -55, -30, -10, 0, 10, 30, 55, 75, 80)),
                         [](const ::testing::TestParamInfo<std::tuple<int, int>>& p) {
                             const int hz = std::get<1>(p.param);
                             return "Type" + std::to_string(std::get<0>(p.param)) + (hz < 0 ? "Minus" : "Plus") +
                                    std::to_string(hz < 0 ? -hz : hz) + "Hz";
                         });

TEST(EndToEndMessages, OneByte) {
    for (int type : {0, 1}) {
        AirSpec air;
        air.modem_type = type;
        air.mode = 0;
        const std::vector<std::uint8_t> message{0xA5};
        ExpectOneCleanFrame(Receive(type, MakeRingSamples(air, message)), message, 0, 0);
    }
}

TEST(EndToEndMessages, LongestBurstEightLongBlocks) {
    // 176 link blocks in 2400 long: 8 interleaver blocks, 40.8 s of audio.
    AirSpec air;
    air.mode = 1;
    air.carrier_offset_hz = 10;
    const auto message = RandomBytes(11440, 11);
    const RxResult r = Receive(0, MakeRingSamples(air, message));
    ASSERT_EQ(r.frames.size(), 1u);
    EXPECT_EQ(r.frames[0].blocks, 8);
    EXPECT_TRUE(r.frames[0].bytes == message);
    EXPECT_EQ(r.frames[0].snr_avg, kCleanSnrDb);
    EXPECT_EQ(r.frames[0].snr_min, kCleanSnrDb);
    EXPECT_TRUE(r.back_to_search);
}

TEST(EndToEndChannel, CardRateErrorsCompensatedOnBothSides) {
    struct Case {
        int type;
        bool play_8k;
        double tx_ppm;
        double rx_ppm;
    };
    for (const Case c : {Case{0, false, 1000, -1000}, Case{0, false, -1000, 1000}, Case{1, true, 1000, -1000},
                         Case{1, false, -1000, 1000}}) {
        AirSpec air;
        air.modem_type = c.type;
        air.play_8k = c.play_8k;
        air.mode = 2;
        air.tx_card_error_ppm = c.tx_ppm;
        air.rx_card_error_ppm = c.rx_ppm;
        const auto message = RandomBytes(200, 12);
        test::RxSettings settings;
        settings.rx_card_error_ppm = c.rx_ppm;
        SCOPED_TRACE("type " + std::to_string(c.type) + " tx " + std::to_string(c.tx_ppm) + " rx " + std::to_string(c.rx_ppm));
        ExpectOneCleanFrame(Receive(c.type, MakeRingSamples(air, message), settings), message, 2, 0);
    }
}

TEST(EndToEndChannel, QuietAndNearFullScale) {
    AirSpec air;
    air.mode = 0;
    const auto message = RandomBytes(100, 13);
    const auto capture = test::OverTheAir(air, test::Transmit(air, message));
    // -30 dB: RMS about 440 of 32768.
    ExpectOneCleanFrame(Receive(0, test::ToSampleRing(0, capture, 0.0316f)), message, 0, 0);
    // Peaks just under full scale (the transmitter's own peak is about 29000).
    ExpectOneCleanFrame(Receive(0, test::ToSampleRing(0, capture, 1.1f)), message, 0, 0);
}

TEST(EndToEndChannel, LeadingSilenceAndLeadingNoise) {
    AirSpec air;
    air.modem_type = 1;
    air.mode = 4;
    const auto message = RandomBytes(45, 14);
    const auto ring = MakeRingSamples(air, message);
    // Two seconds of digital silence: the AGC level stays 0 until the signal starts.
    std::vector<std::int16_t> silent(16000, 0);
    silent.insert(silent.end(), ring.begin(), ring.end());
    ExpectOneCleanFrame(Receive(1, silent), message, 4, 0);
    // Two seconds of noise at a third of the signal's RMS, then the signal.
    std::vector<std::int16_t> noisy(16000, 0);
    test::AddNoise(noisy, test::Rms(ring) / 3.0, 15);
    noisy.insert(noisy.end(), ring.begin(), ring.end());
    const RxResult r = Receive(1, noisy);
    ASSERT_EQ(r.frames.size(), 1u);
    EXPECT_EQ(r.frames[0].bytes, message);
}

TEST(EndToEndChannel, TwoTransmissionsBackToBack) {
    AirSpec first;
    first.mode = 2;
    AirSpec second;
    second.mode = 5;
    second.carrier_offset_hz = -20;
    const auto m1 = RandomBytes(300, 16);
    const auto m2 = RandomBytes(65, 17);
    auto ring = MakeRingSamples(first, m1);
    const auto tail = MakeRingSamples(second, m2);
    ring.insert(ring.end(), tail.begin(), tail.end());
    const RxResult r = Receive(0, ring);
    ASSERT_EQ(r.frames.size(), 2u);
    EXPECT_EQ(r.frames[0].bytes, m1);
    EXPECT_EQ(r.frames[0].mode, 2);
    EXPECT_EQ(r.frames[1].bytes, m2);
    EXPECT_EQ(r.frames[1].mode, 5);
    EXPECT_NEAR(r.frames[1].freq_offset_hz, -20, 1);
    EXPECT_TRUE(r.back_to_search);
}

}  // namespace
}  // namespace kavra::modem
