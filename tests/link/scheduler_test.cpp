// The transmit scheduler: what each turn holds, the retry counters, and when a turn is taken.
#include <gtest/gtest.h>

#include "link_test_support.h"

namespace kavra::link::test {
namespace {

std::vector<std::uint8_t> Report(int mean, int lo, int hi) {
    std::vector<std::uint8_t> p;
    for (int v : {mean, lo, hi}) {
        const auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(v));
        p.push_back(static_cast<std::uint8_t>(u & 0xFF));
        p.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    return p;
}

void ExpectKeepAliveTurn(const SentBurst& b) {
    ASSERT_EQ(b.blocks.size(), 3u);
    EXPECT_EQ(b.mode, 4);
    EXPECT_EQ(b.blocks[0].code, static_cast<int>(ControlCode::SignalReport));
    EXPECT_EQ(b.blocks[1].code, static_cast<int>(ControlCode::ChatData));
    EXPECT_EQ(b.blocks[2].code, static_cast<int>(ControlCode::ChatData));
}

TEST(Turns, LimitedCallingSendsExactlyTheAttemptsThenGivesUp) {
    for (int attempts : {1, 5, 10}) {
        LinkSettings s = Settings("AB1CD");
        s.connect_attempts = attempts;
        Harness h(s);
        h.session.ConnectTo("EF2GH");
        int sent = 0;
        while (h.Turn()) {
            ++sent;
            ASSERT_EQ(h.Last().blocks.size(), 1u);
            EXPECT_EQ(h.Last().blocks[0].code, static_cast<int>(ControlCode::ConnectRequest));
            EXPECT_EQ(h.Last().mode, 4);
        }
        EXPECT_EQ(sent, attempts);
        EXPECT_EQ(h.session.State(), LinkState::Idle);
        EXPECT_EQ(h.ui.log.back().text, "'EF2GH' not answer, lost connection");
        EXPECT_EQ(h.ui.log.back().kind, static_cast<int>(LogKind::Error));
        EXPECT_EQ(h.session.TxStatus(), 0);
        EXPECT_FALSE(h.sender.keyed);
    }
}

TEST(Turns, UnlimitedCallingNeverGivesUp) {
    LinkSettings s = Settings("AB1CD");
    s.limited_attempts = false;
    Harness h(s);
    h.session.ConnectTo("EF2GH");
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(h.Turn()) << i;
    EXPECT_EQ(h.session.State(), LinkState::Calling);
    h.session.Disconnect1Click();
    EXPECT_EQ(h.ui.log.back().text, "Stop connecting to 'EF2GH'");
}

TEST(Turns, AcceptedRepeatsTheReplyFiveTimes) {
    Harness h;
    h.Receive(ControlCode::ConnectRequest, CallsignPayload("AB1CD", "EF2GH"));
    int sent = 0;
    while (h.Turn()) {
        ++sent;
        EXPECT_EQ(h.Last().blocks[0].code, static_cast<int>(ControlCode::ConnectReply));
    }
    EXPECT_EQ(sent, 5);
    EXPECT_EQ(h.ui.log.back().text, "'EF2GH' not answer, lost connection");
}

TEST(Turns, KeepAliveLosesTheLinkAfterFiveSilentTurnsAndChatResetsIt) {
    Harness h;
    h.ConnectAsCaller();
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(h.Turn());
        ExpectKeepAliveTurn(h.Last());
    }
    h.Receive(ControlCode::ChatData, std::vector<std::uint8_t>{});  // heard the peer
    EXPECT_EQ(h.session.Counter(Retry::KeepAlive), 6);
    int sent = 0;
    while (h.Turn()) ++sent;
    EXPECT_EQ(sent, 5);
    EXPECT_EQ(h.ui.log.back().text, "'EF2GH' not answer, lost connection");
    EXPECT_EQ(h.ui.labels[static_cast<std::size_t>(StatusLabel::Connection)], "No connection");
    h.session.StatusRefresh();
    EXPECT_TRUE(h.ui.commands[static_cast<std::size_t>(Command::Connect)]);
    EXPECT_FALSE(h.ui.commands[static_cast<std::size_t>(Command::Disconnect)]);
}

TEST(Turns, SignalReportCarriesTheOwnFiguresOfTheLastFrame) {
    Harness h;
    h.receiver.last_frame = {-7, -12, 300};
    h.ConnectAsCaller();
    ASSERT_TRUE(h.Turn());
    const ReceivedBlock& r = h.Last().blocks[0];
    EXPECT_EQ(r.length, 6);
    EXPECT_EQ(static_cast<std::int16_t>(r.payload[0] | r.payload[1] << 8), -7);
    EXPECT_EQ(static_cast<std::int16_t>(r.payload[2] | r.payload[3] << 8), -12);
    EXPECT_EQ(static_cast<std::int16_t>(r.payload[4] | r.payload[5] << 8), 300);
}

TEST(Turns, OfferingGivesUpAfterFiveOffersWithAKeepAliveTurn) {
    Harness h;
    h.ConnectAsCaller();
    h.Offer(Pattern(500), "/data/x.bin");
    ASSERT_EQ(h.session.State(), LinkState::Offering);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(h.Turn());
        ASSERT_EQ(h.Last().blocks.size(), 1u);
        EXPECT_EQ(h.Last().blocks[0].code, static_cast<int>(ControlCode::FileOffer));
        h.Receive(ControlCode::ChatData, std::vector<std::uint8_t>{});  // the link itself is alive
    }
    ASSERT_TRUE(h.Turn());
    ExpectKeepAliveTurn(h.Last());
    EXPECT_EQ(h.session.State(), LinkState::Connected);
    EXPECT_EQ(h.ui.log.back().text, "'EF2GH' not answer, lost transfer file '/data/x.bin'");
    EXPECT_EQ(h.session.Counter(Retry::KeepAlive), 5);
    EXPECT_TRUE(h.session.CommandEnabled(Command::SendFile));
}

