// Calls, answers, refusals, silence, disconnection and chat between two simulated stations, for
// both modem types, with the turn-taking checked on the virtual clock.
#include <gtest/gtest.h>

#include "sim_support.h"

namespace kavra::link::test {
namespace {

class Connection : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(ModemTypes, Connection, ::testing::Values(0, 1));

TEST_P(Connection, AcceptedAutomaticallyWithTheReplyDelays) {
    StationPair p(GetParam());
    ASSERT_TRUE(p.Link());
    p.sim.Run(2 * kMinute);  // keep-alive turns go back and forth
    ASSERT_EQ(p.SA(), LinkState::Connected);
    ASSERT_EQ(p.SB(), LinkState::Connected);
    EXPECT_EQ(p.A().ui.log[0].text, "Connecting to 'EF2GH'...");
    EXPECT_EQ(p.A().ui.log[1].text, "Connected to 'EF2GH'");
    EXPECT_EQ(p.B().ui.log[0].text, "Connecting to 'AB1CD'...");
    EXPECT_EQ(p.B().ui.log[1].text, "Connected to 'AB1CD'");
    EXPECT_EQ(p.A().ui.log.size(), 2u);
    EXPECT_EQ(p.B().ui.log.size(), 2u);
    EXPECT_EQ(p.A().ui.labels[static_cast<std::size_t>(StatusLabel::Connection)], "Connected: EF2GH");
    EXPECT_EQ(p.B().ui.labels[static_cast<std::size_t>(StatusLabel::Connection)], "Connected: AB1CD");
    EXPECT_TRUE(p.A().ui.commands[static_cast<std::size_t>(Command::SendFile)]);
    EXPECT_FALSE(p.A().ui.commands[static_cast<std::size_t>(Command::Connect)]);

    const auto& bursts = p.sim.bursts();
    ASSERT_GE(bursts.size(), 10u);
    EXPECT_EQ(bursts[0].from, 0);
    EXPECT_EQ(bursts[0].start_ms, 0u);  // the first request goes out at once
    EXPECT_EQ(bursts[0].codes, std::vector<std::uint8_t>{1});
    EXPECT_EQ(bursts[1].codes, std::vector<std::uint8_t>{2});
    for (std::size_t i = 2; i < bursts.size(); ++i) EXPECT_EQ(bursts[i].codes, (std::vector<std::uint8_t>{9, 4, 4}));
    // Every turn answers the one before, the idle reply delay after its start was noticed.
    for (std::size_t i = 1; i < bursts.size(); ++i) {
        EXPECT_NE(bursts[i].from, bursts[i - 1].from) << i;
        EXPECT_FALSE(bursts[i].lost) << i;
        EXPECT_EQ(bursts[i].start_ms, p.ExpectedAnswer(bursts[i].from, bursts[i - 1], p.timing.idle_reply_delay_ms)) << i;
        EXPECT_EQ(bursts[i].mode, 4);
    }
}

TEST_P(Connection, SilentChannelPollsEveryPollIntervalAndIsLostAfterFiveTurns) {
    StationPair p(GetParam());
    ASSERT_TRUE(p.Link());
    p.sim.Run(kMinute);
    p.BreakChannel();
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.SA() == LinkState::Idle && p.SB() == LinkState::Idle; }, 10 * kMinute));
    const auto& bursts = p.sim.bursts();
    for (int s = 0; s < 2; ++s) {
        // Turns of this station after the last one it heard from the other.
        std::size_t last_heard = 0;
        for (std::size_t i = 0; i < bursts.size(); ++i)
            if (bursts[i].from != s && !bursts[i].lost) last_heard = i;
        std::vector<std::uint64_t> starts;
        for (std::size_t i = last_heard + 1; i < bursts.size(); ++i)
            if (bursts[i].from == s) starts.push_back(bursts[i].start_ms);
        ASSERT_EQ(starts.size(), 5u) << s;
        for (std::size_t i = 1; i < starts.size(); ++i) EXPECT_EQ(starts[i] - starts[i - 1], p.timing.idle_poll_interval_ms);
        const auto lost = p.sim.station(s).ui.FirstLogTime("not answer, lost connection");
        ASSERT_TRUE(lost);
        EXPECT_EQ(*lost, starts.back() + p.timing.idle_poll_interval_ms);
    }
    EXPECT_EQ(p.A().ui.log.back().text, "'EF2GH' not answer, lost connection");
    EXPECT_EQ(p.B().ui.log.back().text, "'AB1CD' not answer, lost connection");
}

