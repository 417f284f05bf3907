// Repeat runs of one generated host model must not be called different in a
// way that matters, and a real difference must be found in every pair: each
// row a host model for both runs (or a changed one for the second), a
// figure, and what `compare` must say of it over every pair of runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "analysis/RunComparison.h"
#include "analysis/WholeTestAnalysis.h"

namespace {

namespace rc = runcomparison;
namespace sc = samplecomparison;

// A mouse on its own clock, and a host that stamps each report late by a
// delay of its own, loses slots now and then, stalls, or runs in busy and
// idle phases.
struct HostModel {
  double rateHz = 8000;
  double delayUs = 20;    // uniform 0..delayUs
  double wanderUs = 0;    // a slow part of the delay, wandering over about 0.1 s
  double stallsPerS = 0;  // stalls of 1 to 3 stallMs: the mouse's slots in them are lost
  double stallMs = 1;
  double phaseS = 0;        // busy and idle phases of about this long (0: none)
  double missShare = 2e-4;  // slots lost at random (busy phases: 3 times as many,
                            // and delays half as long again)
  double tailShare = 0;     // reports held back a further tailUs
  double tailUs = 0;
};

struct GeneratedRun {
  std::vector<int64_t> stamps;
  WholeTestFigures figures;
  sc::IntervalBlocks blocks;
  rc::RunFigures of() const {
    rc::RunFigures f;
    f.intervals = static_cast<double>(figures.intervals);
    f.movingSeconds = figures.movingSeconds;
    f.reports = static_cast<double>(figures.reports);
    if (figures.missedSlots) f.missedSlots = static_cast<double>(*figures.missedSlots);
    f.droppedReports = static_cast<double>(figures.kernelDroppedReports);
    f.periodUs = figures.grid.periodUs;
    f.yardstickHz = 8000;
    f.blocks = &blocks;
    return f;
  }
};

GeneratedRun makeRun(const HostModel& m, double seconds, uint32_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::exponential_distribution<double> phase(m.phaseS > 0 ? 1.0 / m.phaseS : 1.0);
  const double periodNs = 1e9 / m.rateHz;
  double stallEnd = -1, nextSwitch = m.phaseS > 0 ? phase(rng) * 1e9 : 1e300, slow = 0;
  const double keep = 1 - periodNs / 1e8;
  bool busy = false;
  GeneratedRun r;
  for (int64_t k = 0; k < static_cast<int64_t>(seconds * m.rateHz); ++k) {
    const double t = static_cast<double>(k) * periodNs;
    for (; t >= nextSwitch; nextSwitch += phase(rng) * 1e9) busy = !busy;
    if (t >= stallEnd && u(rng) < m.stallsPerS * periodNs / 1e9)
      stallEnd = t + (1 + 2 * u(rng)) * m.stallMs * 1e6;
    if (t < stallEnd || u(rng) < m.missShare * (busy ? 3 : 1)) continue;
    slow = keep * slow + std::sqrt(1 - keep * keep) * m.wanderUs * normal(rng);
    double late = (u(rng) * m.delayUs * (busy ? 1.5 : 1) + std::abs(slow)) * 1000;
    if (u(rng) < m.tailShare) late += m.tailUs * 1000;
    const auto ns = static_cast<int64_t>(1e9 + t + late);
    r.stamps.push_back(r.stamps.empty() ? ns : std::max(ns, r.stamps.back() + 1000));
  }
  r.figures = analyzeWholeTest(StampSeries::fromVectors(r.stamps));
  r.blocks = sc::intervalBlocks(r.stamps, {}, 250'000'000, r.figures.grid.periodUs);
  return r;
}

// Nearest-rank percentile of a run's generated intervals: the truth a row's
// change is checked against.
double truePercentile(const GeneratedRun& r, double p) {
  std::vector<int64_t> d;
  for (std::size_t i = 1; i < r.stamps.size(); ++i) d.push_back(r.stamps[i] - r.stamps[i - 1]);
  std::sort(d.begin(), d.end());
  return d[static_cast<std::size_t>(std::ceil(p * static_cast<double>(d.size()))) - 1] / 1000.0;
}

enum class Expect { RarelyMatters, AlwaysMatters, NeverSaid };

struct Row {
  const char* name;
  HostModel first, second;
  rc::Figure figure;
  Expect expect;
  int runs;  // runs per side
  double seconds;
  double trueDifference = 0;  // the second model's change of the figure; checked when set
};

const HostModel kIndependent{};
const HostModel kAutocorrelated{.wanderUs = 20};
const HostModel kStalls{.stallsPerS = 0.5};
const HostModel kPhases{.phaseS = 2};
const HostModel kTail{.tailShare = 0.02, .tailUs = 38};
const HostModel k7840Hz{.rateHz = 7840};
HostModel kRate(double hz) { return {.rateHz = hz}; }
HostModel kMissing(double share) { return {.delayUs = 20, .missShare = share}; }
HostModel kPeriodPlus(double us) { return {.rateHz = 1e6 / (125 + us)}; }

using F = rc::Figure;

class RunComparisonTest : public ::testing::TestWithParam<Row> {};

TEST_P(RunComparisonTest, SaysWhatTheRunsShow) {
  const Row& row = GetParam();
  const bool repeats = row.expect == Expect::RarelyMatters;
  std::vector<GeneratedRun> first, second;
  for (int i = 0; i < row.runs; ++i) {
    first.push_back(makeRun(row.first, row.seconds, 100 + i));
    if (!repeats) second.push_back(makeRun(row.second, row.seconds, 200 + i));
  }
  // Per figure: pairs, pairs where it matters, pairs where it was beyond the margin.
  int pairs[7] = {}, matters[7] = {}, said[7] = {};
  const auto judge = [&](const GeneratedRun& a, const GeneratedRun& b) {
    for (const rc::FigureVerdict& v : rc::compareRuns(a.of(), b.of())) {
      const auto f = static_cast<std::size_t>(v.figure);
      ++pairs[f];
      matters[f] += v.matters;
      said[f] += v.beyondMargin;
      // Repeats on a host with slow phases, and runs of a few blocks, may be too short to tell.
      EXPECT_TRUE(v.comparable() &&
                  (v.decidable || row.expect == Expect::RarelyMatters || row.seconds < 5))
          << rc::figureKey(v.figure);
      const double p = v.figure == F::P50 ? 0.5 : v.figure == F::P99 ? 0.99 : 0;
      if (p > 0) {
        EXPECT_NEAR(v.difference, truePercentile(b, p) - truePercentile(a, p), 0.11);
      }
      if (v.figure == row.figure && row.trueDifference != 0) {
        EXPECT_NEAR(v.difference, row.trueDifference, std::abs(row.trueDifference) * 0.25);
      }
    }
  };
  for (int i = 0; i < row.runs; ++i) {
    for (int j = repeats ? i + 1 : 0; j < row.runs; ++j)
      judge(first[i], repeats ? first[j] : second[j]);
  }
  const auto f = static_cast<std::size_t>(row.figure);
  switch (row.expect) {
    case Expect::RarelyMatters:
      for (std::size_t k = 0; k < 7; ++k) {
        EXPECT_LE(matters[k], pairs[k] / 20)
            << rc::figureKey(static_cast<F>(k)) << ": " << matters[k] << " of " << pairs[k];
      }
      break;
    case Expect::AlwaysMatters:
      EXPECT_EQ(matters[f], pairs[f]);
      break;
    case Expect::NeverSaid:
      EXPECT_EQ(said[f], 0);
      EXPECT_EQ(matters[f], 0);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, RunComparisonTest,
    ::testing::Values(
        // Repeat runs of one setup, 20 s at 8000 Hz: each figure matters in at most one
        // pair in twenty.
        Row{"independent", kIndependent, {}, F::MovingRate, Expect::RarelyMatters, 8, 20},
        Row{"autocorrelated", kAutocorrelated, {}, F::MovingRate, Expect::RarelyMatters, 8, 20},
        Row{"stall_bursts", kStalls, {}, F::MovingRate, Expect::RarelyMatters, 8, 20},
        Row{"busy_idle_phases", kPhases, {}, F::MovingRate, Expect::RarelyMatters, 8, 20},
        // Phases longer than a block make neighbouring blocks alike (10 s runs, 28 pairs).
        Row{"phases_3_to_4_s", {.phaseS = 3.5}, {}, F::P99, Expect::RarelyMatters, 8, 10},
        // Missed slots in bursts of 80 to 240: the counts' spread from second to second is
        // the noise, not that of independent slots.
        Row{"missed_in_bursts",
            {.stallsPerS = 0.2, .stallMs = 10},
            {},
            F::MissedSlots,
            Expect::RarelyMatters,
            8,
            10},
        // Runs of two blocks: too few to permute, so only blocks ten margins apart are told
        // apart; busy phases never make repeats so.
        Row{"short_phases", kPhases, {}, F::P99_9, Expect::RarelyMatters, 8, 2.2},
        Row{"short_1000_against_8000", kIndependent, kRate(1000), F::P50, Expect::AlwaysMatters, 3,
            2.2, 875},
        // What a quiet host must still show in every pair of 10 s runs.
        Row{"rate_4000_against_8000", kIndependent, kRate(4000), F::MovingRate,
            Expect::AlwaysMatters, 3, 10, -4000},
        Row{"lost_polls_5_percent", kIndependent, kMissing(0.05), F::MissedSlots,
            Expect::AlwaysMatters, 3, 10, 52},
        Row{"one_percent_30us_late",
            kIndependent,
            {.tailShare = 0.01, .tailUs = 30},
            F::P99_9,
            Expect::AlwaysMatters,
            3,
            10},
        // A percentile's margin is 5 % of the grid period: 30 µs at 1 kHz is inside it.
        Row{"p99_1khz_inside",
            kRate(1000),
            {.rateHz = 1000, .tailShare = 0.02, .tailUs = 48},
            F::P99,
            Expect::NeverSaid,
            2,
            10,
            30},
        // A real difference, in every pair.
        Row{"p99_later_by_20us", kIndependent, kTail, F::P99, Expect::AlwaysMatters, 3, 30, 20},
        Row{"rate_2_percent_lower", kIndependent, k7840Hz, F::MovingRate, Expect::AlwaysMatters, 3,
            30, -160},
        // Either side of each margin.
        Row{"distance_inside",
            kIndependent,
            {.tailShare = 0.04, .tailUs = 60},
            F::Distribution,
            Expect::NeverSaid,
            2,
            10,
            0.04},
        Row{"distance_outside",
            kIndependent,
            {.tailShare = 0.06, .tailUs = 60},
            F::Distribution,
            Expect::AlwaysMatters,
            2,
            10,
            0.06},
        Row{"p50_inside", kIndependent, kPeriodPlus(8), F::P50, Expect::NeverSaid, 2, 10, 8},
        Row{"p50_outside", kIndependent, kPeriodPlus(12), F::P50, Expect::AlwaysMatters, 2, 10, 12},
        Row{"rate_inside", kIndependent, kRate(7930), F::MovingRate, Expect::NeverSaid, 2, 10, -70},
        Row{"rate_outside", kIndependent, kRate(7910), F::MovingRate, Expect::AlwaysMatters, 2, 10,
            -90},
        Row{"missed_inside", kMissing(1e-3), kMissing(1.8e-3), F::MissedSlots, Expect::NeverSaid, 2,
            30, 0.8},
        Row{"missed_outside", kMissing(1e-3), kMissing(2.5e-3), F::MissedSlots,
            Expect::AlwaysMatters, 2, 30, 1.5},
        Row{"missed_not_twice", kMissing(2e-3), kMissing(3.5e-3), F::MissedSlots, Expect::NeverSaid,
            2, 30, 1.5}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
