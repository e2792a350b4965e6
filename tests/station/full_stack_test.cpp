// Two stations through the real transmitters, the HF channel and the real receivers, on virtual
// time: connections, chat, files, stop, a vanished peer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/air/air_stations.h"
#include "tests/support/sanitizer.h"

namespace kavra::air {
namespace {

using station::LineKind;
namespace fs = std::filesystem;

fs::path FreshFolder(const std::string& name) {
    const fs::path p = fs::temp_directory_path() / ("kavra-station-test-" + std::to_string(::getpid())) / name;
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
}

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> v(n);
    std::mt19937 rng(seed);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return v;
}

std::vector<std::uint8_t> ReadBack(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Pair {
    explicit Pair(const std::string& test, int type = 0, bool play_8k = false, std::uint64_t seed = 1,
                  station::AnswerPolicy answer = station::AnswerPolicy::Yes)
        : air(seed) {
        a = air.Add({"KAVRA1", type, play_8k, 2, 2, FreshFolder(test + "/a")});
        // A station whose operator answers does not accept calls by itself.
        const std::uint32_t autoconnect = answer == station::AnswerPolicy::Ask ? 0 : 2;
        b = air.Add({"KAVRA2", type, play_8k, autoconnect, 2, FreshFolder(test + "/b"), answer, 3});
    }
    void Channel(std::optional<double> snr, const char* fading, double offset = 2.0) {
        AirPath p;
        p.snr_db = snr;
        p.fading = fading ? sim::FindFadingPreset(fading) : std::nullopt;
        p.freq_offset_hz = offset;
        air.Air().SetPath(a, b, p);
        p.freq_offset_hz = -offset;
        air.Air().SetPath(b, a, p);
    }
    link::LinkState State(int i) { return air.At(i).Session().State(); }
    bool Both(link::LinkState s) { return State(a) == s && State(b) == s; }
    bool Heard(int i, std::string_view text) { return air.View(i).Has(text, LineKind::Abonent); }
    ::testing::AssertionResult Connect() {
        if (!air.At(a).Connect("KAVRA2")) return ::testing::AssertionFailure() << "Connect disabled";
        if (!air.RunUntil([&] { return Both(link::LinkState::Connected); }, 120000))
            return ::testing::AssertionFailure() << "no link after 120 s: " << link::LinkStateName(State(a)) << " / "
                                                 << link::LinkStateName(State(b));
        return ::testing::AssertionSuccess();
    }
    // Sends `bytes` from a as `name`; answers whether b holds an identical copy and both logged success.
    ::testing::AssertionResult Transfer(const std::string& name, const std::vector<std::uint8_t>& bytes,
                                        const std::function<void()>& once_data_flows = {}) {
        const std::uint64_t max_ms = 1800000;
        WriteFile(name, bytes);
        const int sent_before = air.View(a).Count("sended succesfully");
        const int got_before = air.View(b).Count("received succesfully");
        air.View(a).SetNextFile(name);
        if (!air.At(a).SendFile()) return ::testing::AssertionFailure() << "Send file disabled";
        if (once_data_flows) {
            if (!air.RunUntil([&] { return State(b) == link::LinkState::ReceivingFile && air.At(b).Session().BlocksReceived() > 0; }, max_ms))
                return ::testing::AssertionFailure() << name << ": no data arrived";
            once_data_flows();
        }
        if (!air.RunUntil([&] { return air.View(a).Count("sended succesfully") > sent_before &&
                                       air.View(b).Count("received succesfully") > got_before &&
                                       Both(link::LinkState::Connected); },
                          max_ms))
            return ::testing::AssertionFailure() << name << ": not delivered, states " << link::LinkStateName(State(a))
                                                 << " / " << link::LinkStateName(State(b));
        if (ReadBack(air.Config(b).folder / "RECEIVED" / name) != bytes)
            return ::testing::AssertionFailure() << name << ": the received copy differs";
        return ::testing::AssertionSuccess();
    }
    void WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream out(air.Config(a).folder / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    // A 60000-byte file from a to b, until data flows.
    bool StartLongTransfer() {
        WriteFile("long.bin", Pattern(60000, 3));
        air.View(a).SetNextFile("long.bin");
        return air.At(a).SendFile() &&
               air.RunUntil([&] { return State(b) == link::LinkState::ReceivingFile && air.At(b).Session().BlocksReceived() > 0; },
                            180000);
    }
    AirStations air;
    int a = 0, b = 1;
};

TEST(FullStack, ConnectChatDisconnect) {
    Pair p("chat");
    ASSERT_TRUE(p.air.At(p.a).ConnectEnabled());
    ASSERT_TRUE(p.Connect());
    EXPECT_TRUE(p.air.View(p.a).Has("Connected to 'KAVRA2'"));
    ASSERT_TRUE(p.air.At(p.a).Say("hello from one"));
    ASSERT_TRUE(p.air.At(p.b).Say("hello from two"));
    ASSERT_TRUE(p.air.RunUntil([&] { return p.Heard(p.b, "hello from one") && p.Heard(p.a, "hello from two"); }, 90000));
    ASSERT_TRUE(p.air.At(p.a).Disconnect());
    ASSERT_TRUE(p.air.RunUntil([&] { return p.Both(link::LinkState::Idle); }, 60000));
    EXPECT_TRUE(p.air.View(p.b).Has("Disconnected from 'KAVRA1'"));
    EXPECT_FALSE(p.air.At(p.a).Keyed());
    EXPECT_EQ(p.air.At(p.b).Health().ring_dropped, 0u);
}

// The call answered by the operator: accepted, refused, and left unanswered (refused when the
// countdown runs out).
TEST(FullStack, CallsAnsweredByTheOperator) {
    for (const int answer : {1, 0, -1}) {
        SCOPED_TRACE(answer);
        Pair p("answer" + std::to_string(answer + 1), 0, false, 2, station::AnswerPolicy::Ask);
        ASSERT_TRUE(p.air.At(p.a).Connect("KAVRA2"));
        ASSERT_TRUE(p.air.RunUntil([&] { return p.air.View(p.b).QuestionOpen(); }, 60000));
        EXPECT_TRUE(p.air.View(p.b).Has("'KAVRA1' request to connection. Are you accept?"));
        if (answer >= 0) {
            ASSERT_TRUE(p.air.At(p.b).Answer(answer == 1));
        }
        if (answer == 1) {
            ASSERT_TRUE(p.air.RunUntil([&] { return p.Both(link::LinkState::Connected); }, 60000));
        } else {
            ASSERT_TRUE(p.air.RunUntil([&] { return p.air.View(p.a).Has("'KAVRA2' decline connection"); }, 90000));
            EXPECT_EQ(p.State(p.a), link::LinkState::Idle);
            ASSERT_TRUE(p.air.RunUntil([&] { return p.State(p.b) == link::LinkState::Idle; }, 30000));
        }
    }
}

// Files of every awkward size in one link; chat both ways while a file is on its way.
TEST(FullStack, FilesArriveByteIdentical) {
    Pair p("files", 0, false, 3);
    p.Channel(20.0, "good");
    ASSERT_TRUE(p.Connect());
    std::uint32_t seed = 1;
    // Under the sanitizers the slow build checks the edges only.
    const std::vector<std::size_t> sizes = kavra::testing::kSanitized ? std::vector<std::size_t>{0, 60}
                                                                       : std::vector<std::size_t>{0, 1, 59, 60, 10000};
    for (const std::size_t size : sizes) {
        EXPECT_TRUE(p.Transfer("f" + std::to_string(size) + ".bin", Pattern(size, seed++)));
    }
    // A long file, with a chat line each way once data flows.
    const std::size_t big = kavra::testing::kSanitized ? 3000 : 100000;
    EXPECT_TRUE(p.Transfer("big.bin", Pattern(big, 99), [&] {
        p.air.At(p.b).Say("chat from the receiving side");
        p.air.At(p.a).Say("chat from the sending side");
    }));
    // A line typed during the last data burst goes out in the next turn.
    EXPECT_TRUE(p.air.RunUntil([&] { return p.Heard(p.a, "chat from the receiving side") &&
                                            p.Heard(p.b, "chat from the sending side"); },
                               60000));
    EXPECT_EQ(p.air.At(p.a).Session().ModeClass(), 1) << p.air.At(p.a).Session().RemoteReport().mean << " "
                                                       << p.air.At(p.a).Session().RemoteReport().minimum << " "
                                                       << p.air.At(p.a).Session().RemoteReport().maximum;
}

// A poor channel: the far station's reports make the sender step down, and the file still arrives.
TEST(FullStack, PoorChannelStepsTheModeDown) {
    if (kavra::testing::kSanitized) GTEST_SKIP() << "the same code paths as FilesArriveByteIdentical; too slow sanitized";
    Pair p("poor", 0, false, 4);
    p.Channel(6.0, "poor");
    ASSERT_TRUE(p.Connect());
    EXPECT_TRUE(p.Transfer("poor.bin", Pattern(kavra::testing::kSanitized ? 2000 : 6000, 5)));
    EXPECT_GE(p.air.At(p.a).Session().ModeClass(), 3);
    EXPECT_TRUE(p.air.View(p.a).Has("transmitted mode: 1200") || p.air.View(p.a).Has("transmitted mode: 600"));
}

// Modem type 1 at both playback rates: a link, a chat line and a file.
TEST(FullStack, ModemTypeOneAtBothPlaybackRates) {
    for (const bool play_8k : {false, true}) {
        if (kavra::testing::kSanitized && !play_8k) continue;
        SCOPED_TRACE(play_8k);
        Pair p(play_8k ? "type1-8k" : "type1-48k", 1, play_8k, 5);
        ASSERT_EQ(p.air.At(p.a).PlaybackRate(), play_8k ? 8000 : 48000);
        ASSERT_TRUE(p.Connect());
        p.air.At(p.b).Say("type one");
        EXPECT_TRUE(p.Transfer("t1.bin", Pattern(kavra::testing::kSanitized ? 300 : 3000, 7)));
        EXPECT_TRUE(p.Heard(p.a, "type one"));
    }
}

// Stop transfer from the sending side, then from the receiving side: the link stays up and
// the next file goes through.
TEST(FullStack, StopTransferFromEitherSide) {
    for (const bool sender_stops : {true, false}) {
        if (kavra::testing::kSanitized && !sender_stops) continue;
        SCOPED_TRACE(sender_stops);
        Pair p(sender_stops ? "stop-a" : "stop-b", 0, false, 6);
        ASSERT_TRUE(p.Connect());
        ASSERT_TRUE(p.StartLongTransfer());
        const int stopper = sender_stops ? p.a : p.b;
        ASSERT_TRUE(p.air.At(stopper).StopTransfer());
        ASSERT_TRUE(p.air.RunUntil([&] { return p.Both(link::LinkState::Connected); }, 240000));
        EXPECT_TRUE(p.air.View(p.a).Has("NOT completed") || p.air.View(p.b).Has("NOT completed"));
        EXPECT_TRUE(p.Transfer("after.bin", Pattern(500, 4)));
    }
}

// The far station vanishes mid-transfer: the link is declared lost and both sides come back to
// Idle; a restarted far station can be called again.
TEST(FullStack, FarStationVanishesMidTransfer) {
    Pair p("vanish", 0, false, 7);
    ASSERT_TRUE(p.Connect());
    ASSERT_TRUE(p.StartLongTransfer());
    p.air.Vanish(p.b);
    ASSERT_TRUE(p.air.RunUntil([&] { return p.State(p.a) == link::LinkState::Idle; }, 900000));
    EXPECT_TRUE(p.air.View(p.a).Has("'KAVRA2' not answer, lost connection", LineKind::Error));
    EXPECT_FALSE(p.air.At(p.a).Keyed());
    p.air.Restart(p.b);
    EXPECT_TRUE(p.Connect());
}

}  // namespace
}  // namespace kavra::air