TEST_P(Connection, AcceptedByTheUser) {
    LinkSettings b = Settings("EF2GH", GetParam());
    b.auto_connect = AutoAccept::Never;
    StationPair p(GetParam(), 1, nullptr, &b);
    p.B().call_answer = {Answer::Accept, 7000};
    ASSERT_TRUE(p.Link());
    const auto& bursts = p.sim.bursts();
    ASSERT_EQ(bursts[1].from, 1);
    // The user answered 7 s after the request was handled; the reply delay had passed by then.
    EXPECT_GT(bursts[1].start_ms, 7000u);
    EXPECT_LT(bursts[1].start_ms, bursts[0].end_ms + 7002);
    EXPECT_EQ(bursts[1].codes, std::vector<std::uint8_t>{2});
    EXPECT_TRUE(p.B().ui.HasLog("Connected to 'AB1CD'"));
}

TEST_P(Connection, RefusedByTheUser) {
    LinkSettings b = Settings("EF2GH", GetParam());
    b.auto_connect = AutoAccept::Never;
    StationPair p(GetParam(), 1, nullptr, &b);
    p.B().call_answer = {Answer::Refuse, 3000};
    p.A().Connect("EF2GH");
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.SA() == LinkState::Idle; }, 2 * kMinute));
    p.sim.Run(kMinute);
    EXPECT_EQ(p.A().ui.log.back().text, "'EF2GH' decline connection");
    EXPECT_TRUE(p.B().ui.log.empty());
    EXPECT_EQ(p.SB(), LinkState::Idle);
    const auto from_b = p.sim.BurstsFrom(1);
    ASSERT_EQ(from_b.size(), 1u);
    EXPECT_EQ(from_b[0]->codes, std::vector<std::uint8_t>{2});
    EXPECT_EQ(p.sim.BurstsFrom(0).size(), 1u);
}

TEST_P(Connection, UnansweredQuestionIsRefusedAfterThirtySeconds) {
    LinkSettings b = Settings("EF2GH", GetParam());
    b.auto_connect = AutoAccept::Never;
    StationPair p(GetParam(), 1, nullptr, &b);
    p.B().call_answer = {Answer::Never, 0};
    p.A().Connect("EF2GH");
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.B().session().OpenQuestion() == Question::Call; }, kMinute));
    const std::uint64_t opened = p.sim.now_ms();
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.B().session().OpenQuestion() == Question::None; }, kMinute));
    EXPECT_EQ(p.sim.now_ms() - opened, 30000u);
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.SA() == LinkState::Idle; }, kMinute));
    EXPECT_EQ(p.A().ui.log.back().text, "'EF2GH' decline connection");
}

TEST_P(Connection, UnansweredCallGivesUpAfterTheLimitedAttempts) {
    for (int attempts : {5, 2}) {
        LinkSettings a = Settings("AB1CD", GetParam());
        a.connect_attempts = attempts;
        StationPair p(GetParam(), 1, &a);
        p.A().Connect("ZZ9ZZ");  // nobody of that name
        ASSERT_TRUE(p.sim.RunUntil([&] { return p.SA() == LinkState::Idle; }, 10 * kMinute));
        const auto requests = p.sim.BurstsFrom(0);
        ASSERT_EQ(static_cast<int>(requests.size()), attempts);
        for (std::size_t i = 1; i < requests.size(); ++i)
            EXPECT_EQ(requests[i]->start_ms - requests[i - 1]->start_ms, p.timing.idle_poll_interval_ms);
        EXPECT_EQ(p.A().ui.log.back().text, "'ZZ9ZZ' not answer, lost connection");
        EXPECT_EQ(p.A().ui.log.back().time_ms, requests.back()->start_ms + p.timing.idle_poll_interval_ms);
        EXPECT_TRUE(p.sim.BurstsFrom(1).empty());
        EXPECT_TRUE(p.B().ui.log.empty());
    }
}

TEST_P(Connection, UnlimitedCallingGoesOnUntilTheUserStops) {
    LinkSettings a = Settings("AB1CD", GetParam());
    a.limited_attempts = false;
    StationPair p(GetParam(), 1, &a);
    p.A().Connect("ZZ9ZZ");
    p.sim.Run(30ull * p.timing.idle_poll_interval_ms + 100);
    EXPECT_EQ(p.sim.BurstsFrom(0).size(), 31u);
    EXPECT_EQ(p.SA(), LinkState::Calling);
    p.A().session().Disconnect1Click();
    EXPECT_EQ(p.A().ui.log.back().text, "Stop connecting to 'ZZ9ZZ'");
    p.sim.Run(kMinute);
    EXPECT_EQ(p.sim.BurstsFrom(0).size(), 31u);
}

