#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <thread>

#include "FakeClock.h"
#include "PollingAnalyzerProbe.h"
#include "analysis/PollingAnalyzer.h"

using namespace std::chrono_literals;
using TimePoint = PollingAnalyzer::TimePoint;
using Probe = PollingAnalyzerProbe;

namespace {

constexpr TimePoint T0 = FakeClock::kStart;

// Puts the clock at T0 before the fixture's analyzer is built.
struct ClockAtStart {
  ClockAtStart() { FakeClock::set(T0); }
};

class PollingAnalyzerTest : public ::testing::Test {
 protected:
  // A report arriving now: the clock moves to t, then the timestamp is recorded.
  static void report(PollingAnalyzer& a, TimePoint t) {
    FakeClock::set(t);
    a.addTimestamp(t);
  }

  // `count` reports `period` apart, the first at `first`; returns the last one's time.
  static TimePoint reports(PollingAnalyzer& a, TimePoint first, int count,
                           std::chrono::nanoseconds period) {
    TimePoint t = first;
    for (int i = 0; i < count; ++i, t += period) report(a, t);
    return t - period;
  }

  static void updateAt(PollingAnalyzer& a, TimePoint now) {
    FakeClock::set(now);
    a.update();
  }

  static void expectSameStats(const PollingStats& x, const PollingStats& y) {
    EXPECT_EQ(x.currentHz, y.currentHz);
    EXPECT_EQ(x.maxHz, y.maxHz);
    EXPECT_EQ(x.minHz, y.minHz);
    EXPECT_EQ(x.avgHz, y.avgHz);
    EXPECT_EQ(x.statsValid, y.statsValid);
    EXPECT_EQ(x.history, y.history);
    EXPECT_EQ(x.histogram, y.histogram);
    EXPECT_EQ(x.binWidthUs, y.binWidthUs);
    EXPECT_EQ(x.baselineUs, y.baselineUs);
    EXPECT_EQ(x.baselineHz, y.baselineHz);
    EXPECT_EQ(x.jitterUs, y.jitterUs);
    EXPECT_EQ(x.stability, y.stability);
    EXPECT_EQ(x.anomalyCount, y.anomalyCount);
    EXPECT_EQ(x.anomalyRatio, y.anomalyRatio);
  }