TEST(Turns, FileAcceptedGivesUpAfterTenReplies) {
    Harness h;
    h.ConnectAsCallee();
    h.ReceiveOffer(1000, "doc.txt");
    ASSERT_EQ(h.session.State(), LinkState::FileAccepted);
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(h.Turn());
        ASSERT_EQ(h.Last().blocks.size(), 1u);
        EXPECT_EQ(h.Last().blocks[0].code, static_cast<int>(ControlCode::FileReply));
        EXPECT_EQ(h.Last().blocks[0].payload[8], 255);
    }
    ASSERT_TRUE(h.Turn());
    ExpectKeepAliveTurn(h.Last());
    EXPECT_EQ(h.ui.log.back().text, "'EF2GH' not answer, lost transfer file 'doc.txt'");
    EXPECT_EQ(h.session.State(), LinkState::Connected);
    // The link polls on its idle interval again, not on the transfer's (a dead link would
    // otherwise take four times as long to end).
    EXPECT_EQ(h.session.PollInterval(), 12000u);
    EXPECT_EQ(h.session.ReplyDelay(), 4000u);
}

TEST(Turns, OfferReceivedDoesNotCountKeepAliveWhileTheUserDecides) {
    LinkSettings s = Settings("AB1CD");
    s.auto_receive = AutoAccept::Never;
    Harness h(s);
    h.ConnectAsCallee();
    h.ReceiveOffer(1000, "doc.txt");
    ASSERT_EQ(h.session.State(), LinkState::OfferReceived);
    const int before = h.session.Counter(Retry::KeepAlive);
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(h.Turn());
        ExpectKeepAliveTurn(h.Last());
    }
    EXPECT_EQ(h.session.Counter(Retry::KeepAlive), before);
    h.session.AnswerQuestion(false);
    EXPECT_EQ(h.session.State(), LinkState::RefusingFile);
    ASSERT_TRUE(h.Turn());
    EXPECT_EQ(h.Last().blocks[0].code, static_cast<int>(ControlCode::FileReply));
    EXPECT_EQ(h.Last().blocks[0].payload[8], 0);
    EXPECT_EQ(h.session.State(), LinkState::Connected);
    EXPECT_FALSE(h.files.files.contains("RECEIVED/doc.txt"));  // a refused offer creates no file
}

