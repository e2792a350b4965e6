// The receive handler and the user's connection commands, one station, blocks played by the test.
#include <gtest/gtest.h>

#include "link_test_support.h"

namespace kavra::link::test {
namespace {

TEST(ConnectRequest, ForAnotherStationIsIgnoredSilently) {
    Harness h;
    h.Receive(ControlCode::ConnectRequest, CallsignPayload("XX9XX", "EF2GH"));
    EXPECT_EQ(h.session.State(), LinkState::Idle);
    EXPECT_TRUE(h.ui.log.empty());
    // Letter case counts.
    h.Receive(ControlCode::ConnectRequest, CallsignPayload("ab1cd", "EF2GH"));
    EXPECT_EQ(h.session.State(), LinkState::Idle);
}

TEST(ConnectRequest, AcceptedAutomatically) {
    Harness h;
    h.Receive(ControlCode::ConnectRequest, CallsignPayload("AB1CD", "EF2GH"));
    EXPECT_EQ(h.session.State(), LinkState::Accepted);
    EXPECT_TRUE(h.session.SchedulerEnabled());
    EXPECT_FALSE(h.session.LinkIdle());
    EXPECT_EQ(h.session.RemoteCallsign(), "EF2GH");
    ASSERT_EQ(h.ui.log.size(), 1u);
    EXPECT_EQ(h.ui.log[0].text, "Connecting to 'EF2GH'...");
    ReceivedBlock reply;
    ASSERT_EQ(ParseLinkBlock(h.session.PendingControlBlock(), reply), ParseResult::Ok);
    EXPECT_EQ(reply.code, static_cast<int>(ControlCode::ConnectReply));
    EXPECT_EQ(reply.length, 9);
    EXPECT_EQ(ReadCallsignField(reply.payload), "AB1CD");
    EXPECT_EQ(reply.payload[8], 255);
    EXPECT_EQ(h.session.Counter(Retry::AcceptReplies), 6);
    // A further request never reaches the handler while the link is being set up.
    EXPECT_FALSE(AdmitsBlock(h.session.State(), static_cast<int>(ControlCode::ConnectRequest)));
}

TEST(ConnectRequest, AskedWhenAutoConnectIsOff) {
    LinkSettings s = Settings("AB1CD");
    s.auto_connect = AutoAccept::Never;
    Harness h(s);
    h.Receive(ControlCode::ConnectRequest, CallsignPayload("AB1CD", "EF2GH"));
    EXPECT_EQ(h.session.State(), LinkState::Answering);
    EXPECT_FALSE(h.session.ReadyForBlock());
    EXPECT_EQ(h.ui.question_caption, "Connection request...");
    EXPECT_EQ(h.ui.question_text, "'EF2GH' request to connection. Are you accept?");
    EXPECT_EQ(h.ui.question_cancel, "Cancel, 30s");
    EXPECT_FALSE(h.session.CommandEnabled(Command::Connect));
    h.session.AnswerQuestion(true);
    EXPECT_EQ(h.session.State(), LinkState::Accepted);
    EXPECT_FALSE(h.ui.question_shown);
    EXPECT_TRUE(h.session.ReadyForBlock());
}

TEST(ConnectRequest, GrayedAutoConnectAcceptsOnlyPrivilegedStations) {
    LinkSettings s = Settings("AB1CD");
    s.auto_connect = AutoAccept::Privileged;
    Harness h(s);
    h.files.files["abonents.txt"] = {};
    const std::string list = "EF2GH 1 friend\nIJ3KL 0 stranger\n";
    h.files.files["abonents.txt"].assign(list.begin(), list.end());
    ASSERT_TRUE(h.session.Abonents().LoadAbonents(h.files));

    h.Receive(ControlCode::ConnectRequest, CallsignPayload("AB1CD", "IJ3KL"));
    EXPECT_EQ(h.session.OpenQuestion(), Question::Call);
    h.session.AnswerQuestion(false);
    EXPECT_EQ(h.session.State(), LinkState::Closing);
    ASSERT_TRUE(h.Turn());
    EXPECT_EQ(h.session.State(), LinkState::Idle);

    h.Receive(ControlCode::ConnectRequest, CallsignPayload("AB1CD", "EF2GH"));
    EXPECT_EQ(h.session.OpenQuestion(), Question::None);
    EXPECT_EQ(h.session.State(), LinkState::Accepted);
}

TEST(ConnectRequest, RefusedCallSendsOneRefusalAndReturnsToIdle) {
    LinkSettings s = Settings("AB1CD");
    s.auto_connect = AutoAccept::Never;
    Harness h(s);
    h.Receive(ControlCode::ConnectRequest, CallsignPayload("AB1CD", "EF2GH"));
    h.session.AnswerQuestion(false);
    EXPECT_EQ(h.session.State(), LinkState::Closing);
    EXPECT_TRUE(h.ui.log.empty());
    EXPECT_EQ(h.session.RemoteCallsign(), "");  // not changed by a refused call
    ASSERT_TRUE(h.Turn());
    ASSERT_EQ(h.Last().blocks.size(), 1u);
    EXPECT_EQ(h.Last().blocks[0].code, static_cast<int>(ControlCode::ConnectReply));
    EXPECT_EQ(h.Last().blocks[0].payload[8], 0);
    EXPECT_EQ(h.Last().mode, 4);
    EXPECT_EQ(h.session.State(), LinkState::Idle);
    EXPECT_FALSE(h.Turn(30));  // nothing more is sent
    EXPECT_TRUE(h.ui.log.empty());
    // A new request is taken again.
    h.Receive(ControlCode::ConnectRequest, CallsignPayload("AB1CD", "EF2GH"));
    EXPECT_EQ(h.session.State(), LinkState::Answering);
}

TEST(RequestDialog, CountsDownAndRefusesAfterThirtySeconds) {
    LinkSettings s = Settings("AB1CD");
    s.auto_connect = AutoAccept::Never;
    Harness h(s);
    h.Receive(ControlCode::ConnectRequest, CallsignPayload("AB1CD", "EF2GH"));
    h.session.QuestionTimerTick();
    EXPECT_EQ(h.ui.question_cancel, "Cancel, 29s");
    for (int i = 2; i < 30; ++i) h.session.QuestionTimerTick();
    EXPECT_EQ(h.ui.question_cancel, "Cancel, 1s");
    EXPECT_EQ(h.session.State(), LinkState::Answering);
    h.session.QuestionTimerTick();
    EXPECT_FALSE(h.ui.question_shown);
    EXPECT_EQ(h.session.State(), LinkState::Closing);
}

TEST(ConnectCommand, TakesTheFirstEightCharactersAsTheCallsign) {
    Harness h;
    h.session.Abonents().Grid() = {{"EF2GH", ""}, {"", ""}, {"IJ3KL", "x"}};
    h.ui.next_callsign = "ABCDEFGHIJ";
    h.session.Connect1Click();
    EXPECT_EQ(h.ui.offered_callsigns, (std::vector<std::string>{"EF2GH", "IJ3KL"}));
    EXPECT_EQ(h.session.State(), LinkState::Calling);
    EXPECT_EQ(h.session.RemoteCallsign(), "ABCDEFGH");
    EXPECT_EQ(h.ui.log.back().text, "Connecting to 'ABCDEFGH'...");
    ReceivedBlock request;
    ASSERT_EQ(ParseLinkBlock(h.session.PendingControlBlock(), request), ParseResult::Ok);
    EXPECT_EQ(request.length, 16);
    EXPECT_EQ(ReadCallsignField(request.payload), "ABCDEFGH");
    EXPECT_EQ(ReadCallsignField(std::span<const std::uint8_t>(request.payload).subspan(8)), "AB1CD");
    EXPECT_TRUE(h.session.CommandEnabled(Command::Disconnect));
    EXPECT_FALSE(h.session.CommandEnabled(Command::Connect));
    // The answering station replies with the 8 characters it received: they match.
    h.Receive(ControlCode::ConnectReply, CallsignPayload("ABCDEFGH", {}, 255));
    EXPECT_EQ(h.session.State(), LinkState::Connected);
    EXPECT_EQ(h.ui.labels[static_cast<std::size_t>(StatusLabel::Connection)], "Connected: ABCDEFGH");
}

TEST(ConnectCommand, CancelledOrEmptyDoesNothing) {
    Harness h;
    h.session.Connect1Click();  // dialog cancelled
    h.ui.next_callsign = "";
    h.session.Connect1Click();
    EXPECT_EQ(h.session.State(), LinkState::Idle);
    h.session.SetConnectAvailable(false);
    h.session.ConnectTo("EF2GH");
    EXPECT_EQ(h.session.State(), LinkState::Idle);
}

TEST(ConnectReply, RefusedEndsTheCall) {
    Harness h;
    h.session.ConnectTo("EF2GH");
    h.Receive(ControlCode::ConnectReply, CallsignPayload("EF2GH", {}, 0));
    EXPECT_EQ(h.session.State(), LinkState::Idle);
    EXPECT_EQ(h.ui.log.back().text, "'EF2GH' decline connection");
    EXPECT_EQ(h.ui.log.back().kind, static_cast<int>(LogKind::Error));
    EXPECT_TRUE(h.session.CommandEnabled(Command::Connect));
    EXPECT_TRUE(h.session.LinkIdle());
}

// Blocks with a callsign field that differs only in letter case are ignored in every state that
// would otherwise take them.
struct CaseCase {
    ControlCode code;
    LinkState state;
};
class CallsignCase : public ::testing::TestWithParam<CaseCase> {};
TEST_P(CallsignCase, Ignored) {
    Harness h;
    const auto [code, state] = GetParam();
    if (state == LinkState::Calling) {
        h.session.ConnectTo("EF2GH");
    } else {
        h.ConnectAsCaller();
        if (state == LinkState::Offering) {
            h.files.files["f"] = Pattern(10);
            h.ui.next_file = "f";
            h.session.SendFileClick();
            h.session.AnswerQuestion(true);
        } else if (state == LinkState::SendingFile) {
            h.StartSending(Pattern(1000));
        }
    }
    ASSERT_EQ(h.session.State(), state);
    h.Receive(code, CallsignPayload("ef2gh", {}, 255));
    EXPECT_EQ(h.session.State(), state);
}
INSTANTIATE_TEST_SUITE_P(Codes, CallsignCase,
                         ::testing::Values(CaseCase{ControlCode::ConnectReply, LinkState::Calling},
                                           CaseCase{ControlCode::DisconnectNotice, LinkState::Connected},
                                           CaseCase{ControlCode::FileReply, LinkState::Offering},
                                           CaseCase{ControlCode::TransferEnd, LinkState::SendingFile}));

TEST(ChatData, EmptyBlockCompletesTheAcceptedConnection) {
    Harness h;
    h.Receive(ControlCode::ConnectRequest, CallsignPayload("AB1CD", "EF2GH"));
    h.Receive(ControlCode::ChatData, std::vector<std::uint8_t>{});
    EXPECT_EQ(h.session.State(), LinkState::Connected);
    EXPECT_EQ(h.ui.log.back().text, "Connected to 'EF2GH'");
    EXPECT_TRUE(h.ui.chat.empty());
}

TEST(FileOffer, CompletesAnAcceptedConnectionFirst) {
    Harness h;
    h.Receive(ControlCode::ConnectRequest, CallsignPayload("AB1CD", "EF2GH"));
    h.ReceiveOffer(100, "a.txt");
    EXPECT_EQ(h.session.State(), LinkState::FileAccepted);
    EXPECT_TRUE(h.ui.HasLog("Connected to 'EF2GH'"));
}

TEST(DisconnectNotice, EndsTheLink) {
    Harness h;
    h.ConnectAsCallee();
    ASSERT_TRUE(h.session.ChatEnter("pending line"));
    h.Receive(ControlCode::DisconnectNotice, CallsignPayload("EF2GH"));
    EXPECT_EQ(h.session.State(), LinkState::Idle);
    EXPECT_EQ(h.ui.log.back().text, "Disconnected from 'EF2GH'");
    EXPECT_EQ(h.ui.labels[static_cast<std::size_t>(StatusLabel::Connection)], "No connection");
    EXPECT_EQ(h.session.ChatQueueFree(), kChatQueueSlots);  // the queue was emptied
    EXPECT_TRUE(h.session.CommandEnabled(Command::Connect));
    EXPECT_FALSE(h.session.CommandEnabled(Command::Disconnect));
}

TEST(SignalReport, SetsModeClassInAnyStateAndKeepsIt) {
    Harness h;
    auto report = [&](int mean, int lo, int hi) {
        std::vector<std::uint8_t> p;
        for (int v : {mean, lo, hi}) {
            const auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(v));
            p.push_back(static_cast<std::uint8_t>(u & 0xFF));
            p.push_back(static_cast<std::uint8_t>(u >> 8));
        }
        return p;
    };
    EXPECT_EQ(h.session.ModeClass(), 1);
    h.ConnectAsCallee();
    h.Receive(ControlCode::SignalReport, report(2, 1, 3));
    EXPECT_EQ(h.session.ModeClass(), 5);
    EXPECT_EQ(h.ui.labels[static_cast<std::size_t>(StatusLabel::RemoteSnr)], "S/N:2 dB");
    EXPECT_EQ(h.session.RemoteReport().minimum, 1);
    h.Receive(ControlCode::DisconnectNotice, CallsignPayload("EF2GH"));
    h.Receive(ControlCode::SignalReport, report(12, 0, 20));  // filtered out while Idle
    EXPECT_EQ(h.session.ModeClass(), 5);
    h.Receive(ControlCode::ConnectRequest, CallsignPayload("AB1CD", "EF2GH"));
    EXPECT_EQ(h.session.ModeClass(), 5);  // not reset between links
    h.Receive(ControlCode::SignalReport, report(-3, -20, 30));
    EXPECT_EQ(h.session.RemoteReport().mean, -3);
    h.Receive(ControlCode::SignalReport, report(12, 0, 20));
    EXPECT_EQ(h.session.ModeClass(), 1);
}

TEST(SelectModeClass, Examples) {
    EXPECT_EQ(SelectModeClass(10, 8, 12), 1);
    EXPECT_EQ(SelectModeClass(10, 4, 12), 3);
    EXPECT_EQ(SelectModeClass(10, 8, 15), 3);
    EXPECT_EQ(SelectModeClass(2, 1, 3), 5);
    EXPECT_EQ(SelectModeClass(5, 0, 5), 5);
    EXPECT_EQ(SelectModeClass(8, 8, 8), 1);
    EXPECT_EQ(SelectModeClass(3, 3, 3), 3);
    EXPECT_EQ(SelectModeClass(11, 0, 11), 1);
    EXPECT_EQ(SelectModeClass(6, 0, 6), 3);
}

TEST(AdmitsBlock, IdleTakesOnlyConnectRequests) {
    for (int code = 0; code < 256; ++code) {
        EXPECT_EQ(AdmitsBlock(LinkState::Idle, code), code == 1) << code;
        for (int s = 1; s <= 12; ++s) EXPECT_EQ(AdmitsBlock(static_cast<LinkState>(s), code), code != 1) << code;
    }
}

TEST(Handler, UnknownCodesAreIgnored) {
    Harness h;
    h.ConnectAsCallee();
    const std::size_t lines = h.ui.log.size();
    for (int code = 10; code < 256; code += 7) h.Receive(static_cast<ControlCode>(code), std::vector<std::uint8_t>(9, 1));
    EXPECT_EQ(h.session.State(), LinkState::Connected);
    EXPECT_EQ(h.ui.log.size(), lines);
}

TEST(Disconnect, WhileCallingEndsAtOnceAndSendsNothing) {
    Harness h;
    h.session.ConnectTo("EF2GH");
    h.session.Disconnect1Click();
    EXPECT_EQ(h.session.State(), LinkState::Idle);
    EXPECT_EQ(h.ui.log.back().text, "Stop connecting to 'EF2GH'");
    EXPECT_FALSE(h.Turn(30));
    EXPECT_TRUE(h.sender.bursts.empty());
}

TEST(Disconnect, WhileConnectedSendsOneNoticeThenIdleWithoutFurtherLine) {
    Harness h;
    h.ConnectAsCaller();
    h.session.Disconnect1Click();
    EXPECT_EQ(h.session.State(), LinkState::Closing);
    EXPECT_EQ(h.ui.log.back().text, "Disconnecting from 'EF2GH'");
    const std::size_t lines = h.ui.log.size();
    ASSERT_TRUE(h.Turn());
    ASSERT_EQ(h.Last().blocks.size(), 1u);
    EXPECT_EQ(h.Last().blocks[0].code, static_cast<int>(ControlCode::DisconnectNotice));
    EXPECT_EQ(ReadCallsignField(h.Last().blocks[0].payload), "AB1CD");
    EXPECT_EQ(h.session.State(), LinkState::Idle);
    EXPECT_EQ(h.ui.log.size(), lines);
    EXPECT_FALSE(h.Turn(30));
}

TEST(Disconnect, InIdleDoesNothing) {
    Harness h;
    h.session.Disconnect1Click();
    EXPECT_TRUE(h.ui.log.empty());
}

TEST(Disconnect, ClosesAnOpenQuestionAndItsLateAnswerIsIgnored) {
    LinkSettings s = Settings("AB1CD");
    s.auto_connect = AutoAccept::Never;
    Harness h(s);
    h.Receive(ControlCode::ConnectRequest, CallsignPayload("AB1CD", "EF2GH"));
    h.session.Disconnect1Click();
    EXPECT_EQ(h.session.State(), LinkState::Idle);
    EXPECT_FALSE(h.ui.question_shown);
    h.session.AnswerQuestion(true);
    EXPECT_EQ(h.session.State(), LinkState::Idle);
}

TEST(Chat, EnterNeedsAnEstablishedLinkAndText) {
    Harness h;
    h.session.ConnectTo("EF2GH");
    EXPECT_FALSE(h.session.ChatEnter("hello"));  // kept in the input
    EXPECT_TRUE(h.ui.chat.empty());
    h.Receive(ControlCode::ConnectReply, CallsignPayload("EF2GH", {}, 255));
    EXPECT_FALSE(h.session.ChatEnter(""));
    EXPECT_EQ(h.session.ChatQueueFree(), kChatQueueSlots);
    EXPECT_TRUE(h.session.ChatEnter("hello"));
    ASSERT_EQ(h.ui.chat.size(), 1u);
    EXPECT_EQ(h.ui.chat[0].text, "AB1CD: hello");
    EXPECT_EQ(h.ui.chat[0].kind, static_cast<int>(ChatKind::Own));
    EXPECT_EQ(h.session.ChatQueueFree(), kChatQueueSlots - 1);
}

TEST(Chat, FullQueueRefusesTheLineAndKeepsWhatIsQueued) {
    Harness h;
    h.ConnectAsCaller();
    const std::string line(115, 'x');  // two blocks each
    for (std::size_t i = 0; i < kChatQueueSlots / 2; ++i) ASSERT_TRUE(h.session.ChatEnter(line)) << i;
    EXPECT_EQ(h.session.ChatQueueFree(), 0u);
    EXPECT_FALSE(h.session.ChatEnter("one more"));
    EXPECT_EQ(h.ui.log.back().text, "Chat queue is full, the line is not sent");
    EXPECT_EQ(h.ui.log.back().kind, static_cast<int>(LogKind::Error));
    // The first queued blocks go out unharmed.
    ASSERT_TRUE(h.Turn());
    ASSERT_EQ(h.Last().blocks.size(), 3u);
    EXPECT_EQ(h.Last().blocks[1].length, 59);
    EXPECT_EQ(h.Last().blocks[2].length, 57);
    EXPECT_EQ(h.Last().blocks[2].payload[56], '\n');
    EXPECT_EQ(h.session.ChatQueueFree(), 2u);
}

TEST(Chat, ReceivedLinesCarryTheRemoteCallsign) {
    Harness h;
    h.ConnectAsCallee();
    const std::string text = "good evening\n";
    h.Receive(ControlCode::ChatData, std::vector<std::uint8_t>(text.begin(), text.end()));
    ASSERT_EQ(h.ui.chat.size(), 1u);
    EXPECT_EQ(h.ui.chat[0].text, "EF2GH: good evening");
    EXPECT_EQ(h.ui.chat[0].kind, static_cast<int>(ChatKind::Abonent));
}

TEST(Settings, RefusedDuringALinkAndTimingFollowsModemType) {
    Harness h(Settings("AB1CD", 1));
    EXPECT_EQ(h.session.PollInterval(), 15000u);
    EXPECT_EQ(h.session.ReplyDelay(), 6000u);
    h.session.ConnectTo("EF2GH");
    EXPECT_FALSE(h.session.ApplySettings(Settings("ZZ", 0)));
    EXPECT_EQ(h.session.OwnCallsign(), "AB1CD");
    h.session.Disconnect1Click();
    LinkSettings s = Settings("LONGCALLSIGN", 0);
    s.connect_attempts = 99;
    EXPECT_TRUE(h.session.ApplySettings(s));
    EXPECT_EQ(h.session.OwnCallsign(), "LONGCALL");
    EXPECT_EQ(h.session.PollInterval(), 12000u);
}

}  // namespace
}  // namespace kavra::link::test
