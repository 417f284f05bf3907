#pragma once

#include <optional>
#include <vector>

#include "analysis/SampleComparison.h"

// What `compare` says of each figure of a run against the first: whether
// both runs have it, whether the difference is beyond the noise between
// runs (distinguishable), and whether it is also at least the margin a
// user would care about (matters). Margins in docs/result-schema.md. Pure.
namespace runcomparison {

// The distance between the interval distributions.
inline constexpr double kDistanceMargin = 0.05;
// A percentile: at least this many µs, and this share of the grid period.
inline constexpr double kPercentileMarginUs = 10.0;
inline constexpr double kPercentileMarginOfPeriod = 0.05;
// The moving rate: this share of the yardstick.
inline constexpr double kRateMarginOfYardstick = 0.01;
// Missed slots and dropped reports: this many per report more, and this
// many times as many.
inline constexpr double kCountMarginPerReport = 0.001;
inline constexpr double kCountMarginFactor = 2.0;
// Runs too short for a percentile's test still differ when every block of
// one lies this many margins beyond every block of the other: host noise
// moves a block's percentile by a margin or two, never by ten.
inline constexpr double kSeparatedMargins = 10.0;

enum class Figure { MovingRate, MissedSlots, DroppedReports, Distribution, P50, P99, P99_9 };
// "moving_rate_hz", "missed_slots", "kernel_dropped_reports", "distribution", "p50", …
const char* figureKey(Figure figure);

// One run's figures, from its result and its intervals.
struct RunFigures {
  double intervals = 0, movingSeconds = 0, reports = 0;
  std::optional<double> missedSlots, droppedReports;  // null when not known
  double periodUs = 0;                                // the grid's period; 0 when unknown
  double yardstickHz = 0;  // the rate the run is held against; 0 when unknown
  const samplecomparison::IntervalBlocks* blocks = nullptr;  // null without intervals
  // The whole test's interval percentiles (µs); null when the run has none.
  std::optional<double> p50, p99, p99_9;
};

struct FigureVerdict {
  Figure figure = Figure::MovingRate;
  bool firstLacks = false, otherLacks = false;  // the figure is missing there
  bool decidable = false;       // enough of the runs to test (a missing figure never is)
  double first = 0, other = 0;  // Hz, per thousand reports, µs; the distance: 0 and D
  double difference = 0;        // other less first
  double margin = 0;            // in the difference's unit
  double pValue = 1;
  // Blocks per unit the test resampled; 0 when the runs were too short for
  // the dependence between their blocks (then not decidable).
  std::size_t unitBlocks = 1;
  bool beyondMargin = false;  // the difference is at least the margin
  // Not decidable, yet every block of one run lies kSeparatedMargins beyond
  // every block of the other (percentiles only): distinguishable all the same.
  bool separated = false;
  bool distinguishable = false;  // beyond the noise between runs at samplecomparison::kLevel
  bool matters = false;          // distinguishable and beyond the margin
  bool comparable() const { return !firstLacks && !otherLacks; }
};

// Every figure, in the order of Figure. Reads the blocks' intervals: a few
// hundred passes over their bins.
std::vector<FigureVerdict> compareRuns(const RunFigures& first, const RunFigures& other);

// Two setups of two or more runs each: each figure's runs against the other
// setup's, by Welch's t test on the runs' own values, so that the spread
// between repeat runs is the noise. The figures of Figure but the
// distribution; `first` and `other` are the setups' means.
std::vector<FigureVerdict> compareSetups(const std::vector<RunFigures>& first,
                                         const std::vector<RunFigures>& other);

// Welch's t test of two samples' means: two-sided p; 1 with fewer than two
// values on a side, and 0 or 1 when neither side varies.
double welchP(const std::vector<double>& a, const std::vector<double>& b);

}  // namespace runcomparison
