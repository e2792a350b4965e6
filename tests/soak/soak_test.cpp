// The soak's own checks: a run replays exactly from its seed, and a received file that differs
// from what was sent is reported with the seed and the step that lead to it.
#include <gtest/gtest.h>

#include "soak/soak_run.h"

namespace kavra::soak {
namespace {

TEST(Soak, ReplaysFromItsSeedAndCatchesAFileThatDiffers) {
    SoakOptions o;
    o.seed = 5;
    o.hours = 0.5;
    o.folder = testing::TempDir() + "kavra-soak-replay";
    const SoakReport first = RunSoak(o);
    EXPECT_TRUE(first.Passed()) << first.Summary();
    ASSERT_GT(first.compares, 0) << "no file was compared in this run: pick another seed\n" << first.Summary();

    // The same seed again, with every received file damaged just before it is compared.
    o.before_compare = [](std::vector<std::uint8_t>& bytes) { bytes.push_back('X'); };
    const SoakReport second = RunSoak(o);
    EXPECT_EQ(second.steps, first.steps);
    EXPECT_EQ(second.bursts, first.bursts);
    EXPECT_EQ(second.links_up, first.links_up);
    EXPECT_EQ(second.transfers, first.transfers);
    EXPECT_EQ(second.delivered_whole, first.delivered_whole);
    EXPECT_EQ(second.compares, first.compares);
    ASSERT_EQ(second.violations.size(), static_cast<std::size_t>(second.compares)) << second.Summary();
    for (const std::string& v : second.violations) {
        EXPECT_NE(v.find("VIOLATION seed 5 type 0, after step "), std::string::npos) << v;
        EXPECT_NE(v.find("successfully differs"), std::string::npos) << v;
    }
}

}  // namespace
}  // namespace kavra::soak
