// File transfers between two simulated stations: sizes from empty to beyond the block numbering,
// lost blocks, stopping from either side, a link lost halfway, and the turn timing of a transfer.
#include <gtest/gtest.h>

#include "modem/common/mode_table.h"
#include "sim_support.h"

namespace kavra::link::test {
namespace {

std::uint32_t Hash(const std::vector<std::uint8_t>& v) { return Crc32(v); }

using TransferParam = std::tuple<int, std::size_t, double>;  // modem type, size, fraction lost
class Transfer : public ::testing::TestWithParam<TransferParam> {};

TEST_P(Transfer, ArrivesByteIdentical) {
    const auto [type, size, loss] = GetParam();
    StationPair p(type, 1000 + size + static_cast<std::uint64_t>(loss * 100));
    ASSERT_TRUE(p.Link());
    p.SetLoss(loss);
    const auto data = Pattern(size, static_cast<unsigned>(size));
    p.A().files.files["/home/op/file.bin"] = data;
    p.A().SendFile("/home/op/file.bin");
    ASSERT_EQ(p.A().session().OpenQuestion(), Question::SendFile);
    const bool done = p.sim.RunUntil(
        [&] {
            return p.SA() == LinkState::Connected && p.SB() == LinkState::Connected &&
                   p.A().ui.HasLog("sended succesfully") && p.B().ui.HasLog("received succesfully");
        },
        180 * kMinute);
    ASSERT_TRUE(done) << "A:\n" << Lines(p.A().ui) << "B:\n" << Lines(p.B().ui);

    const std::size_t moved = std::min<std::size_t>(size, kMaxTransferBytes);
    const std::vector<std::uint8_t> expected(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(moved));
    const auto& received = p.B().files.files["RECEIVED/file.bin"];
    EXPECT_EQ(received.size(), moved);
    EXPECT_EQ(Hash(received), Hash(expected));
    EXPECT_TRUE(received == expected);

    EXPECT_TRUE(p.A().ui.HasLog("Request for sending file 'file.bin' to 'EF2GH'..."));
    EXPECT_TRUE(p.A().ui.HasLog("Sending file 'file.bin', size " + std::to_string(size) + " bytes, to 'EF2GH'..."));
    EXPECT_TRUE(p.B().ui.HasLog("Receiving file 'file.bin', size " + std::to_string(size) + " bytes, from 'AB1CD'..."));
    EXPECT_EQ(p.A().ui.CountLog("is NOT completed"), 0);
    EXPECT_EQ(p.B().ui.CountLog("is NOT completed"), 0);
    const bool cut = size > kMaxTransferBytes;
    EXPECT_EQ(p.A().ui.HasLog("only its first 241664 bytes can be sent"), cut);
    EXPECT_EQ(p.A().ui.HasLog("File 'file.bin' was cut: only the first 241664 of " + std::to_string(size) +
                              " bytes were sent"),
              cut);
    EXPECT_EQ(p.B().ui.HasLog("File 'file.bin' was cut: only the first 241664 of " + std::to_string(size) +
                              " bytes were received"),
              cut);
    // The speed is that of the bytes moved, in whole bits per second.
    // (A sender whose TransferEnd was lost says so once more when it is asked again.)
    const auto& log = p.A().ui.log;
    const auto line = std::find_if(log.rbegin(), log.rend(), [](const auto& l) { return l.text.find("sended succesfully") != std::string::npos; });
    const std::uint32_t speed = p.A().session().AverageSpeed();
    EXPECT_NE(line->text.find("average speed " + std::to_string(speed) + " bits/sec"), std::string::npos);
    EXPECT_LE(speed, static_cast<std::uint32_t>(modem::DataRateBps(type, 1)));
    for (int s = 0; s < 2; ++s) {
        EXPECT_EQ(p.sim.station(s).session().PollInterval(), p.timing.idle_poll_interval_ms);
        EXPECT_EQ(p.sim.station(s).session().ReplyDelay(), p.timing.idle_reply_delay_ms);
        EXPECT_TRUE(p.sim.station(s).session().CommandEnabled(Command::SendFile));
    }
    // The link goes on afterwards.
    p.sim.Run(2 * kMinute);
    EXPECT_EQ(p.SA(), LinkState::Connected);
    EXPECT_EQ(p.SB(), LinkState::Connected);
}

INSTANTIATE_TEST_SUITE_P(
    SizesAndLosses, Transfer,
    ::testing::Combine(::testing::Values(0, 1),
                       ::testing::Values(std::size_t{0}, std::size_t{1}, std::size_t{59}, std::size_t{100},
                                         std::size_t{118}, std::size_t{10000}, std::size_t{241664}, std::size_t{250001}),
                       ::testing::Values(0.0, 0.1, 0.3)),
    [](const auto& param_info) {
        return "type" + std::to_string(std::get<0>(param_info.param)) + "_" + std::to_string(std::get<1>(param_info.param)) +
               "bytes_" + std::to_string(static_cast<int>(std::get<2>(param_info.param) * 100)) + "pct";
    });

class TransferTiming : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(ModemTypes, TransferTiming, ::testing::Values(0, 1));

TEST_P(TransferTiming, DataAndAcknowledgementTurnsAlternateOnTheirDelays) {
    StationPair p(GetParam());
    ASSERT_TRUE(p.Link());
    p.A().files.files["/f"] = Pattern(30000);
    p.A().SendFile("/f");
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.SB() == LinkState::Connected && p.B().ui.HasLog("received succesfully"); }, 60 * kMinute));
    const auto& b = p.sim.bursts();
    int data_turns = 0, ack_turns = 0;
    for (std::size_t i = 1; i < b.size(); ++i) {
        const BurstRecord& prev = b[i - 1];
        const BurstRecord& cur = b[i];
        ASSERT_NE(cur.from, prev.from) << i;
        if (prev.Count(ControlCode::Data) > 0) {
            // The receiver answers a data turn DataReplyDelay after noticing it; once it holds
            // every piece no data turn is to come, and it answers as soon as the channel is quiet.
            ++ack_turns;
            const bool last = i + 1 < b.size() && b[i + 1].codes == std::vector<std::uint8_t>{7};
            EXPECT_EQ(cur.codes[0], static_cast<int>(ControlCode::SignalReport));
            EXPECT_GE(cur.Count(ControlCode::BlockAck), 1);
            if (last) {
                EXPECT_EQ(cur.start_ms, p.ExpectedAnswer(cur.from, prev, p.timing.idle_reply_delay_ms)) << i;
                EXPECT_EQ(cur.start_ms, prev.end_ms + 501) << i;
            } else {
                EXPECT_EQ(cur.start_ms, p.ExpectedAnswer(cur.from, prev, p.timing.data_reply_delay_ms)) << i;
                EXPECT_EQ(cur.start_ms - p.RefreshAtOrAfter(cur.from, prev.data_start_ms), p.timing.data_reply_delay_ms) << i;
            }
        } else if (cur.Count(ControlCode::Data) > 0 && prev.Count(ControlCode::BlockAck) > 0) {
            // The sender answers an acknowledgement turn AckReplyDelay after noticing it, or half a
            // second after it ends.
            ++data_turns;
            EXPECT_EQ(cur.start_ms, p.ExpectedAnswer(cur.from, prev, p.timing.ack_reply_delay_ms)) << i;
            EXPECT_EQ(cur.Count(ControlCode::Data), 174);
        }
    }
    EXPECT_EQ(ack_turns, 3);  // 509 pieces: three turns of 174
    EXPECT_EQ(data_turns, 2);
    // In type 0 the acknowledgement turn ends after the reply delay: the sender waits for the
    // channel to fall quiet, then 500 ms.
    if (GetParam() == 0) {
        for (std::size_t i = 1; i < b.size(); ++i)
            if (b[i].Count(ControlCode::Data) > 0 && b[i - 1].Count(ControlCode::BlockAck) > 0) {
                EXPECT_EQ(b[i].start_ms, b[i - 1].end_ms + 501) << i;
            }
    }
}