class SendingTurn : public ::testing::TestWithParam<std::tuple<int, int>> {};
TEST_P(SendingTurn, BlocksAndModeFollowModeClass) {
    const auto [mode_class, blocks] = GetParam();
    Harness h;
    h.ConnectAsCaller();
    const int mean = mode_class == 1 ? 20 : mode_class == 3 ? 5 : 0;
    h.Receive(ControlCode::SignalReport, Report(mean, mean, mean));
    ASSERT_EQ(h.session.ModeClass(), mode_class);
    h.StartSending(Pattern(200000));
    ASSERT_TRUE(h.Turn());
    const SentBurst& b = h.Last();
    EXPECT_EQ(b.mode, mode_class);
    ASSERT_EQ(static_cast<int>(b.blocks.size()), blocks);
    EXPECT_EQ(b.blocks[0].code, static_cast<int>(ControlCode::SignalReport));
    EXPECT_EQ(b.blocks[1].code, static_cast<int>(ControlCode::ChatData));
    for (int i = 2; i < blocks; ++i) {
        EXPECT_EQ(b.blocks[static_cast<std::size_t>(i)].code, 0);
        EXPECT_EQ(b.blocks[static_cast<std::size_t>(i)].sequence, i - 2);
    }
    EXPECT_EQ(h.session.PollInterval(), 52000u);
    EXPECT_EQ(h.session.ReplyDelay(), 5000u);
    EXPECT_EQ(h.ui.labels[static_cast<std::size_t>(StatusLabel::TransmitStatus)], "Transfer file...");
}
INSTANTIATE_TEST_SUITE_P(Classes, SendingTurn,
                         ::testing::Values(std::make_tuple(1, 176), std::make_tuple(3, 88), std::make_tuple(5, 44)));

TEST(DataBlocks, TenPiecesFillTheTurnOverAndOver) {
    Harness h;
    h.ConnectAsCaller();
    const auto data = Pattern(10 * 59);
    h.StartSending(data);
    ASSERT_TRUE(h.Turn());
    const SentBurst& b = h.Last();
    ASSERT_EQ(b.Count(ControlCode::Data), 174);
    for (std::size_t i = 2; i < b.blocks.size(); ++i) {
        const ReceivedBlock& d = b.blocks[i];
        EXPECT_EQ(d.sequence, (i - 2) % 10);
        EXPECT_EQ(d.length, 59);
        EXPECT_TRUE(std::equal(d.payload.begin(), d.payload.end(), data.begin() + d.sequence * 59));
    }
}

TEST(DataBlocks, LastPieceLengths) {
    for (auto [size, last] : {std::pair<std::size_t, int>{100, 41}, {118, 59}, {1, 1}, {59, 59}}) {
        Harness h;
        h.ConnectAsCaller();
        h.StartSending(Pattern(size));
        ASSERT_TRUE(h.Turn());
        const std::size_t pieces = (size + 58) / 59;
        EXPECT_EQ(h.session.BlockCount(), pieces);
        EXPECT_EQ(h.Last().blocks[2 + pieces - 1].length, last) << size;
        if (pieces > 1) {
            EXPECT_EQ(h.Last().blocks[2].length, 59);
        }
    }
}