TEST_P(Connection, ACallAcrossModemTypesIsNeverHeard) {
    StationPair p(GetParam(), 1, nullptr, nullptr);
    LinkSettings other = Settings("EF2GH", 1 - GetParam());
    TwoStationSim sim(Settings("AB1CD", GetParam()), other);
    sim.station(0).Connect("EF2GH");
    sim.Run(2 * kMinute);
    EXPECT_EQ(sim.station(1).session().State(), LinkState::Idle);
    EXPECT_TRUE(sim.BurstsFrom(1).empty());
}

// Disconnect pressed in each state, by the station that is in it.
struct DisconnectCase {
    LinkState state;
    int presser;
};
class DisconnectFrom : public ::testing::TestWithParam<std::tuple<DisconnectCase, int>> {};

TEST_P(DisconnectFrom, EveryState) {
    const auto [c, type] = GetParam();
    LinkSettings a = Settings("AB1CD", type);
    LinkSettings b = Settings("EF2GH", type);
    if (c.state == LinkState::Answering) b.auto_connect = AutoAccept::Never;
    if (c.state == LinkState::OfferReceived || c.state == LinkState::RefusingFile || c.state == LinkState::Offering)
        b.auto_receive = AutoAccept::Never;
    StationPair p(type, 3, &a, &b);
    p.B().call_answer = {Answer::Never, 0};
    p.B().offer_answer = {c.state == LinkState::RefusingFile ? Answer::Refuse : Answer::Never, 0};
    SimStation& presser = p.sim.station(c.presser);
    SimStation& other = p.sim.station(1 - c.presser);
    auto reach = [&](LinkState s) {
        return p.sim.RunUntil([&] { return presser.session().State() == s; }, 20 * kMinute);
    };
    if (c.state == LinkState::Calling) p.sim.SetDeaf(1, true);
    if (c.state == LinkState::Accepted) p.sim.SetDeaf(0, true);
    if (c.state <= LinkState::Accepted) {
        p.A().Connect("EF2GH");
    } else {
        ASSERT_TRUE(p.Link());
        if (c.state != LinkState::Connected) {
            p.A().files.files["/home/f.bin"] = Pattern(60000);
            p.A().SendFile("/home/f.bin");
        }
        if (c.state == LinkState::Closing) {
            ASSERT_TRUE(reach(LinkState::Offering));
            presser.session().Disconnect1Click();
        }
        if (c.state == LinkState::EndingTransfer) {
            ASSERT_TRUE(reach(LinkState::SendingFile));
            presser.session().StopTransferClick();
        }
    }
    ASSERT_TRUE(reach(c.state)) << LinkStateName(c.state);
    const std::size_t bursts_before = p.sim.BurstsFrom(c.presser).size();
    const bool linked = c.state >= LinkState::Connected;
    const std::string other_call = c.presser == 0 ? "EF2GH" : "AB1CD";
    const std::string own_call = c.presser == 0 ? "AB1CD" : "EF2GH";

    presser.session().Disconnect1Click();
    if (!linked) {
        EXPECT_EQ(presser.session().State(), LinkState::Idle);
        EXPECT_EQ(presser.ui.log.back().text, "Stop connecting to '" + other_call + "'");
        p.sim.SetDeaf(c.presser, true);  // a further request would be a new call
        p.sim.Run(kMinute);
        EXPECT_EQ(p.sim.BurstsFrom(c.presser).size(), bursts_before);  // the other station is not told
        return;
    }
    EXPECT_EQ(presser.session().State(), LinkState::Closing);
    EXPECT_EQ(presser.ui.log.back().text, "Disconnecting from '" + other_call + "'");
    for (const Command command : {Command::Disconnect, Command::SendFile, Command::StopTransfer})
        EXPECT_FALSE(presser.session().CommandEnabled(command)) << static_cast<int>(command);
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.SA() == LinkState::Idle && p.SB() == LinkState::Idle; }, 5 * kMinute))
        << LinkStateName(p.SA()) << " " << LinkStateName(p.SB());
    const auto sent = p.sim.BurstsFrom(c.presser);
    ASSERT_EQ(sent.size(), bursts_before + 1);
    EXPECT_EQ(sent.back()->codes, std::vector<std::uint8_t>{3});
    EXPECT_TRUE(other.ui.HasLog("Disconnected from '" + own_call + "'"));
    p.sim.Run(kMinute);
    EXPECT_EQ(p.sim.BurstsFrom(c.presser).size(), bursts_before + 1);
    for (int s = 0; s < 2; ++s) {
        SimStation& st = p.sim.station(s);
        EXPECT_TRUE(st.ui.commands[static_cast<std::size_t>(Command::Connect)]) << s;
        EXPECT_FALSE(st.ui.commands[static_cast<std::size_t>(Command::StopTransfer)]) << s;
        EXPECT_EQ(st.ui.labels[static_cast<std::size_t>(StatusLabel::Connection)], "No connection") << s;
        EXPECT_EQ(st.session().PollInterval(), p.timing.idle_poll_interval_ms) << s;
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, DisconnectFrom,
    ::testing::Combine(::testing::Values(DisconnectCase{LinkState::Calling, 0}, DisconnectCase{LinkState::Answering, 1},
                                         DisconnectCase{LinkState::Accepted, 1}, DisconnectCase{LinkState::Connected, 0},
                                         DisconnectCase{LinkState::Offering, 0}, DisconnectCase{LinkState::SendingFile, 0},
                                         DisconnectCase{LinkState::OfferReceived, 1},
                                         DisconnectCase{LinkState::FileAccepted, 1},
                                         DisconnectCase{LinkState::ReceivingFile, 1}, DisconnectCase{LinkState::Closing, 0},
                                         DisconnectCase{LinkState::RefusingFile, 1},
                                         DisconnectCase{LinkState::EndingTransfer, 0}),
                       ::testing::Values(0, 1)),
    [](const auto& param_info) {
        return std::string(LinkStateName(std::get<0>(param_info.param).state)) + "_type" + std::to_string(std::get<1>(param_info.param));
    });