TEST_P(TransferTiming, ModeClassFollowsTheReportedSignal) {
    for (auto [snr, mode_class] : {std::pair{20, 1}, {5, 3}, {0, 5}}) {
        StationPair p(GetParam());
        p.SetSnr(snr);
        ASSERT_TRUE(p.Link());
        p.sim.Run(kMinute);  // a SignalReport from the far station
        ASSERT_EQ(p.A().session().ModeClass(), mode_class);
        p.A().files.files["/f"] = Pattern(20000);
        p.A().SendFile("/f");
        ASSERT_TRUE(p.sim.RunUntil([&] { return p.SA() == LinkState::EndingTransfer; }, 120 * kMinute));
        int data_turns = 0;
        for (const BurstRecord* r : p.sim.BurstsFrom(0)) {
            if (r->Count(ControlCode::Data) == 0) continue;
            ++data_turns;
            EXPECT_EQ(r->mode, mode_class);
            EXPECT_EQ(static_cast<int>(r->codes.size()), 2 + kBlocksPerBurst[static_cast<std::size_t>(mode_class / 2)]);
        }
        EXPECT_GT(data_turns, 0);
        EXPECT_EQ(p.B().files.files["RECEIVED/f"], Pattern(20000));
    }
}

class StopTransfer : public ::testing::TestWithParam<std::tuple<int, int>> {};
INSTANTIATE_TEST_SUITE_P(Sides, StopTransfer, ::testing::Combine(::testing::Values(0, 1), ::testing::Values(0, 1)));

