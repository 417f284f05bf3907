// When the last second of reports says the hand limits the rate.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/MotionRules.h"

namespace {

ReportMotion counts(int16_t dx, int16_t dy) {
  return ReportMotion{dx, dy, 0, 0, 0, ReportMotion::kKnown};
}

// `n` reports 1 ms apart ending at 10 s, each with `motion`.
void append(std::vector<int64_t>& stamps, std::vector<ReportMotion>& motion, int n,
            ReportMotion m) {
  for (int i = 0; i < n; ++i) {
    stamps.push_back(stamps.empty() ? 10'000'000'000 - 3'000'000'000LL : stamps.back() + 1'000'000);
    motion.push_back(m);
  }
}

TEST(MotionRules, SpeedLimitedWhenHalfTheLastSecondsReportsCarryOneCount) {
  struct Part {
    int n;
    ReportMotion m;
  };
  struct Case {
    std::string name;
    std::vector<Part> parts;  // oldest first, 1 ms apart
    bool limited;
    // What the window's hints read: the mouse holds the rate back, the
    // hand's counts per second and the smallest step (0: not checked).
    bool device = false;
    double countsPerS = -1;
    int step = 0;
  };
  const std::vector<Case> cases = {
      {"all single, either axis or sign", {{500, counts(1, 0)}, {500, counts(-1, 1)}}, true},
      {"exactly half", {{500, counts(0, -1)}, {500, counts(3, 1)}}, true},
      {"just under half, and most carry several counts",
       {{499, counts(1, 0)}, {501, counts(2, 2)}},
       false,
       true},
      {"single counts more than a second before the newest",
       {{2000, counts(1, 0)}, {1001, counts(5, 0)}},
       false,
       true},
      {"no motion is not one count", {{1000, counts(0, 0)}}, false},
      {"motion unknown", {{1000, ReportMotion{}}}, false},
      // Every count even, but large: they say nothing of the step (a fast hand).
      {"several counts on every report: the mouse", {{1000, counts(4, -3)}}, false, true, 4000, 1},
      {"steps of two are one step each", {{1000, counts(0, 2)}}, false, false, 2000, 2},
      {"one count, then several: half is not most",
       {{500, counts(1, 0)}, {500, counts(3, 0)}},
       true,
       false,
       2000,
       1},
      {"mostly several steps of two",
       {{400, counts(2, 0)}, {600, counts(6, 0)}},
       false,
       true,
       4400,
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int64_t> stamps;
    std::vector<ReportMotion> motion;
    for (const Part& p : c.parts) append(stamps, motion, p.n, p.m);
    const StampSeries series = StampSeries::fromVectors(stamps, motion);
    EXPECT_EQ(motionrules::speedLimitedAtEnd(series), c.limited);
    const motionrules::RecentMotion recent = motionrules::recentMotion(series);
    EXPECT_EQ(recent.speedLimited, c.limited);
    EXPECT_EQ(recent.deviceLimited, c.device);
    if (c.countsPerS >= 0) {
      EXPECT_DOUBLE_EQ(recent.countsPerSecond, c.countsPerS);
    }
    if (c.step > 0) {
      EXPECT_EQ(recent.countStep, c.step);
    }
  }
  EXPECT_FALSE(motionrules::speedLimitedAtEnd(StampSeries{}));
}

}  // namespace