TEST(DataBlocks, AcknowledgedPiecesAreSkipped) {
    Harness h;
    h.ConnectAsCaller();
    h.StartSending(Pattern(200 * 59));
    ASSERT_TRUE(h.Turn());
    std::vector<std::uint16_t> acked(100);
    for (std::uint16_t i = 0; i < 100; ++i) acked[i] = i;
    for (std::size_t i = 0; i < 100; i += 39) {
        std::array<std::uint8_t, 59> packed{};
        const std::size_t n = std::min<std::size_t>(39, 100 - i);
        const std::size_t bytes = PackBlockNumbers(std::span<const std::uint16_t>(acked.data() + i, n), packed);
        h.Receive(ControlCode::BlockAck, std::span<const std::uint8_t>(packed.data(), bytes));
    }
    EXPECT_EQ(h.session.FileProgress(), 50);
    ASSERT_TRUE(h.Turn());
    const SentBurst& b = h.Last();
    EXPECT_EQ(b.blocks[2].sequence, 174);  // the cursor
    for (std::size_t i = 2; i < b.blocks.size(); ++i) EXPECT_GE(b.blocks[i].sequence, 100) << i;
    EXPECT_EQ(b.blocks[2 + 26].sequence, 100);  // wrapped past the acknowledged half
}