TEST_P(StopTransfer, EitherSideEndsTheTransferAndKeepsTheLink) {
    const auto [type, stopper] = GetParam();
    StationPair p(type);
    ASSERT_TRUE(p.Link());
    const auto data = Pattern(100000);
    p.A().files.files["/f.bin"] = data;
    p.A().SendFile("/f.bin");
    // Stop after the second acknowledgement turn has been handled.
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.A().session().FileProgress() > 0 && p.B().session().BlocksReceived() > 300; },
                               30 * kMinute));
    SimStation& s = p.sim.station(stopper);
    ASSERT_TRUE(s.session().CommandEnabled(Command::StopTransfer));
    s.session().StopTransferClick();
    EXPECT_EQ(s.session().State(), LinkState::EndingTransfer);
    EXPECT_FALSE(s.session().CommandEnabled(Command::StopTransfer));
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.SA() == LinkState::Connected && p.SB() == LinkState::Connected; }, 5 * kMinute));
    EXPECT_TRUE(p.A().ui.HasLog("Transfer of file 'f.bin' is NOT completed"));
    EXPECT_TRUE(p.B().ui.HasLog("File 'f.bin' is NOT completed"));
    // The received pieces stand at their offsets; the rest is not there.
    const auto& got = p.B().files.files["RECEIVED/f.bin"];
    const LinkSession& rx = p.B().session();
    std::size_t pieces = 0;
    for (std::size_t n = 0; n < rx.BlockCount(); ++n) {
        if (!rx.BlockFlag(n)) continue;
        ++pieces;
        const std::size_t len = std::min<std::size_t>(59, data.size() - n * 59);
        ASSERT_GE(got.size(), n * 59 + len);
        EXPECT_TRUE(std::equal(data.begin() + static_cast<std::ptrdiff_t>(n * 59),
                               data.begin() + static_cast<std::ptrdiff_t>(n * 59 + len),
                               got.begin() + static_cast<std::ptrdiff_t>(n * 59)));
    }
    EXPECT_EQ(pieces, rx.BlocksReceived());
    EXPECT_LT(pieces, rx.BlockCount());
    p.sim.Run(3 * kMinute);
    EXPECT_EQ(p.SA(), LinkState::Connected);
    EXPECT_EQ(p.SB(), LinkState::Connected);
    EXPECT_TRUE(p.A().session().CommandEnabled(Command::SendFile));
    // A new transfer works.
    p.B().files.files["/back.txt"] = Pattern(500, 9);
    p.B().SendFile("/back.txt");
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.A().ui.HasLog("File 'back.txt' received succesfully"); }, 10 * kMinute));
    EXPECT_EQ(p.A().files.files["RECEIVED/back.txt"], Pattern(500, 9));
}

// Links A and B and runs a 100000-byte transfer from A until B holds over 300 pieces and
// neither station is on the air.
bool TransferUnderWay(StationPair& p) {
    if (!p.Link()) return false;
    p.A().files.files["/f.bin"] = Pattern(100000);
    p.A().SendFile("/f.bin");
    return p.sim.RunUntil([&] { return p.B().session().BlocksReceived() > 300 && !p.B().Receiving() && !p.A().Receiving(); },
                          30 * kMinute);
}

