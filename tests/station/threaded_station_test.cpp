// The same station code on real threads and the real clock: two stations over virtual air in real
// time connect, exchange a chat line each way and disconnect.  Run under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/air/air_stations.h"

namespace kavra::air {
namespace {

namespace fs = std::filesystem;
using station::LineKind;

TEST(ThreadedStations, ConnectChatAndDisconnectInRealTime) {
    const fs::path root = fs::temp_directory_path() / ("kavra-threaded-" + std::to_string(::getpid()));
    fs::remove_all(root);
    AirStations air(11, /*real_time=*/true);
    const int a = air.Add({"KAVRA1", 0, false, 2, 2, root / "a"});
    const int b = air.Add({"KAVRA2", 0, false, 2, 2, root / "b"});
    AirPath clean;
    clean.snr_db = 25.0;
    air.SetAllPaths(clean);
    auto both = [&](link::LinkState s) { return air.At(a).Session().State() == s && air.At(b).Session().State() == s; };
    ASSERT_TRUE(air.At(a).Connect("KAVRA2"));
    ASSERT_TRUE(air.RunUntil([&] { return both(link::LinkState::Connected); }, 60000));
    ASSERT_TRUE(air.At(a).Say("threads one"));
    ASSERT_TRUE(air.At(b).Say("threads two"));
    ASSERT_TRUE(air.RunUntil([&] { return air.View(b).Has("threads one", LineKind::Abonent) &&
                                          air.View(a).Has("threads two", LineKind::Abonent); },
                             60000));
    ASSERT_TRUE(air.At(a).Disconnect());
    ASSERT_TRUE(air.RunUntil([&] { return both(link::LinkState::Idle); }, 60000));
    EXPECT_EQ(air.At(a).Health().ring_dropped, 0u);
    EXPECT_EQ(air.At(b).Health().ring_dropped, 0u);
    fs::remove_all(root);
}

}  // namespace
}  // namespace kavra::air
