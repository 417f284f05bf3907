#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <mutex>
#include <vector>

#include "analysis/PollingStats.h"

// Turns the timestamps of a mouse's input reports into the current report
// rate, its running statistics, a 30-second history and the interval
// diagnostics. The HID thread calls addTimestamp(); the main thread calls
// update() once per frame, getStats() and reset().
class PollingAnalyzer {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  // The clock the analyzer reads; tests pass one they control.
  using NowFn = TimePoint (*)();

  static constexpr std::size_t kHistoryCapacity = 600;    // samples, 50 ms apart
  static constexpr std::size_t kIntervalCapacity = 4096;  // newest accepted intervals
  static constexpr std::size_t kHistogramBins = 25;

  explicit PollingAnalyzer(NowFn now = &std::chrono::steady_clock::now);
  ~PollingAnalyzer();

  PollingAnalyzer(const PollingAnalyzer&) = delete;
  PollingAnalyzer& operator=(const PollingAnalyzer&) = delete;

  // Records one report; called on the thread that receives reports.
  void addTimestamp(TimePoint t);
  // The kernel lost reports of the mouse (its buffer overflowed) after the
  // last addTimestamp(): the next report starts a new chain of intervals, so
  // the gap is counted as lost reports instead of becoming one long interval.
  // Same thread as addTimestamp().
  void noteKernelDrop();
  // Advances the rate window, statistics, history and (at most every 200 ms)
  // the diagnostics. Main thread, once per frame.
  void update();
  // Recomputes the diagnostics now, e.g. once a test has ended, so they
  // include its last reports. Main thread.
  void refreshDiagnostics();
  // Clears the running test. Main thread.
  void reset();
  PollingStats getStats() const;

 private:
  friend struct PollingAnalyzerProbe;  // white-box access for tests and benchmarks

  void closeDropGapLocked(TimePoint t);
  void noteIntervalLocked(TimePoint t, bool betweenKernelStamps);

  // Works on `scratch` without the lock; locks only to publish.
  void recomputeDiagnostics();
  void clearDiagnosticsLocked();

  NowFn nowFn;

  // Main thread only: a copy of intervalsUs that the diagnostics reorder.
  std::vector<float> scratch;

  mutable std::mutex mutex;          // guards everything below
  std::deque<TimePoint> timestamps;  // rate window, oldest first
  float currentHz = 0.0f;
  float maxHz = 0.0f;
  float minHz = std::numeric_limits<float>::max();
  double rateSum = 0.0;
  int32_t rateCount = 0;
  std::vector<float> history;
  TimePoint lastHistorySample;
  TimePoint statsStart;
  bool statsValid = false;
  std::deque<float> intervalsUs;
  TimePoint lastTimestamp{};
  bool hasLastTimestamp = false;
  bool lastIsKernelStamp = false;  // lastTimestamp was not replaced by the clock
  TimePoint lastDiagnostics;
  float baselineUs = 0.0f;
  float baselineHz = 0.0f;
  float jitterUs = 0.0f;
  float stability = 0.0f;
  float binWidthUs = 0.0f;
  int32_t anomalyCount = 0;
  float anomalyRatio = 0.0f;
  std::vector<uint32_t> histogram;  // kHistogramBins counts, or empty
  int64_t reportCount = 0;
  float longestIntervalUs = 0.0f;
  float lastIntervalUs = 0.0f;  // the newest accepted interval
  int64_t kernelDrops = 0;
  int64_t kernelDroppedReports = 0;
  bool dropGapOpen = false;  // a drop since lastTimestamp, waiting for the next report
  bool mouseQuiet = false;   // as of the last update()
};
