#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

#include "FakeClock.h"
#include "PollingAnalyzerProbe.h"
#include "analysis/PollingAnalyzer.h"

using namespace std::chrono_literals;
using Probe = PollingAnalyzerProbe;

namespace {

std::vector<float> repeat(float value, int count) { return std::vector<float>(count, value); }

std::vector<float> operator+(std::vector<float> a, const std::vector<float>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Two-pass population standard deviation, as a reference.
float populationStdDev(const std::vector<float>& v) {
  const double mean = std::accumulate(v.begin(), v.end(), 0.0) / v.size();
  double sum = 0.0;
  for (float f : v) sum += (f - mean) * (f - mean);
  return static_cast<float>(std::sqrt(sum / v.size()));
}

uint32_t total(const std::vector<uint32_t>& bins) {
  return std::accumulate(bins.begin(), bins.end(), 0u);
}

class IntervalDiagnosticsTest : public ::testing::Test {
 protected:
  PollingStats diagnose(const std::vector<float>& intervalsUs) {
    Probe::runDiagnostics(analyzer, intervalsUs);
    return analyzer.getStats();
  }

  PollingAnalyzer analyzer{&FakeClock::now};
};

TEST_F(IntervalDiagnosticsTest, NeedsEightIntervals) {
  PollingStats s = diagnose(repeat(1000, 7));
  EXPECT_EQ(s.baselineUs, 0.0f);
  EXPECT_EQ(s.baselineHz, 0.0f);
  EXPECT_EQ(s.stability, 0.0f);
  EXPECT_EQ(s.binWidthUs, 0.0f);
  EXPECT_TRUE(s.histogram.empty());

  s = diagnose(repeat(1000, 8));
  EXPECT_EQ(s.baselineUs, 1000.0f);
  EXPECT_EQ(s.baselineHz, 1000.0f);
  EXPECT_EQ(s.jitterUs, 0.0f);
  EXPECT_EQ(s.stability, 1.0f);
  EXPECT_EQ(s.anomalyCount, 0);
  EXPECT_EQ(s.anomalyRatio, 0.0f);
  EXPECT_EQ(s.binWidthUs, 100.0f);
  std::vector<uint32_t> bins(PollingAnalyzer::kHistogramBins, 0);
  bins[10] = 8;
  EXPECT_EQ(s.histogram, bins);
}

TEST_F(IntervalDiagnosticsTest, TooFewIntervalsClearResultsButKeepTheBinWidth) {
  diagnose(repeat(1000, 8) + repeat(1300, 4));
  const PollingStats s = diagnose(repeat(1000, 7));
  EXPECT_EQ(s.baselineUs, 0.0f);
  EXPECT_EQ(s.jitterUs, 0.0f);
  EXPECT_EQ(s.anomalyCount, 0);
  EXPECT_EQ(s.anomalyRatio, 0.0f);
  EXPECT_TRUE(s.histogram.empty());
  EXPECT_EQ(s.binWidthUs, 100.0f);
}

TEST_F(IntervalDiagnosticsTest, EvenCountTakesTheUpperMiddleAndDropsOutliers) {
  // Unsorted on purpose: the median comes from selection, not input order.
  const PollingStats s = diagnose({1000, 400, 1000, 100, 1000, 300, 1000, 200});
  EXPECT_EQ(s.baselineUs, 1000.0f);
  // 100 us is below 0.2 x 1000 and left out; 200 us sits on the lower edge.
  EXPECT_FLOAT_EQ(s.jitterUs, populationStdDev({200, 300, 400, 1000, 1000, 1000, 1000}));
  std::vector<uint32_t> bins(PollingAnalyzer::kHistogramBins, 0);
  bins[2] = bins[3] = bins[4] = 1;
  bins[10] = 4;
  EXPECT_EQ(s.histogram, bins);
  EXPECT_EQ(s.anomalyCount, 0);
}

TEST_F(IntervalDiagnosticsTest, AnomaliesAreStrictlyAbove1point5Baselines) {
  PollingStats s = diagnose(repeat(1000, 7) + std::vector<float>{1500});
  EXPECT_EQ(s.anomalyCount, 0);

  s = diagnose(repeat(1000, 7) + std::vector<float>{std::nextafter(1500.0f, 2000.0f)});
  EXPECT_EQ(s.anomalyCount, 1);
  EXPECT_EQ(s.anomalyRatio, 1.0f / 8.0f);
}

TEST_F(IntervalDiagnosticsTest, TenBaselinesIsRetainedButBeyondTheBins) {
  PollingStats s = diagnose(repeat(1000, 7) + std::vector<float>{10000});
  EXPECT_EQ(s.anomalyCount, 1);
  EXPECT_EQ(s.anomalyRatio, 1.0f / 8.0f);
  EXPECT_FLOAT_EQ(s.jitterUs, populationStdDev(repeat(1000, 7) + std::vector<float>{10000}));
  EXPECT_EQ(total(s.histogram), 7u);

  s = diagnose(repeat(1000, 7) + std::vector<float>{std::nextafter(10000.0f, 20000.0f)});
  EXPECT_EQ(s.anomalyCount, 0);
  EXPECT_EQ(s.jitterUs, 0.0f);
}

TEST_F(IntervalDiagnosticsTest, BinWidthFollowsTheLadder) {
  // 62.5 us is 16,000 Hz, the fastest virtual mouse; 8 us a burst of batched reports.
  const std::pair<float, float> cases[] = {
      {8, 1},      {62.5f, 10},  {100, 10},     {101, 20},     {125, 20},     {1000, 100},
      {2000, 200}, {8000, 1000}, {10000, 1000}, {10001, 2000}, {20000, 2000},
  };
  for (const auto& [baseline, width] : cases) {
    const PollingStats s = diagnose(repeat(baseline, 8));
    EXPECT_EQ(s.binWidthUs, width) << "baseline " << baseline;
    EXPECT_EQ(total(s.histogram), 8u) << "baseline " << baseline;
  }
}

TEST_F(IntervalDiagnosticsTest, StabilityIsNeverNegative) {
  const PollingStats s = diagnose(repeat(200, 4) + std::vector<float>{1000} + repeat(10000, 3));
  ASSERT_EQ(s.baselineUs, 1000.0f);
  EXPECT_GT(s.jitterUs, s.baselineUs);
  EXPECT_EQ(s.stability, 0.0f);
}

TEST_F(IntervalDiagnosticsTest, HistogramStorageIsReused) {
  diagnose(repeat(1000, 8));
  const uint32_t* storage = Probe::histogramStorage(analyzer);
  diagnose(repeat(125, 4096));
  EXPECT_EQ(Probe::histogramStorage(analyzer), storage);
}

// Diagnostics reached through update(): every 200 ms, over the newest kept
// intervals, and they stay while the mouse rests.
TEST_F(IntervalDiagnosticsTest, UpdateRecomputesAtMostEvery200ms) {
  const auto start = FakeClock::now();
  PollingAnalyzer a(&FakeClock::now);
  auto t = start;
  for (int i = 0; i < 200; ++i, t += 1ms) {
    FakeClock::set(t);
    a.addTimestamp(t);
  }
  FakeClock::set(start + 199ms);
  a.update();
  EXPECT_EQ(a.getStats().baselineUs, 0.0f);

  FakeClock::set(start + 200ms);
  a.update();
  EXPECT_EQ(a.getStats().baselineUs, 1000.0f);
  EXPECT_EQ(total(a.getStats().histogram), 199u);

  FakeClock::set(start + 10s);
  a.update();
  EXPECT_EQ(a.getStats().currentHz, 0.0f);
  EXPECT_EQ(a.getStats().baselineUs, 1000.0f);
}

}  // namespace
