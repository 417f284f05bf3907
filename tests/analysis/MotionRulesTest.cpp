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
  };
  const std::vector<Case> cases = {
      {"all single, either axis or sign", {{500, counts(1, 0)}, {500, counts(-1, 1)}}, true},
      {"exactly half", {{500, counts(0, -1)}, {500, counts(3, 1)}}, true},
      {"just under half", {{499, counts(1, 0)}, {501, counts(2, 2)}}, false},
      {"single counts more than a second before the newest",
       {{2000, counts(1, 0)}, {1001, counts(5, 0)}},
       false},
      {"no motion is not one count", {{1000, counts(0, 0)}}, false},
      {"motion unknown", {{1000, ReportMotion{}}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int64_t> stamps;
    std::vector<ReportMotion> motion;
    for (const Part& p : c.parts) append(stamps, motion, p.n, p.m);
    EXPECT_EQ(motionrules::speedLimitedAtEnd(StampSeries::fromVectors(stamps, motion)), c.limited);
  }
  EXPECT_FALSE(motionrules::speedLimitedAtEnd(StampSeries{}));
}

}  // namespace
