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
};

WholeTestFigures analyzeWholeTest(const StampSeries& series);