// (On type 1 the same moment lets the stopped receiver's 15 s polls fall into the sender's data
// preambles, before its activity flag rises: collisions the channel-access rule allows.  The
// repetition itself is pinned by a unit test.)
TEST(TransferEnd, AReceiverThatStoppedRepeatsItsLostTransferEnd) {
    StationPair p(0);
    ASSERT_TRUE(TransferUnderWay(p));
    p.B().session().StopTransferClick();
    p.sim.SetDeaf(0, true);  // the sender misses the one TransferEnd
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.SB() == LinkState::Connected; }, 5 * kMinute));
    p.sim.SetDeaf(0, false);
    // The sender's next data turn reaches a receiver that has left the transfer: it sends its
    // TransferEnd again instead of letting the sender run out of data turns.
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.SA() == LinkState::Connected; }, 10 * kMinute));
    EXPECT_TRUE(p.A().ui.HasLog("Transfer of file 'f.bin' is NOT completed"));
    EXPECT_EQ(p.sim.BurstsFrom(1).back()->codes, std::vector<std::uint8_t>{7});
    p.sim.Run(3 * kMinute);
    EXPECT_EQ(p.SA(), LinkState::Connected);
    EXPECT_EQ(p.SB(), LinkState::Connected);
    EXPECT_FALSE(p.A().ui.HasLog("lost connection"));
}

// The sender stops and its one TransferEnd is lost: the receiver, still on the data reply delay,
// hears keep-alive polls instead of data turns and answers them on the idle timing, so the
// sender learns of it (an acknowledgement) and repeats its TransferEnd.
TEST_P(TransferTiming, ASenderThatStoppedRepeatsItsLostTransferEnd) {
    StationPair p(GetParam());
    ASSERT_TRUE(TransferUnderWay(p));
    p.A().session().StopTransferClick();
    p.sim.SetDeaf(1, true);  // the receiver misses the one TransferEnd
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.SA() == LinkState::Connected; }, 5 * kMinute));
    p.sim.SetDeaf(1, false);
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.SB() == LinkState::Connected; }, 5 * kMinute))
        << "A:\n" << Lines(p.A().ui) << "B:\n" << Lines(p.B().ui);
    EXPECT_TRUE(p.A().ui.HasLog("Transfer of file 'f.bin' is NOT completed"));
    EXPECT_TRUE(p.B().ui.HasLog("File 'f.bin' is NOT completed"));
    p.sim.Run(3 * kMinute);
    EXPECT_EQ(p.SA(), LinkState::Connected);
    EXPECT_EQ(p.SB(), LinkState::Connected);
    EXPECT_FALSE(p.A().ui.HasLog("lost connection"));
    EXPECT_FALSE(p.B().ui.HasLog("lost connection"));
    for (int s = 0; s < 2; ++s) EXPECT_EQ(p.sim.station(s).session().ReplyDelay(), p.timing.idle_reply_delay_ms) << s;
}

TEST_P(TransferTiming, LinkLostInTheMiddleOfATransfer) {
    StationPair p(GetParam());
    ASSERT_TRUE(p.Link());
    p.A().files.files["/f.bin"] = Pattern(200000);
    p.A().SendFile("/f.bin");
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.B().session().BlocksReceived() > 400; }, 30 * kMinute));
    p.BreakChannel();
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.SA() == LinkState::Idle && p.SB() == LinkState::Idle; }, 60 * kMinute));
    EXPECT_EQ(p.A().ui.log.back().text, "'EF2GH' not answer, lost connection");
    EXPECT_EQ(p.B().ui.log.back().text, "'AB1CD' not answer, lost connection");
    // Five data turns and five acknowledgement turns without an answer, a poll interval apart.
    for (int s = 0; s < 2; ++s) {
        const auto mine = p.sim.BurstsFrom(s);
        std::size_t unanswered = 0;
        for (auto it = mine.rbegin(); it != mine.rend() && (*it)->lost; ++it) ++unanswered;
        EXPECT_GE(unanswered, 4u) << s;
        const std::uint64_t last = mine.back()->start_ms;
        EXPECT_EQ(*p.sim.station(s).ui.FirstLogTime("lost connection"), last + p.timing.transfer_poll_interval_ms) << s;
        EXPECT_EQ(p.sim.station(s).session().PollInterval(), p.timing.idle_poll_interval_ms);
        EXPECT_TRUE(p.sim.station(s).session().CommandEnabled(Command::Connect));
        EXPECT_FALSE(p.sim.station(s).session().CommandEnabled(Command::StopTransfer));
        EXPECT_EQ(p.sim.station(s).session().FileProgress(), 0);
    }
    EXPECT_FALSE(p.B().ui.HasLog("received succesfully"));
    // A new link afterwards runs on the idle timing again.
    p.sim.SetDeaf(0, false);
    p.sim.SetDeaf(1, false);
    const std::size_t before = p.sim.bursts().size();
    ASSERT_TRUE(p.Link());
    const auto& b = p.sim.bursts();
    for (std::size_t i = before + 1; i < b.size(); ++i)
        EXPECT_EQ(b[i].start_ms, p.ExpectedAnswer(b[i].from, b[i - 1], p.timing.idle_reply_delay_ms)) << i;
}

