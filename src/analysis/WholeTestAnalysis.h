#pragma once

#include <cstdint>
#include <optional>
#include <string>
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

enum class GridSource { Configured, Estimated };         // JSON "configured" | "estimated"
enum class GridStatus { Ok, Batched, Ambiguous, None };  // JSON "ok" | "batched" | ...

// The slot grid the reports are placed on: its period, where the period came
// from, and whether the reports' slots could be known.
struct GridFigures {
  double periodUs = 0;  // 0 when there is no grid
  GridSource source = GridSource::Estimated;
  GridStatus status = GridStatus::None;
  std::string reason;  // why the slot figures are unknown; "" when they are known
  // A batched link's deliveries (reports handed over together): their
  // period and the reports each carried; 0 unless the status is batched.
  double deliveryPeriodUs = 0;
  double reportsPerDeliveryMean = 0;
  int64_t reportsPerDeliveryMax = 0;
};

// A stretch of the test at one grid period, when the period changed.
struct RateSegment {
  double startS = 0, endS = 0;  // from the test's first report
  double periodUs = 0;
  double movingRateHz = 0;
  int64_t reports = 0;
};

// Delivered over allowed reports per window of moving time (the rate the
// motion allowed: larger-axis counts per second over the count step, up to
// the yardstick); known when some window had motion.
struct DeliveryFigures {
  double median = 0;      // weighted by moving time
  double shareBelow = 0;  // of the moving time, windows below motionrules::kDeliveredShare
  bool known = false;
};

struct WholeTestFigures {
  int64_t reports = 0;
  int64_t intervals = 0;     // intervals between reports that are not rests
  int64_t equalStamps = 0;   // of those, intervals of zero: reports delivered together
  double movingSeconds = 0;  // sum of those intervals
  int64_t rests = 0;         // gaps longer than the activity timeout
  // intervals / movingSeconds; none when so little moving time that one
  // delivery decides it (movingRateReason says why)
  std::optional<double> movingRateHz;
  std::string movingRateReason;
  IntervalSummary intervalUs;  // of the intervals that are not zero
  int64_t anomalies = 0;       // the live analyzer's anomaly rule on every interval
  double anomalyShare = 0;
  GridFigures grid;
  // Slot figures: none when the grid's slots cannot be known (grid.reason).
  std::optional<int64_t> missedSlots;
  std::optional<int64_t> idleSlots;  // also none without motion data
  bool missedFromMotion = false;     // missed slots told from idle ones by the reports' motion
  std::optional<LatenessSummary> latenessUs;
  int64_t kernelDrops = 0;
  int64_t kernelDroppedReports = 0;
  std::vector<RateSegment> segments;  // empty when the period held through the test
  MotionFigures motion;
  // Against a yardstick (judgeCapability): the rate delivered where the
  // motion allowed the full yardstick, none when those windows add up to
  // less than motionrules::kMinCapabilitySeconds; and the delivery.
  std::optional<double> capabilityHz;
  DeliveryFigures delivery;
  int countStep = 1;       // the mouse's usual smallest count: 2 for interpolated DPI
  double yardstickHz = 0;  // what capabilityHz and delivery were judged against
};

struct WholeTestOptions {
  double configuredPeriodUs = 0;  // the interval the host polls at (exact); 0 = unknown: estimate
};

WholeTestFigures analyzeWholeTest(const StampSeries& series, const WholeTestOptions& options = {});

// Fills the capability, the delivery and the count step of `figures`
// against `yardstickHz` (nothing when it is 0). Pure; any thread.
void judgeCapability(const StampSeries& series, double yardstickHz, WholeTestFigures& figures);