  ClockAtStart clockAtStart;
  PollingAnalyzer analyzer{&FakeClock::now};
};

// --- recording -------------------------------------------------------------

TEST_F(PollingAnalyzerTest, FirstReportRecordsOnlyItsTimestamp) {
  report(analyzer, T0);
  EXPECT_TRUE(Probe::intervals(analyzer).empty());
  EXPECT_EQ(Probe::windowSize(analyzer), 1u);

  report(analyzer, T0 + 1ms);
  EXPECT_EQ(Probe::intervals(analyzer), std::vector<float>{1000.0f});
}

// A stamp the clock replaced (stale, from the future, or earlier than the
// previous report) enters the window, but no interval starts or ends at it.
TEST_F(PollingAnalyzerTest, ReplacedStampsMakeNoIntervals) {
  report(analyzer, T0);

  FakeClock::set(T0 + 1ms);
  analyzer.addTimestamp(T0 + 2ms);  // 1 ms in the future
  FakeClock::set(T0 + 2ms);
  analyzer.addTimestamp(T0 + 2ms - 2500ms);  // 2.5 s old
  EXPECT_EQ(Probe::window(analyzer), (std::vector<TimePoint>{T0, T0 + 1ms, T0 + 2ms}));
  // Exactly 2 s old is not stale, but earlier than the previous report.
  FakeClock::set(T0 + 3ms);
  analyzer.addTimestamp(T0 + 3ms - 2s);
  EXPECT_EQ(Probe::window(analyzer).back(), T0 + 2ms);
  report(analyzer, T0 + 4ms);  // starts at a replaced stamp
  EXPECT_TRUE(Probe::intervals(analyzer).empty());

  report(analyzer, T0 + 5ms);
  EXPECT_EQ(Probe::intervals(analyzer), std::vector<float>{1000.0f});
}

TEST_F(PollingAnalyzerTest, IntervalRangeEndsAreInclusive) {
  TimePoint t = T0;
  report(analyzer, t);
  for (auto gap : {0us, 99us, 50000us, 50001us}) report(analyzer, t += gap);

  EXPECT_EQ(Probe::intervals(analyzer), (std::vector<float>{0.0f, 99.0f, 50000.0f}));
  EXPECT_EQ(Probe::windowSize(analyzer), 5u);  // rejected intervals still enter the window
}

TEST_F(PollingAnalyzerTest, GapAcrossAPauseIsMeasuredFromTheLastReport) {
  report(analyzer, T0);
  report(analyzer, T0 + 40ms);   // short pause: kept
  report(analyzer, T0 + 100ms);  // 60 ms pause: too long to keep
  EXPECT_EQ(Probe::intervals(analyzer), std::vector<float>{40000.0f});
}

TEST_F(PollingAnalyzerTest, IntervalBufferKeepsTheNewest4096) {
  TimePoint t = T0;
  report(analyzer, t);
  // Intervals 100, 101, ... us so the survivors can be identified.
  for (int i = 0; i < 4097; ++i) report(analyzer, t += std::chrono::microseconds(100 + i));

  const auto kept = Probe::intervals(analyzer);
  ASSERT_EQ(kept.size(), PollingAnalyzer::kIntervalCapacity);
  EXPECT_EQ(kept.front(), 101.0f);
  EXPECT_EQ(kept.back(), 4196.0f);
}

// --- rate window -----------------------------------------------------------

TEST_F(PollingAnalyzerTest, RateNeedsSixteenTimestampsSpanning450ms) {
  {
    PollingAnalyzer a(&FakeClock::now);
    const TimePoint last = reports(a, T0, 15, 35ms);  // 15 reports over 490 ms
    updateAt(a, last);
    EXPECT_EQ(a.getStats().currentHz, 0.0f);
  }
  {
    PollingAnalyzer a(&FakeClock::now);
    const TimePoint last = reports(a, T0, 15, 30ms);
    report(a, last + 29ms);  // 16 reports over 449 ms
    updateAt(a, last + 29ms);
    EXPECT_EQ(a.getStats().currentHz, 0.0f);
  }
  {
    PollingAnalyzer a(&FakeClock::now);
    const TimePoint last = reports(a, T0, 16, 30ms);  // 16 reports over 450 ms
    updateAt(a, last);
    EXPECT_FLOAT_EQ(a.getStats().currentHz, 15.0f / 0.45f);
  }
}

TEST_F(PollingAnalyzerTest, RateStaysZeroAt25Hz) {
  TimePoint t = T0;
  for (int i = 0; i < 50; ++i, t += 40ms) {
    report(analyzer, t);
    analyzer.update();
    ASSERT_EQ(analyzer.getStats().currentHz, 0.0f) << "report " << i;
  }
}

TEST_F(PollingAnalyzerTest, RateKeepsItsValueWhileTheWindowIsTooShort) {
  const TimePoint last = reports(analyzer, T0, 16, 30ms);
  updateAt(analyzer, last);
  const float rate = analyzer.getStats().currentHz;
  ASSERT_GT(rate, 0.0f);

  updateAt(analyzer, last + 200ms);  // still active, window down to 11 timestamps
  EXPECT_EQ(Probe::windowSize(analyzer), 11u);
  EXPECT_EQ(analyzer.getStats().currentHz, rate);
}

TEST_F(PollingAnalyzerTest, WindowKeepsTimestampsExactly500msOld) {
  reports(analyzer, T0, 5, 100ms);  // 0 .. 400 ms
  updateAt(analyzer, T0 + 500ms);
  EXPECT_EQ(Probe::windowSize(analyzer), 5u);
  updateAt(analyzer, T0 + 500ms + 1ns);
  EXPECT_EQ(Probe::windowSize(analyzer), 4u);
}

TEST_F(PollingAnalyzerTest, GoesIdle250msAfterTheLastReport) {
  const TimePoint last = reports(analyzer, T0, 16, 30ms);  // ends 450 ms after start: counted
  updateAt(analyzer, last);
  const PollingStats running = analyzer.getStats();
  ASSERT_TRUE(running.statsValid);

  updateAt(analyzer, last + 250ms);
  EXPECT_EQ(analyzer.getStats().currentHz, running.currentHz);

  updateAt(analyzer, last + 250ms + 1ns);
  const PollingStats idle = analyzer.getStats();
  EXPECT_EQ(idle.currentHz, 0.0f);
  EXPECT_EQ(Probe::windowSize(analyzer), 0u);
  EXPECT_EQ(idle.maxHz, running.maxHz);
  EXPECT_EQ(idle.minHz, running.minHz);
  EXPECT_EQ(idle.avgHz, running.avgHz);
  EXPECT_TRUE(idle.statsValid);
  EXPECT_EQ(Probe::intervals(analyzer).size(), 15u);
}

// --- warm-up and running statistics ------------------------------------------

TEST_F(PollingAnalyzerTest, RatesCountOnlyFrom400msAfterStart) {
  // 16 reports 30 ms apart ending 399 ms after construction.
  FakeClock::set(T0 + 399ms);
  for (int i = 15; i >= 0; --i) analyzer.addTimestamp(T0 + 399ms - i * 30ms);
  analyzer.update();
  PollingStats s = analyzer.getStats();
  EXPECT_FLOAT_EQ(s.currentHz, 15.0f / 0.45f);
  EXPECT_FALSE(s.statsValid);
  EXPECT_EQ(s.maxHz, 0.0f);
  EXPECT_EQ(s.minHz, 0.0f);  // never the internal "no minimum yet"
  EXPECT_EQ(s.avgHz, 0.0f);

  report(analyzer, T0 + 400ms);  // 17 reports over 451 ms
  analyzer.update();
  s = analyzer.getStats();
  EXPECT_TRUE(s.statsValid);
  EXPECT_FLOAT_EQ(s.currentHz, 16.0f / 0.451f);
  EXPECT_EQ(s.maxHz, s.currentHz);
  EXPECT_EQ(s.minHz, s.currentHz);
  EXPECT_EQ(s.avgHz, s.currentHz);
}

TEST_F(PollingAnalyzerTest, WarmUpRestartsOnReset) {
  const TimePoint r = T0 + 10s;
  FakeClock::set(r);
  analyzer.reset();

  FakeClock::set(r + 399ms);
  for (int i = 15; i >= 0; --i) analyzer.addTimestamp(r + 399ms - i * 30ms);
  analyzer.update();
  EXPECT_FALSE(analyzer.getStats().statsValid);

  report(analyzer, r + 400ms);
  analyzer.update();
  EXPECT_TRUE(analyzer.getStats().statsValid);
}

TEST_F(PollingAnalyzerTest, MaxMinAndAverageFollowAcceptedRates) {
  // 1000 Hz for a second, then 500 Hz: each update after warm-up is accepted.
  TimePoint t = reports(analyzer, T0, 1001, 1ms);
  updateAt(analyzer, t);
  const float fast = analyzer.getStats().currentHz;
  t = reports(analyzer, t + 2ms, 501, 2ms);
  updateAt(analyzer, t);
  const float slow = analyzer.getStats().currentHz;

  const PollingStats s = analyzer.getStats();
  EXPECT_FLOAT_EQ(fast, 1000.0f);
  EXPECT_FLOAT_EQ(slow, 500.0f);
  EXPECT_EQ(s.maxHz, fast);
  EXPECT_EQ(s.minHz, slow);
  EXPECT_EQ(s.avgHz, static_cast<float>((double{fast} + double{slow}) / 2.0));
}

// --- history -----------------------------------------------------------------

TEST_F(PollingAnalyzerTest, HistorySamplesAtMostEvery50ms) {
  const std::pair<std::chrono::milliseconds, std::size_t> steps[] = {
      {49ms, 0}, {50ms, 1}, {99ms, 1}, {100ms, 2}, {100ms, 2}, {200ms, 3}};
  for (const auto& [at, samples] : steps) {
    updateAt(analyzer, T0 + at);
    EXPECT_EQ(analyzer.getStats().history.size(), samples) << at.count() << " ms";
  }
  // Idle: the samples are zeros.
  EXPECT_EQ(analyzer.getStats().history, std::vector<float>(3, 0.0f));
}

TEST_F(PollingAnalyzerTest, HistoryKeepsTheNewest600Samples) {
  // Samples start with the rate and fall to zero once the reports stop.
  TimePoint t = reports(analyzer, T0, 16, 30ms);
  updateAt(analyzer, t);
  for (int i = 1; i < 600; ++i) updateAt(analyzer, t += 50ms);
  const std::vector<float> full = analyzer.getStats().history;
  ASSERT_EQ(full.size(), 600u);
  ASSERT_GT(full.front(), 0.0f);

  updateAt(analyzer, t += 50ms);
  std::vector<float> expected(full.begin() + 1, full.end());
  expected.push_back(0.0f);
  EXPECT_EQ(analyzer.getStats().history, expected);
}

// --- reset -------------------------------------------------------------------

TEST_F(PollingAnalyzerTest, ResetClearsTheTest) {
  const TimePoint last = reports(analyzer, T0, 1001, 1ms);
  updateAt(analyzer, last);
  const PollingStats before = analyzer.getStats();
  ASSERT_TRUE(before.statsValid);
  ASSERT_EQ(before.histogram.size(), PollingAnalyzer::kHistogramBins);

  analyzer.reset();
  expectSameStats(analyzer.getStats(), PollingStats{});
  EXPECT_EQ(Probe::windowSize(analyzer), 0u);
  EXPECT_TRUE(Probe::intervals(analyzer).empty());

  // The first report after a reset has nothing to be measured against, and a
  // few intervals are not enough for diagnostics.
  TimePoint t = reports(analyzer, last + 1ms, 7, 1ms);
  EXPECT_EQ(Probe::intervals(analyzer).size(), 6u);
  updateAt(analyzer, t + 200ms);
  const PollingStats after = analyzer.getStats();
  EXPECT_EQ(after.binWidthUs, 0.0f);
  EXPECT_TRUE(after.histogram.empty());
}

// --- bounded rate window without update() ------------------------------------

TEST_F(PollingAnalyzerTest, WindowStaysBoundedWhenFramesSkipUpdate) {
  // A hidden window skips update() for a minute while an 8000 Hz mouse reports.
  // A second analyzer, built at the same instant, sees only the final 0.6 s:
  // update() alone would trim that one to the same window, so every figure
  // must match.
  PollingAnalyzer finalStretch(&FakeClock::now);
  constexpr auto kPeriod = 125us;
  constexpr int kReports = 8000 * 60;
  const TimePoint last = T0 + (kReports - 1) * kPeriod;

  std::size_t largest = 0;
  TimePoint t = T0;
  for (int i = 0; i < kReports; ++i, t += kPeriod) {
    report(analyzer, t);
    if (t >= last - 600ms) finalStretch.addTimestamp(t);
    if (i % 1000 == 0) largest = std::max(largest, Probe::windowSize(analyzer));
  }
  EXPECT_LE(largest, 4001u);
  EXPECT_EQ(Probe::windowSize(analyzer), 4001u);
  EXPECT_EQ(Probe::window(analyzer).front(), last - 500ms);  // exactly 500 ms old stays

  updateAt(analyzer, last);
  finalStretch.update();
  const PollingStats s = analyzer.getStats();
  EXPECT_FLOAT_EQ(s.currentHz, 8000.0f);
  EXPECT_TRUE(s.statsValid);
  EXPECT_EQ(s.baselineUs, 125.0f);
  EXPECT_EQ(s.histogram.size(), PollingAnalyzer::kHistogramBins);
  expectSameStats(s, finalStretch.getStats());
}

// --- threads -------------------------------------------------------------------

TEST_F(PollingAnalyzerTest, ReportsFromAnotherThreadWhileFramesRun) {
  constexpr int kReports = 200000;  // 25 s at 8000 Hz
  std::atomic<bool> framesRunning{false};
  std::atomic<bool> done{false};
  std::thread hid([&] {
    while (!framesRunning) std::this_thread::yield();
    for (int i = 0; i < kReports; ++i) {
      FakeClock::advance(125us);
      analyzer.addTimestamp(FakeClock::now());
    }
    done = true;
  });

  int badSnapshots = 0;
  do {
    analyzer.update();
    const PollingStats s = analyzer.getStats();
    framesRunning = true;
    const bool sane =
        s.history.size() <= PollingAnalyzer::kHistoryCapacity &&
        (s.histogram.empty() || s.histogram.size() == PollingAnalyzer::kHistogramBins) &&
        s.stability >= 0.0f && s.stability <= 1.0f;
    if (!sane) ++badSnapshots;
  } while (!done);
  hid.join();
  EXPECT_EQ(badSnapshots, 0);

  analyzer.update();
  EXPECT_FLOAT_EQ(analyzer.getStats().currentHz, 8000.0f);
  EXPECT_EQ(Probe::intervals(analyzer), std::vector<float>(4096, 125.0f));
}

}  // namespace