TEST_P(TransferTiming, RefusedOfferAndOfferToAUserWhoDoesNotAnswer) {
    LinkSettings b = Settings("EF2GH", GetParam());
    b.auto_receive = AutoAccept::Never;
    StationPair p(GetParam(), 5, nullptr, &b);
    ASSERT_TRUE(p.Link());
    p.A().files.files["/home/doc.txt"] = Pattern(3000);
    p.B().offer_answer = {Answer::Refuse, 4000};
    p.A().SendFile("/home/doc.txt");
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.A().ui.HasLog("decline file"); }, 5 * kMinute));
    EXPECT_EQ(p.A().ui.log.back().text, "'EF2GH' decline file '/home/doc.txt'");
    EXPECT_EQ(p.B().ui.question_text, "'AB1CD' sending file 'doc.txt', size 3000 bytes. Are you want receive?");
    EXPECT_FALSE(p.B().files.files.contains("RECEIVED/doc.txt"));
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.SA() == LinkState::Connected && p.SB() == LinkState::Connected; }, kMinute));

    // Unanswered: refused after 30 s.
    p.B().offer_answer = {Answer::Never, 0};
    p.A().SendFile("/home/doc.txt");
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.A().ui.CountLog("decline file") == 2; }, 5 * kMinute));
    p.sim.Run(2 * kMinute);
    EXPECT_EQ(p.SA(), LinkState::Connected);
    EXPECT_EQ(p.SB(), LinkState::Connected);
}

TEST_P(TransferTiming, WriteFailureEndsTheTransferAndSaysSo) {
    StationPair p(GetParam());
    ASSERT_TRUE(p.Link());
    p.B().files.writes_before_failure = 100;
    p.A().files.files["/f.bin"] = Pattern(50000);
    p.A().SendFile("/f.bin");
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.B().ui.HasLog("Can't write file"); }, 30 * kMinute));
    EXPECT_TRUE(p.B().ui.HasLog("Error! Can't write file 'RECEIVED/f.bin'"));
    EXPECT_TRUE(p.B().ui.HasLog("File 'f.bin' is NOT completed"));
    EXPECT_FALSE(p.B().ui.HasLog("received succesfully"));
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.SA() == LinkState::Connected && p.SB() == LinkState::Connected; }, 10 * kMinute));
    EXPECT_TRUE(p.A().ui.HasLog("Transfer of file 'f.bin' is NOT completed"));
    EXPECT_FALSE(p.A().ui.HasLog("sended succesfully"));
    EXPECT_EQ(p.B().session().BlocksReceived(), 100u);
}

TEST_P(TransferTiming, CreateFailureRefusesTheOffer) {
    StationPair p(GetParam());
    ASSERT_TRUE(p.Link());
    p.B().files.fail_create = true;
    p.A().files.files["/f.bin"] = Pattern(500);
    p.A().SendFile("/f.bin");
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.A().ui.HasLog("decline file"); }, 5 * kMinute));
    EXPECT_TRUE(p.B().ui.HasLog("Error! Can't create file 'RECEIVED/f.bin'"));
}

}  // namespace
}  // namespace kavra::link::test
