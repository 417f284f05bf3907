#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "analysis/StampSeries.h"

// The figures of a whole test, from every recorded report: no window, no
// sampling. A pure function of the series; any thread. Each figure is
// defined, with its unit, in docs/result-schema.md (`whole_test`).
struct IntervalSummary {
  double p1 = 0, p50 = 0, p99 = 0, p99_9 = 0, max = 0, mean = 0, stddev = 0;  // µs
};

struct LatenessSummary {
  double p50 = 0, p99 = 0, max = 0;  // µs
};

// The rate while the hand moved at speeds of one octave of counts per second.
struct SpeedBand {
  double lowCountsPerS = 0;  // the band is [low, 2 x low)
  int64_t intervals = 0;
  double movingSeconds = 0;
  double rateHz = 0;
};

// What the reports' motion says, over the moving stretches.
struct MotionFigures {
  bool known = false;  // some reports carried decoded motion
  int64_t countsX = 0, countsY = 0;
  double totalCounts = 0;                           // the path's length in counts
  double speedP50 = 0, speedP90 = 0, speedMax = 0;  // counts/s over 50 ms windows
  double singleCountShare = 0;   // of the reports with motion: the larger axis moved one count
  std::vector<SpeedBand> bands;  // ascending; only bands the hand spent time in
};

struct WholeTestFigures {
  int64_t reports = 0;
  int64_t intervals = 0;     // intervals between reports that are not rests
  double movingSeconds = 0;  // sum of those intervals
  int64_t rests = 0;         // gaps longer than the activity timeout
  double movingRateHz = 0;   // intervals / movingSeconds; 0 without any
  IntervalSummary intervalUs;
  int64_t anomalies = 0;  // the live analyzer's anomaly rule on every interval
  double anomalyShare = 0;
  int64_t missedSlots = 0;
  int64_t kernelDrops = 0;
  int64_t kernelDroppedReports = 0;
  LatenessSummary latenessUs;
  MotionFigures motion;
};

WholeTestFigures analyzeWholeTest(const StampSeries& series);
