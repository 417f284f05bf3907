#include "analysis/RunComparison.h"

#include <algorithm>
#include <cmath>

namespace runcomparison {

namespace sc = samplecomparison;

namespace {

void settle(FigureVerdict& v, bool beyondMargin) {
  v.beyondMargin = beyondMargin;
  v.distinguishable = v.decidable && v.pValue <= sc::kLevel;
  v.matters = v.distinguishable && beyondMargin;
}

double rateMargin(const RunFigures& first, const RunFigures& other) {
  const double yardstick = first.yardstickHz > 0 ? first.yardstickHz : other.yardstickHz;
  if (yardstick > 0) return kRateMarginOfYardstick * yardstick;
  return first.movingSeconds > 0 ? kRateMarginOfYardstick * first.intervals / first.movingSeconds
                                 : 0.0;
}

FigureVerdict rateVerdict(const RunFigures& a, const RunFigures& b) {
  FigureVerdict v;
  v.figure = Figure::MovingRate;
  v.firstLacks = a.intervals <= 0 || a.movingSeconds <= 0;
  v.otherLacks = b.intervals <= 0 || b.movingSeconds <= 0;
  if (!v.comparable()) return v;
  v.first = a.intervals / a.movingSeconds;
  v.other = b.intervals / b.movingSeconds;
  v.difference = v.other - v.first;
  v.margin = rateMargin(a, b);
  const auto run = [](const RunFigures& r) {
    sc::CountRun c{r.intervals, r.movingSeconds};
    if (r.blocks != nullptr) {
      c.blockCounts = &r.blocks->intervals;
      c.blockExposures = &r.blocks->seconds;
    }
    return c;
  };
  const sc::CountTest t = sc::overdispersedCountTest(run(a), run(b), false);
  v.decidable = t.decidable;
  v.pValue = t.pValue;
  settle(v, std::abs(v.difference) >= v.margin);
  return v;
}

// Missed slots or dropped reports per thousand reports.
FigureVerdict countVerdict(Figure figure, const RunFigures& a, const RunFigures& b) {
  const auto of = [figure](const RunFigures& r) {
    return figure == Figure::MissedSlots ? r.missedSlots : r.droppedReports;
  };
  const auto blocksOf = [figure](const RunFigures& r) {
    return figure == Figure::MissedSlots ? &r.blocks->missed : &r.blocks->dropped;
  };
  FigureVerdict v;
  v.figure = figure;
  v.firstLacks = !of(a) || a.reports <= 0 || a.intervals <= 0;
  v.otherLacks = !of(b) || b.reports <= 0 || b.intervals <= 0;
  if (!v.comparable()) return v;
  v.first = 1000.0 * *of(a) / a.reports;
  v.other = 1000.0 * *of(b) / b.reports;
  v.difference = v.other - v.first;
  v.margin = 1000.0 * kCountMarginPerReport;
  const auto run = [&](const RunFigures& r) {
    sc::CountRun c{*of(r), r.reports};
    // Blocks count slots only when the run's grid period was known.
    if (r.blocks != nullptr && r.periodUs > 0) {
      c.blockCounts = blocksOf(r);
      c.blockExposures = &r.blocks->intervals;
    }
    return c;
  };
  const sc::CountTest t = sc::overdispersedCountTest(run(a), run(b));
  v.decidable = t.decidable;
  v.pValue = t.pValue;
  const double low = std::min(v.first, v.other), high = std::max(v.first, v.other);
  settle(v, std::abs(v.difference) >= v.margin && high >= kCountMarginFactor * low);
  return v;
}

void intervalVerdicts(const RunFigures& a, const RunFigures& b, std::vector<FigureVerdict>& out) {
  const bool aLacks = a.blocks == nullptr || a.blocks->blocks() == 0;
  const bool bLacks = b.blocks == nullptr || b.blocks->blocks() == 0;
  sc::IntervalTests t;
  if (!aLacks && !bLacks) t = sc::permutationTests(*a.blocks, *b.blocks);
  const double period = a.periodUs > 0 ? a.periodUs : b.periodUs;
  const double percentileMargin = std::max(kPercentileMarginUs, kPercentileMarginOfPeriod * period);
  const Figure figures[] = {Figure::Distribution, Figure::P50, Figure::P99, Figure::P99_9};
  for (int j = 0; j < 4; ++j) {
    FigureVerdict v;
    v.figure = figures[j];
    v.firstLacks = aLacks;
    v.otherLacks = bLacks;
    if (v.comparable()) {
      const sc::Tested& x = j == 0 ? t.distance : t.percentile[j - 1];
      v.decidable = t.decidable;
      v.first = x.first;
      v.other = x.second;
      v.difference = x.difference;
      v.pValue = x.pValue;
      v.margin = j == 0 ? kDistanceMargin : percentileMargin;
      settle(v, std::abs(v.difference) >= v.margin);
    }
    out.push_back(v);
  }
}

}  // namespace

const char* figureKey(Figure figure) {
  switch (figure) {
    case Figure::MovingRate:
      return "moving_rate_hz";
    case Figure::MissedSlots:
      return "missed_slots";
    case Figure::DroppedReports:
      return "kernel_dropped_reports";
    case Figure::Distribution:
      return "distribution";
    case Figure::P50:
      return "p50";
    case Figure::P99:
      return "p99";
    case Figure::P99_9:
      break;
  }
  return "p99_9";
}

std::vector<FigureVerdict> compareRuns(const RunFigures& first, const RunFigures& other) {
  std::vector<FigureVerdict> out;
  out.push_back(rateVerdict(first, other));
  out.push_back(countVerdict(Figure::MissedSlots, first, other));
  out.push_back(countVerdict(Figure::DroppedReports, first, other));
  intervalVerdicts(first, other, out);
  return out;
}

}  // namespace runcomparison
