#include <gtest/gtest.h>

#include <cmath>

#include "analysis/RateCause.h"

namespace {

constexpr int64_t kSlotNs = 125'000;  // 8000 Hz

// A sensor polled at 8000 Hz that reports only in slots where a whole count
// of motion has built up, moved at each stage's speed (counts/s) for its time.
StampSeries sensor(const std::vector<std::pair<double, double>>& stages) {
  std::vector<int64_t> ns;
  std::vector<ReportMotion> motion;
  double built = 0.0;
  int64_t slot = 0;
  for (const auto& [countsPerS, seconds] : stages) {
    for (int64_t end = slot + std::llround(seconds * 8000); slot < end; ++slot) {
      built += countsPerS / 8000.0;
      if (built < 1.0) continue;
      ReportMotion m;
      m.dx = static_cast<int16_t>(std::floor(built));
      m.flags = ReportMotion::kKnown;
      built -= m.dx;
      ns.push_back(1'000'000'000 + slot * kSlotNs);
      motion.push_back(m);
    }
  }
  return StampSeries::fromVectors(ns, motion);
}

// `reportsPerSecond` evenly spaced for a second, each carrying `counts`
// (none: motion unknown); optional kernel drops each costing `dropCost`.
StampSeries steady(double reportsPerSecond, int counts, int drops = 0, int dropCost = 0) {
  std::vector<int64_t> ns;
  std::vector<ReportMotion> motion;
  std::vector<std::size_t> dropMarks;
  const auto step = static_cast<int64_t>(1e9 / reportsPerSecond);
  int64_t t = 1'000'000'000;
  for (int i = 0; i < static_cast<int>(reportsPerSecond); ++i, t += step) {
    if (drops > 0 && i % (static_cast<int>(reportsPerSecond) / drops) == 1) {
      dropMarks.push_back(ns.size());
      t += dropCost * step;
    }
    ns.push_back(t);
    ReportMotion m;
    m.dx = static_cast<int16_t>(counts);
    m.flags = counts > 0 ? ReportMotion::kKnown : 0;
    motion.push_back(m);
  }
  return StampSeries::fromVectors(ns, counts > 0 ? motion : std::vector<ReportMotion>{},
                                  StampSeries::dropMarks(dropMarks));
}

// 4000 reports in a second: `singles` of every 20 move one count, the rest three.
StampSeries mixed(int singles) {
  std::vector<int64_t> ns;
  std::vector<ReportMotion> motion;
  for (int i = 0; i < 4000; ++i) {
    ns.push_back(1'000'000'000 + int64_t{i} * 250'000);
    ReportMotion m;
    m.dx = static_cast<int16_t>(i % 20 < singles ? 1 : 3);
    m.flags = ReportMotion::kKnown;
    motion.push_back(m);
  }
  return StampSeries::fromVectors(ns, motion);
}

TEST(RateCause, EachCauseFromAStreamThatHasIt) {
  const struct {
    const char* name;
    StampSeries series;
    const char* cause;
    const char* words;
  } cases[] = {
      {"fast enough", sensor({{24000, 1.0}}), "reached", "达到 8000 Hz"},
      {"slow hand", sensor({{2000, 1.0}}), "speed_limited",
       "移动速度不足：约 8000 counts/s 以上才达到 8000 Hz，请更快移动或提高 DPI"},
      {"mouse at 4000 Hz with motion to spare", steady(4000, 5), "device_limited",
       "鼠标或其连接未达到要求"},
      {"kernel drops", steady(8000, 5, 40, 30), "kernel_drops", "内核丢弃了约 1200 个报告"},
      {"no motion", steady(4000, 0), "no_motion_data", "无法判断原因"},
      // Just below the reached share (0.93 of 8000 Hz), and drops costing
      // 0.5 % of the reports, below the kernel's share.
      {"just short", steady(7440, 5), "device_limited", "回报率却只有 7440 Hz"},
      {"a few drops", steady(7000, 5, 10, 4), "device_limited", "要求 8000 Hz"},
      // Drops costing about 1.1 % of the reports: just over the kernel's share.
      {"drops just over the share", steady(7000, 5, 10, 8), "kernel_drops",
       "内核丢弃了约 80 个报告"},
      // At 4000 Hz, 45 % or 55 % of the reports carrying a single count: the
      // speed-limited share is a half.
      {"45 % single counts", mixed(9), "device_limited", "要求 8000 Hz"},
      {"55 % single counts", mixed(11), "speed_limited", "移动速度不足"},
  };
  for (const auto& c : cases) {
    const std::optional<RateCause> cause = diagnoseRate(analyzeWholeTest(c.series), 8000.0);
    ASSERT_TRUE(cause) << c.name;
    EXPECT_STREQ(rateCauseKey(cause->kind), c.cause) << c.name;
    EXPECT_NE(cause->text.find(c.words), std::string::npos) << c.name << ": " << cause->text;
  }
  EXPECT_FALSE(diagnoseRate(analyzeWholeTest(StampSeries{}), 8000.0));
}

// A sweep from slow to fast: the rate follows the hand until one count per
// slot, 8000 counts/s; the bands are octaves, so the saturation speed found
// is the band that holds 8000 or the next one up.
TEST(RateCause, SweepFindsTheSaturationSpeed) {
  const StampSeries sweep = sensor({{500, 0.5},
                                    {1000, 0.5},
                                    {2000, 0.5},
                                    {3000, 0.5},
                                    {6000, 0.5},
                                    {8000, 0.5},
                                    {12000, 0.5},
                                    {20000, 0.5}});
  const WholeTestFigures f = analyzeWholeTest(sweep);
  ASSERT_TRUE(f.motion.known);
  const std::optional<RateCause> cause = diagnoseRate(f, 8000.0);
  ASSERT_TRUE(cause);
  ASSERT_TRUE(cause->saturationCountsPerS);
  EXPECT_TRUE(*cause->saturationCountsPerS == 4096.0 || *cause->saturationCountsPerS == 8192.0)
      << *cause->saturationCountsPerS;
  EXPECT_STREQ(rateCauseKey(cause->kind), "speed_limited");
  // The rate in each band follows the hand's speed below saturation.
  for (const SpeedBand& b : f.motion.bands) {
    if (b.lowCountsPerS < 4096 && b.movingSeconds > 0.3) {
      EXPECT_LT(b.rateHz, 2 * b.lowCountsPerS * 1.05) << b.lowCountsPerS;
      EXPECT_GT(b.rateHz, b.lowCountsPerS * 0.95) << b.lowCountsPerS;
    }
  }
  EXPECT_NEAR(f.motion.totalCounts, 0.5 * (500 + 1000 + 2000 + 3000 + 6000 + 8000 + 12000 + 20000),
              2.0);
  EXPECT_NEAR(f.motion.speedMax, 20000, 200);
}

}  // namespace