// --- kernel drops and the longest interval -----------------------------------

// 1000 Hz for 1 s, the kernel loses 20 reports, 1000 Hz again: the gap is
// counted as lost reports, never as an interval or an anomaly.
TEST_F(PollingAnalyzerTest, KernelDropStartsANewChainAndCountsTheLostReports) {
  const TimePoint last = reports(analyzer, T0, 1000, 1ms);
  updateAt(analyzer, last);
  analyzer.noteKernelDrop();
  const TimePoint resume = last + 21ms;  // 20 reports lost
  updateAt(analyzer, reports(analyzer, resume, 1000, 1ms));

  const PollingStats s = analyzer.getStats();
  EXPECT_EQ(Probe::intervals(analyzer), std::vector<float>(1998, 1000.0f));
  EXPECT_EQ(s.anomalyCount, 0);
  EXPECT_EQ(s.kernelDrops, 1);
  EXPECT_EQ(s.kernelDroppedReports, 20);
  EXPECT_FLOAT_EQ(s.longestIntervalUs, 1000.0f);
  EXPECT_EQ(s.reportCount, 2000);
}

TEST_F(PollingAnalyzerTest, LongestIntervalShowsAStallButNotAMouseAtRest) {
  TimePoint t = reports(analyzer, T0, 100, 1ms);
  t = reports(analyzer, t + 30ms, 100, 1ms);  // a 30 ms stall
  EXPECT_FLOAT_EQ(analyzer.getStats().longestIntervalUs, 30000.0f);
  reports(analyzer, t + 2s, 10, 1ms);  // the mouse rested for 2 s
  EXPECT_FLOAT_EQ(analyzer.getStats().longestIntervalUs, 30000.0f);

  analyzer.noteKernelDrop();
  analyzer.reset();
  const PollingStats s = analyzer.getStats();
  EXPECT_EQ(s.longestIntervalUs, 0.0f);
  EXPECT_EQ(s.kernelDrops, 0);
  EXPECT_EQ(s.kernelDroppedReports, 0);
  EXPECT_EQ(s.reportCount, 0);
}

