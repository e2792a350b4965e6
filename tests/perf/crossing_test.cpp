// Where a curve crosses a BER: interpolation, bounds from error-free points, and the cases
// the sweep cannot resolve.
#include <gtest/gtest.h>

#include <vector>

#include "perf/ber_sweep.h"

namespace kavra::perf {
namespace {

PointResult Point(double snr, long long bits, long long errors, bool skipped = false) {
    PointResult p;
    p.snr_db = snr;
    p.bits = bits;
    p.bit_errors = errors;
    p.skipped = skipped;
    p.transmissions = bits > 0 ? 1 : 0;
    return p;
}

TEST(Crossing, LogLinearBetweenTwoPoints) {
    // 1e-2 at 4 dB, 1e-4 at 6 dB: 1e-3 lies half way.
    const std::vector<PointResult> points{Point(2, 1000, 300), Point(4, 100000, 1000), Point(6, 1000000, 100)};
    const Crossing c = FindCrossing(points, 1e-3);
    EXPECT_EQ(c.kind, Crossing::Kind::Between);
    EXPECT_NEAR(c.snr_db, 5.0, 1e-9);
    EXPECT_EQ(DescribeCrossing(c), "5.0 dB");
}

TEST(Crossing, ErrorFreePointStandsForItsBoundAndGivesAnUpperLimit) {
    // 1e-3 at 4 dB, then no errors in 3e5 bits: bound 1e-5, so 1e-5 is reached at 6 dB at most.
    const std::vector<PointResult> points{Point(4, 100000, 100), Point(6, 300000, 0), Point(8, 0, 0, true)};
    const Crossing c = FindCrossing(points, 1e-5);
    EXPECT_EQ(c.kind, Crossing::Kind::AtMost);
    EXPECT_NEAR(c.snr_db, 6.0, 1e-9);
    EXPECT_EQ(DescribeCrossing(c), "<= 6.0 dB");
}

TEST(Crossing, TooFewBitsCannotShowTheRate) {
    const std::vector<PointResult> points{Point(4, 100000, 200), Point(6, 100000, 0)};
    EXPECT_EQ(FindCrossing(points, 1e-5).kind, Crossing::Kind::Unresolved);
    EXPECT_EQ(FindCrossing(points, 1e-3).kind, Crossing::Kind::AtMost);
}

TEST(Crossing, OutsideTheRange) {
    const std::vector<PointResult> low{Point(4, 1000000, 5), Point(6, 1000000, 0)};
    EXPECT_EQ(FindCrossing(low, 1e-5).kind, Crossing::Kind::BelowRange);
    EXPECT_EQ(DescribeCrossing(FindCrossing(low, 1e-5)), "< 4.0 dB");
    const std::vector<PointResult> high{Point(4, 1000, 400), Point(6, 1000, 200)};
    const Crossing c = FindCrossing(high, 1e-3);
    EXPECT_EQ(c.kind, Crossing::Kind::AboveRange);
    EXPECT_EQ(DescribeCrossing(c), "> 6.0 dB");
}

TEST(Crossing, FirstDescentCountsWhenTheCurveWobbles) {
    const std::vector<PointResult> points{Point(0, 10000, 100), Point(1, 100000, 10), Point(2, 100000, 30),
                                          Point(3, 1000000, 1)};
    const Crossing c = FindCrossing(points, 1e-3);
    EXPECT_EQ(c.kind, Crossing::Kind::Between);
    EXPECT_GT(c.snr_db, 0.0);
    EXPECT_LE(c.snr_db, 1.0);
}

}  // namespace
}  // namespace kavra::perf
