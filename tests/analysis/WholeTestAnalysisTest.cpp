#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "analysis/WholeTestAnalysis.h"

namespace {

constexpr int64_t kUs = 1000;
constexpr int64_t kMs = 1000 * kUs;

WholeTestFigures analyze(const std::vector<int64_t>& ns, std::vector<std::size_t> drops = {}) {
  return analyzeWholeTest(StampSeries::fromVectors(ns, {}, std::move(drops)));
}

// 8000 Hz, each report delivered up to 60 us early or late (uniformly): the
// intervals' median is the period, their spread sqrt(2) x 120 / sqrt(12) us.
TEST(WholeTestAnalysis, EightKilohertzWithHostJitter) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int64_t> delay(-60 * kUs, 60 * kUs);
  std::vector<int64_t> ns;
  for (int64_t i = 0; i < 80'000; ++i) ns.push_back(kMs + i * 125 * kUs + delay(random));
  const WholeTestFigures f = analyze(ns);

  EXPECT_EQ(f.reports, 80'000);
  EXPECT_EQ(f.rests, 0);
  EXPECT_NEAR(f.intervalUs.p50, 125.0, 1.0);
  EXPECT_NEAR(f.intervalUs.stddev, std::sqrt(2.0 * 120 * 120 / 12), 0.02 * 48.99);
  EXPECT_NEAR(f.movingRateHz, 8000.0, 8.0);
  EXPECT_LE(f.intervalUs.max, 245.0);
  EXPECT_GE(f.intervalUs.p1, 5.0);
  // Nothing is missing: a report late by up to 0.48 periods still finds its
  // own slot, although 11 % of the intervals are longer than 1.5 periods.
  EXPECT_LE(f.missedSlots, 4);
}

// Flicks: 300 ms strokes at exactly 8000 Hz with 600 ms rests between them.
TEST(WholeTestAnalysis, ShortStrokesHaveAMovingRate) {
  std::vector<int64_t> ns;
  int64_t t = kMs;
  for (int stroke = 0; stroke < 11; ++stroke, t += 600 * kMs) {
    for (int i = 0; i < 2400; ++i, t += 125 * kUs) ns.push_back(t);
  }
  const WholeTestFigures f = analyze(ns);
  EXPECT_EQ(f.rests, 10);
  EXPECT_EQ(f.intervals, 11 * 2399);
  EXPECT_NEAR(f.movingRateHz, 8000.0, 8.0);
  EXPECT_NEAR(f.movingSeconds, 11 * 2399 * 125e-6, 1e-9);
  EXPECT_DOUBLE_EQ(f.intervalUs.max, 125.0);
  EXPECT_DOUBLE_EQ(f.latenessUs.max, 0.0);
}

// 1000 Hz with holes of known size; one of them the kernel's (a drop mark),
// which is counted as dropped reports, not as missed slots.
TEST(WholeTestAnalysis, HolesAreMissedSlotsAndDropsAreTheKernels) {
  const struct {
    int at, missing;
    bool dropped;
  } holes[] = {{100, 1, false}, {300, 3, false}, {500, 7, false}, {700, 4, true}, {800, 0, true}};
  std::vector<int64_t> ns;
  std::vector<std::size_t> drops = {0};  // before the test's first report: not the test's
  int64_t t = kMs;
  for (int i = 0; i < 1000; ++i, t += kMs) {
    for (const auto& h : holes) {
      if (h.at != i) continue;
      t += h.missing * kMs;
      if (h.dropped) drops.push_back(ns.size());
    }
    ns.push_back(t);
  }
  const WholeTestFigures f = analyze(ns, drops);
  EXPECT_EQ(f.missedSlots, 1 + 3 + 7);
  EXPECT_EQ(f.kernelDrops, 2);
  EXPECT_EQ(f.kernelDroppedReports, 4);
  EXPECT_DOUBLE_EQ(f.intervalUs.p50, 1000.0);
  EXPECT_DOUBLE_EQ(f.intervalUs.max, 8000.0);
  // Retained (up to 10 baselines) and above 1.5 baselines: all four holes.
  EXPECT_EQ(f.anomalies, 4);
  EXPECT_NEAR(f.anomalyShare, 4.0 / 999, 1e-12);
}

// Reports on a 125 us grid, each late by a known amount, the pattern the same
// read forwards and backwards so the best-fitting grid is the true one.
TEST(WholeTestAnalysis, LatenessAgainstTheFittedGrid) {
  const int64_t pattern[] = {0, 5, 20, 35, 61, 61, 35, 20, 5, 0};
  std::vector<int64_t> ns;
  for (int64_t i = 0; i < 1000; ++i) ns.push_back(kMs + i * 125 * kUs + pattern[i % 10] * kUs);
  const WholeTestFigures f = analyze(ns);
  EXPECT_NEAR(f.latenessUs.p50, 20.0, 0.002);  // rank 500 of 0,0,5,5,20,20,35,35,61,61 x 100
  EXPECT_NEAR(f.latenessUs.p99, 61.0, 0.002);
  EXPECT_NEAR(f.latenessUs.max, 61.0, 0.002);
}

// One report in a hundred delivered late by 0.6 to 0.9 of a period, into
// the next slot's time: nothing is missing, and lateness says by how much.
TEST(WholeTestAnalysis, LateReportsAreNotMissedSlots) {
  std::mt19937 random(5);
  std::uniform_int_distribution<int64_t> late(75 * kUs, 112 * kUs);
  std::vector<int64_t> ns;
  int64_t latest = 0;
  for (int64_t i = 0; i < 80'000; ++i) {
    const int64_t delay = i % 100 == 50 ? late(random) : 0;
    latest = std::max(latest, delay);
    ns.push_back(kMs + i * 125 * kUs + delay);
  }
  const WholeTestFigures f = analyze(ns);
  EXPECT_EQ(f.missedSlots, 0);
  EXPECT_NEAR(f.latenessUs.p50, 0.0, 0.5);
  EXPECT_NEAR(f.latenessUs.max, latest / 1000.0, 0.5);
  EXPECT_NEAR(f.movingRateHz, 8000.0, 1.0);
}

TEST(WholeTestAnalysis, PercentilesByNearestRank) {
  // Intervals 1..n us in a shuffled order: the percentile p is the value
  // ceil(p x n); an odd count puts half of the ranks between two values.
  const struct {
    int n;
    double p1, p50, p99, p99_9, mean;
  } cases[] = {{1000, 10, 500, 990, 999, 500.5}, {999, 10, 500, 990, 999, 500}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    std::vector<int64_t> ns = {0};
    std::vector<int64_t> gaps(static_cast<std::size_t>(c.n));
    for (int i = 0; i < c.n; ++i) gaps[static_cast<std::size_t>(i)] = (i + 1) * kUs;
    std::shuffle(gaps.begin(), gaps.end(), std::mt19937(3));
    for (int64_t g : gaps) ns.push_back(ns.back() + g);
    const WholeTestFigures f = analyze(ns);
    EXPECT_DOUBLE_EQ(f.intervalUs.p1, c.p1);
    EXPECT_DOUBLE_EQ(f.intervalUs.p50, c.p50);
    EXPECT_DOUBLE_EQ(f.intervalUs.p99, c.p99);
    EXPECT_DOUBLE_EQ(f.intervalUs.p99_9, c.p99_9);
    EXPECT_DOUBLE_EQ(f.intervalUs.max, c.n);
    EXPECT_DOUBLE_EQ(f.intervalUs.mean, c.mean);
  }
}

TEST(WholeTestAnalysis, NothingToMeasure) {
  for (const auto& ns : std::vector<std::vector<int64_t>>{{}, {kMs}, {kMs, kMs - 5}}) {
    const WholeTestFigures f = analyze(ns);
    EXPECT_EQ(f.reports, static_cast<int64_t>(ns.size()));
    EXPECT_EQ(f.intervals, 0);
    EXPECT_EQ(f.movingRateHz, 0.0);
    EXPECT_EQ(f.intervalUs.p50, 0.0);
  }
}

}  // namespace
