#include "analysis/RunComparison.h"

#include <algorithm>
#include <cmath>

namespace runcomparison {

namespace sc = samplecomparison;

namespace {

void settle(FigureVerdict& v, bool beyondMargin) {
  v.beyondMargin = beyondMargin;
  v.distinguishable = v.decidable ? v.pValue <= sc::kLevel : v.separated;
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
  v.unitBlocks = t.unitBlocks;
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
  v.unitBlocks = t.unitBlocks;
  v.decidable = t.decidable;
  v.pValue = t.pValue;
  const double low = std::min(v.first, v.other), high = std::max(v.first, v.other);
  settle(v, std::abs(v.difference) >= v.margin && high >= kCountMarginFactor * low);
  return v;
}

void intervalVerdicts(const RunFigures& a, const RunFigures& b, std::vector<FigureVerdict>& out) {
  const bool aLacks = a.blocks == nullptr || a.blocks->steps.empty();
  const bool bLacks = b.blocks == nullptr || b.blocks->steps.empty();
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
      v.unitBlocks = t.unitBlocks;
      v.first = x.first;
      v.other = x.second;
      v.difference = x.difference;
      v.pValue = x.pValue;
      v.margin = j == 0 ? kDistanceMargin : percentileMargin;
      v.separated = j > 0 && !t.decidable && t.separation[j - 1] >= kSeparatedMargins * v.margin;
      settle(v, std::abs(v.difference) >= v.margin);
    }
    out.push_back(v);
  }
}

// The regularized incomplete beta function I_x(a, b), by its continued
// fraction (Lentz), for the t distribution's tail.
double incompleteBeta(double x, double a, double b) {
  if (x <= 0) return 0;
  if (x >= 1) return 1;
  if (x > (a + 1) / (a + b + 2)) return 1 - incompleteBeta(1 - x, b, a);
  const double front = std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) +
                                a * std::log(x) + b * std::log(1 - x)) /
                       a;
  constexpr double kTiny = 1e-300;
  double c = 1, d = 1 - (a + b) * x / (a + 1);
  d = 1 / (std::abs(d) < kTiny ? kTiny : d);
  double f = d;
  for (int m = 1; m <= 200; ++m) {
    for (int half = 0; half < 2; ++half) {
      const double num = half == 0 ? m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m))
                                   : -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1));
      d = 1 + num * d;
      d = 1 / (std::abs(d) < kTiny ? kTiny : d);
      c = 1 + num / c;
      if (std::abs(c) < kTiny) c = kTiny;
      f *= c * d;
    }
    if (std::abs(c * d - 1) < 1e-12) break;
  }
  return front * f;
}

struct Moments {
  double n = 0, mean = 0, variance = 0;
};
Moments momentsOf(const std::vector<double>& x) {
  Moments m;
  m.n = static_cast<double>(x.size());
  if (x.empty()) return m;
  for (double v : x) m.mean += v / m.n;
  for (double v : x) m.variance += (v - m.mean) * (v - m.mean) / std::max(1.0, m.n - 1);
  return m;
}

// One figure of each run of a setup; runs without it are left out.
std::vector<double> valuesOf(const std::vector<RunFigures>& runs, Figure figure) {
  std::vector<double> out;
  for (const RunFigures& r : runs) {
    std::optional<double> v;
    switch (figure) {
      case Figure::MovingRate:
        if (r.intervals > 0 && r.movingSeconds > 0) v = r.intervals / r.movingSeconds;
        break;
      case Figure::MissedSlots:
      case Figure::DroppedReports: {
        const auto count = figure == Figure::MissedSlots ? r.missedSlots : r.droppedReports;
        if (count && r.reports > 0) v = 1000.0 * *count / r.reports;
        break;
      }
      case Figure::P50:
        v = r.p50;
        break;
      case Figure::P99:
        v = r.p99;
        break;
      case Figure::P99_9:
        v = r.p99_9;
        break;
      case Figure::Distribution:
        break;
    }
    if (v) out.push_back(*v);
  }
  return out;
}

}  // namespace

double welchP(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() < 2 || b.size() < 2) return 1;
  const Moments x = momentsOf(a), y = momentsOf(b);
  const double va = x.variance / x.n, vb = y.variance / y.n;
  if (va + vb <= 0) return x.mean == y.mean ? 1 : 0;
  const double t = (y.mean - x.mean) / std::sqrt(va + vb);
  const double df = (va + vb) * (va + vb) / (va * va / (x.n - 1) + vb * vb / (y.n - 1));
  return incompleteBeta(df / (df + t * t), df / 2, 0.5);
}

std::vector<FigureVerdict> compareSetups(const std::vector<RunFigures>& first,
                                         const std::vector<RunFigures>& other) {
  std::vector<FigureVerdict> out;
  const RunFigures& a = first.front();
  const double period = a.periodUs > 0 ? a.periodUs : other.front().periodUs;
  for (const Figure figure : {Figure::MovingRate, Figure::MissedSlots, Figure::DroppedReports,
                              Figure::P50, Figure::P99, Figure::P99_9}) {
    FigureVerdict v;
    v.figure = figure;
    const std::vector<double> x = valuesOf(first, figure), y = valuesOf(other, figure);
    v.firstLacks = x.empty();
    v.otherLacks = y.empty();
    if (!v.comparable()) {
      out.push_back(v);
      continue;
    }
    v.first = momentsOf(x).mean;
    v.other = momentsOf(y).mean;
    v.difference = v.other - v.first;
    v.decidable = x.size() >= 2 && y.size() >= 2;
    v.pValue = welchP(x, y);
    bool beyond = false;
    if (figure == Figure::MovingRate) {
      v.margin = rateMargin(a, other.front());
      beyond = std::abs(v.difference) >= v.margin;
    } else if (figure == Figure::MissedSlots || figure == Figure::DroppedReports) {
      v.margin = 1000.0 * kCountMarginPerReport;
      beyond = std::abs(v.difference) >= v.margin &&
               std::max(v.first, v.other) >= kCountMarginFactor * std::min(v.first, v.other);
    } else {
      v.margin = std::max(kPercentileMarginUs, kPercentileMarginOfPeriod * period);
      beyond = std::abs(v.difference) >= v.margin;
    }
    settle(v, beyond);
    out.push_back(v);
  }
  return out;
}

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