// Chat lines of 1, 58, 59 and 115 characters both ways, on an idle link and during a transfer.
class ChatLines : public ::testing::TestWithParam<std::tuple<int, bool>> {};
TEST_P(ChatLines, ArriveWhole) {
    const auto [type, during_transfer] = GetParam();
    StationPair p(type);
    ASSERT_TRUE(p.Link());
    if (during_transfer) {
        p.A().files.files["/home/big.bin"] = Pattern(200000);
        p.A().SendFile("/home/big.bin");
        ASSERT_TRUE(p.sim.RunUntil([&] { return p.SB() == LinkState::ReceivingFile; }, 5 * kMinute));
    }
    std::vector<std::string> lines;
    for (std::size_t n : {1, 58, 59, 115}) {
        std::string line;
        for (std::size_t i = 0; i < n; ++i) line.push_back(static_cast<char>(i % 2 ? 'a' + i % 26 : 0xC0 + i % 64));
        lines.push_back(line);
    }
    for (const std::string& l : lines) {
        ASSERT_TRUE(p.A().Chat(l));
        ASSERT_TRUE(p.B().Chat(l));
    }
    ASSERT_TRUE(p.sim.RunUntil([&] { return p.A().ui.chat.size() == 8 && p.B().ui.chat.size() == 8; }, 30 * kMinute));
    for (int s = 0; s < 2; ++s) {
        const auto& chat = p.sim.station(s).ui.chat;
        const std::string own = s == 0 ? "AB1CD: " : "EF2GH: ";
        const std::string remote = s == 0 ? "EF2GH: " : "AB1CD: ";
        std::vector<std::string> own_lines, remote_lines;
        for (const auto& l : chat) (l.kind == static_cast<int>(ChatKind::Own) ? own_lines : remote_lines).push_back(l.text);
        ASSERT_EQ(remote_lines.size(), 4u) << s;
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(own_lines[i], own + lines[i]);
            EXPECT_EQ(remote_lines[i], remote + lines[i]);
        }
    }
    if (during_transfer) {
        EXPECT_EQ(p.SA(), LinkState::SendingFile);
        ASSERT_TRUE(p.sim.RunUntil([&] { return p.SB() == LinkState::Connected && p.B().ui.HasLog("received succesfully"); }, 60 * kMinute));
        EXPECT_EQ(p.B().files.files["RECEIVED/big.bin"], Pattern(200000));
    }
}
INSTANTIATE_TEST_SUITE_P(Both, ChatLines, ::testing::Combine(::testing::Values(0, 1), ::testing::Bool()));

}  // namespace
}  // namespace kavra::link::test