class AckTurn : public ::testing::TestWithParam<std::tuple<int, int, int, int>> {};
TEST_P(AckTurn, Shape) {
    const auto [pending, blocks, mode, acks] = GetParam();
    Harness h;
    h.ConnectAsCallee();
    h.ReceiveOffer(4096 * 59, "big.bin");
    const auto piece = Pattern(59);
    for (int n = 0; n < pending; ++n) h.ReceiveData(n, piece);
    EXPECT_EQ(h.session.PendingAcks(), static_cast<std::size_t>(pending));
    ASSERT_TRUE(h.Turn());
    const SentBurst& b = h.Last();
    EXPECT_EQ(static_cast<int>(b.blocks.size()), blocks);
    EXPECT_EQ(b.mode, mode);
    EXPECT_EQ(b.blocks[0].code, static_cast<int>(ControlCode::SignalReport));
    EXPECT_EQ(b.Count(ControlCode::BlockAck), acks);
    EXPECT_EQ(b.Count(ControlCode::ChatData), blocks - 1 - acks);
    std::vector<int> numbers;
    for (const ReceivedBlock& r : b.blocks) {
        if (r.code != static_cast<int>(ControlCode::BlockAck)) continue;
        std::array<std::uint16_t, 39> out{};
        const std::size_t n = UnpackBlockNumbers(std::span<const std::uint8_t>(r.payload.data(), r.length), out);
        numbers.insert(numbers.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
    }
    ASSERT_EQ(static_cast<int>(numbers.size()), pending);
    for (int i = 0; i < pending; ++i) EXPECT_EQ(numbers[static_cast<std::size_t>(i)], i);
    EXPECT_EQ(h.session.PendingAcks(), 0u);
}
INSTANTIATE_TEST_SUITE_P(Pending, AckTurn,
                         ::testing::Values(std::make_tuple(117, 5, 5, 3), std::make_tuple(118, 10, 3, 4),
                                           std::make_tuple(1, 5, 5, 1), std::make_tuple(174, 10, 3, 5)));

TEST(AckTurn, NothingPendingStillSendsReportAndChat) {
    Harness h;
    h.ConnectAsCallee();
    h.ReceiveOffer(2 * 59, "two.bin");
    h.ReceiveData(0, Pattern(59));
    ASSERT_TRUE(h.Turn());  // acknowledges piece 0
    ASSERT_TRUE(h.Turn());
    EXPECT_EQ(h.Last().blocks.size(), 5u);
    EXPECT_EQ(h.Last().Count(ControlCode::ChatData), 4);
    EXPECT_EQ(h.Last().mode, 5);
}

TEST(AckList, RefusesAppendsBeyond256) {
    Harness h;
    h.ConnectAsCallee();
    h.ReceiveOffer(4096 * 59, "big.bin");
    const auto piece = Pattern(59);
    for (int n = 0; n < 300; ++n) h.ReceiveData(n, piece);
    EXPECT_EQ(h.session.PendingAcks(), 256u);
    EXPECT_EQ(h.session.BlocksReceived(), 300u);
}

TEST(Timing, TransferValuesAndTheirEnd) {
    Harness h;
    h.ConnectAsCallee();
    EXPECT_EQ(h.session.PollInterval(), 12000u);
    EXPECT_EQ(h.session.ReplyDelay(), 4000u);
    h.ReceiveOffer(3 * 59, "f.bin");
    EXPECT_EQ(h.session.PollInterval(), 52000u);
    EXPECT_EQ(h.session.ReplyDelay(), 4000u);
    h.ReceiveData(1, Pattern(59));
    EXPECT_EQ(h.session.State(), LinkState::ReceivingFile);
    EXPECT_EQ(h.session.ReplyDelay(), 41000u);
    h.Receive(ControlCode::TransferEnd, CallsignPayload("EF2GH"));
    EXPECT_EQ(h.session.State(), LinkState::Connected);
    EXPECT_EQ(h.session.PollInterval(), 12000u);
    EXPECT_EQ(h.session.ReplyDelay(), 4000u);
    EXPECT_EQ(h.ui.log.back().text, "File 'f.bin' is NOT completed");
}

// Runs passes one millisecond apart while the receiver hears a burst of `burst_ms`; answers the
// time from the start of reception to the turn.
std::uint32_t AnswerAfter(Harness& h, std::uint32_t burst_ms) {
    const std::uint32_t start = h.clock.now;
    h.receiver.receiving = true;
    h.session.StatusRefresh();
    EXPECT_TRUE(h.session.RxStarted());
    const std::size_t before = h.sender.bursts.size();
    while (h.sender.bursts.size() == before) {
        if (h.clock.now - start >= burst_ms) h.receiver.receiving = false;
        h.session.SchedulerPass();
        h.clock.now += 1;
        if (h.clock.now - start > 200000) return 0;
    }
    return h.clock.now - 1 - start;
}

TEST(Timing, AnswersReplyDelayAfterTheStartOrHalfASecondAfterTheEnd) {
    {
        Harness h;
        h.ConnectAsCallee();
        h.ReceiveOffer(100 * 59, "f.bin");
        h.ReceiveData(0, Pattern(59));
        ASSERT_EQ(h.session.ReplyDelay(), 41000u);
        h.receiver.mode = 1;  // a data turn
        EXPECT_EQ(AnswerAfter(h, 38000), 41000u);
        // A poll in the control mode instead: the sender has left the transfer.  It is answered on
        // the idle delay with the last piece acknowledged again, and the next data turn brings the
        // long delay back.
        h.ReceiveData(7, Pattern(59));
        h.Turn();
        h.receiver.receiving = false;
        h.session.StatusRefresh();
        h.receiver.mode = 4;
        EXPECT_EQ(AnswerAfter(h, 1500), 4000u);
        const auto& acks = h.sender.bursts.back().blocks;
        ASSERT_GE(acks.size(), 2u);
        EXPECT_EQ(acks[1].code, static_cast<int>(ControlCode::BlockAck));
        EXPECT_EQ(acks[1].payload[0], 7);
        h.receiver.receiving = false;
        h.session.StatusRefresh();
        h.receiver.mode = 3;
        EXPECT_EQ(AnswerAfter(h, 38000), 41000u);
    }
    {
        Harness h;
        h.ConnectAsCallee();
        ASSERT_EQ(h.session.ReplyDelay(), 4000u);
        EXPECT_EQ(AnswerAfter(h, 38000), 38000u + 500u + 1u);
        EXPECT_EQ(h.clock.sleeps, std::vector<std::uint32_t>{500});
        EXPECT_FALSE(h.session.RxStarted());
    }
}

TEST(Timing, PollsPollIntervalAfterItsOwnLastTurn) {
    Harness h;
    h.ConnectAsCaller();
    ASSERT_TRUE(h.Turn());
    const std::uint32_t first = h.session.TxStartTick();
    const std::size_t before = h.sender.bursts.size();
    while (h.sender.bursts.size() == before) {
        h.clock.now += 1;
        h.session.SchedulerPass();
    }
    EXPECT_EQ(h.session.TxStartTick() - first, 12000u);
}

TEST(Timing, PassCountFiresWhenTheTickStandsStill) {
    Harness h;
    h.ConnectAsCaller();
    ASSERT_TRUE(h.Turn());
    const std::size_t before = h.sender.bursts.size();
    std::uint32_t passes = 0;
    while (h.sender.bursts.size() == before && passes < 20000) {
        h.session.SchedulerPass();  // the clock does not move
        ++passes;
    }
    EXPECT_EQ(passes, 12000u);
}

TEST(Transmission, StatusKeyingLabelsAndProgress) {
    Harness h;
    h.sender.stop_at_once = false;
    h.sender.duration_ms = 4000;
    h.ConnectAsCaller();
    ASSERT_TRUE(h.Turn());
    EXPECT_EQ(h.session.TxStatus(), 2);
    EXPECT_TRUE(h.sender.keyed);
    EXPECT_EQ(h.ui.labels[static_cast<std::size_t>(StatusLabel::TransmitStatus)], "Transfer data...");
    EXPECT_EQ(h.ui.labels[static_cast<std::size_t>(StatusLabel::TransmittedMode)], "600 short");
    EXPECT_EQ(h.session.TxDurationMs(), 4000u);
    h.clock.now += 1000;
    h.session.StatusRefresh();
    EXPECT_EQ(h.ui.transmit_progress, 25);
    h.clock.now += 2990;
    h.session.StatusRefresh();
    EXPECT_EQ(h.ui.transmit_progress, 99);
    h.session.SchedulerPass();
    EXPECT_EQ(h.session.TxStatus(), 2);  // still playing: nothing is due
    h.sender.playing = false;
    h.session.SchedulerPass();
    EXPECT_EQ(h.session.TxStatus(), 0);
    EXPECT_FALSE(h.sender.keyed);
    EXPECT_EQ(h.ui.labels[static_cast<std::size_t>(StatusLabel::TransmitStatus)], "");
    EXPECT_EQ(h.ui.labels[static_cast<std::size_t>(StatusLabel::TransmittedMode)], "");
    h.session.StatusRefresh();
    EXPECT_EQ(h.ui.transmit_progress, 0);
}

TEST(Transmission, ABurstThatStartedNothingDoesNotDivideByZero) {
    Harness h;
    h.sender.stop_at_once = false;
    h.sender.duration_ms = 0;
    h.ConnectAsCaller();
    ASSERT_TRUE(h.Turn());
    h.clock.now += 10;
    h.session.StatusRefresh();
    EXPECT_EQ(h.ui.transmit_progress, 0);
}

TEST(Status, ReceptionLabelsFollowTheActivityFlag) {
    Harness h(Settings("AB1CD", 1));
    h.receiver.receiving = true;
    h.receiver.mode = 3;
    h.receiver.snr = kSnrNone;
    h.session.StatusRefresh();
    EXPECT_EQ(h.ui.labels[static_cast<std::size_t>(StatusLabel::ReceivedMode)], "1000 long");
    EXPECT_EQ(h.ui.labels[static_cast<std::size_t>(StatusLabel::ReceivedSnr)], "");
    EXPECT_EQ(h.session.RxStartTick(), h.clock.now);
    h.receiver.snr = 17;
    h.session.StatusRefresh();
    EXPECT_EQ(h.ui.labels[static_cast<std::size_t>(StatusLabel::ReceivedSnr)], "S/N:17 dB");
    h.receiver.receiving = false;
    h.session.StatusRefresh();
    EXPECT_EQ(h.ui.labels[static_cast<std::size_t>(StatusLabel::ReceivedMode)], "");
    EXPECT_EQ(h.ui.labels[static_cast<std::size_t>(StatusLabel::ReceivedSnr)], "");
}

}  // namespace
}  // namespace kavra::link::test