TEST_F(PollingAnalyzerTest, DropBeforeAnyReportCostsNoEstimate) {
  analyzer.noteKernelDrop();
  reports(analyzer, T0, 10, 1ms);
  const PollingStats s = analyzer.getStats();
  EXPECT_EQ(s.kernelDrops, 1);
  EXPECT_EQ(s.kernelDroppedReports, 0);
  EXPECT_EQ(Probe::intervals(analyzer).size(), 9u);
}

// --- a mouse that sends nothing ------------------------------------------------

TEST_F(PollingAnalyzerTest, QuietAfter250msWithoutReportsCountedFromTheLastReportOrTheReset) {
  updateAt(analyzer, T0 + 250ms);
  EXPECT_FALSE(analyzer.getStats().mouseQuiet);
  updateAt(analyzer, T0 + 250ms + 1ns);
  EXPECT_TRUE(analyzer.getStats().mouseQuiet);  // nothing since the start

  const TimePoint last = reports(analyzer, T0 + 300ms, 20, 1ms);
  EXPECT_TRUE(analyzer.getStats().mouseQuiet);  // until the next frame looks
  updateAt(analyzer, last);
  EXPECT_FALSE(analyzer.getStats().mouseQuiet);
  updateAt(analyzer, last + 250ms);
  EXPECT_FALSE(analyzer.getStats().mouseQuiet);
  updateAt(analyzer, last + 250ms + 1ns);
  EXPECT_TRUE(analyzer.getStats().mouseQuiet);

  FakeClock::set(last + 1s);
  analyzer.reset();  // the wait starts again
  EXPECT_FALSE(analyzer.getStats().mouseQuiet);
  updateAt(analyzer, last + 1s + 200ms);
  EXPECT_FALSE(analyzer.getStats().mouseQuiet);
  updateAt(analyzer, last + 1s + 251ms);
  EXPECT_TRUE(analyzer.getStats().mouseQuiet);
}
