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

struct Pair {
    explicit Pair(const std::string& test, int type = 0, bool play_8k = false, std::uint64_t seed = 1) : air(seed) {
        a = air.Add({"KAVRA1", type, play_8k, 2, 2, FreshFolder(test + "/a")});
        b = air.Add({"KAVRA2", type, play_8k, 2, 2, FreshFolder(test + "/b")});
    }
    bool Connected(int i) { return air.At(i).Session().State() == link::LinkState::Connected; }
    AirStations air;
    int a = 0, b = 1;
};

TEST(FullStack, ConnectChatDisconnect) {
    Pair p("chat");
    ASSERT_TRUE(p.air.At(p.a).ConnectEnabled());
    ASSERT_TRUE(p.air.At(p.a).Connect("KAVRA2"));
    ASSERT_TRUE(p.air.RunUntil([&] { return p.Connected(p.a) && p.Connected(p.b); }, 60000));
    EXPECT_TRUE(p.air.View(p.a).Has("Connected to 'KAVRA2'"));
    ASSERT_TRUE(p.air.At(p.a).Say("hello from one"));
    ASSERT_TRUE(p.air.At(p.b).Say("hello from two"));
    ASSERT_TRUE(p.air.RunUntil([&] { return p.air.View(p.b).Has("hello from one", LineKind::Abonent) &&
                                             p.air.View(p.a).Has("hello from two", LineKind::Abonent); },
                               90000));
    ASSERT_TRUE(p.air.At(p.a).Disconnect());
    ASSERT_TRUE(p.air.RunUntil([&] { return p.air.At(p.a).Session().State() == link::LinkState::Idle &&
                                             p.air.At(p.b).Session().State() == link::LinkState::Idle; },
                               60000));
    for (const auto& l : p.air.View(p.b).Lines()) std::printf("[%6.1f] %s\n", static_cast<double>(l.time_ms) / 1000.0, l.text.c_str());
}

}  // namespace
}  // namespace kavra::air
