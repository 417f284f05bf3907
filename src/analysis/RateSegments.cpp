#include "analysis/RateSegments.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "analysis/PollingRules.h"
#include "analysis/ReportGrid.h"

namespace reportgrid {
namespace {

constexpr int64_t kRestNs = std::chrono::nanoseconds(pollingrules::kActivityTimeout).count();
constexpr std::size_t kBlockIntervals = 256;  // the period is told per this many intervals
constexpr std::size_t kMinBlockIntervals = 32;
constexpr double kSameRate = 1.3;  // periods within this ratio are one rate
constexpr int64_t kMinSegmentNs = 1'000'000'000;

struct Run {
  std::size_t first = 0, end = 0;
  double periodNs = 0;
};

bool sameRate(double a, double b) { return std::max(a, b) < kSameRate * std::min(a, b); }

// A block keeps the test's period while a fair share of its intervals lie
// near it; only the others need their own.
bool atPeriod(const std::vector<int32_t>& d, double periodNs) {
  std::size_t near = 0;
  for (int32_t v : d) near += v >= 0.8 * periodNs && v <= 1.2 * periodNs;
  return static_cast<double>(near) >= 0.05 * static_cast<double>(d.size());
}

// A block's period: the mean of its intervals near their lowest tenth.
double blockPeriod(std::vector<int32_t>& d) {
  const auto at = d.begin() + static_cast<std::ptrdiff_t>(d.size() / 10);
  std::nth_element(d.begin(), at, d.end());
  const double low = *at;
  double sum = 0, n = 0;
  for (int32_t v : d) {
    if (v >= 0.7 * low && v <= 1.4 * low) {
      sum += v;
      ++n;
    }
  }
  return n > 0 ? sum / n : low;
}

// A block whose reports carry one count each was slowed by the hand, not
// by the mouse's rate: its intervals tell nothing of the period.
bool tellsPeriod(const StampSeries& s, std::size_t first, std::size_t end) {
  std::vector<int> counts;
  for (std::size_t i = first; i < end; ++i) {
    const ReportMotion m = s.motion(i);
    if (m.known()) counts.push_back(std::max(std::abs(m.dx), std::abs(m.dy)));
  }
  if (counts.empty()) return true;
  const auto mid = counts.begin() + static_cast<std::ptrdiff_t>(counts.size() / 2);
  std::nth_element(counts.begin(), mid, counts.end());
  return *mid >= 2;
}

std::vector<Run> blockRuns(const StampSeries& s, double periodNs) {
  std::vector<Run> runs;
  std::vector<int32_t> d;
  std::size_t start = 0;
  for (std::size_t i = 1; i <= s.size(); ++i) {
    if (i < s.size()) {
      const int64_t v = s[i] - s[i - 1];
      if (v > 0 && v <= kRestNs) d.push_back(static_cast<int32_t>(v));
      if (d.size() < kBlockIntervals) continue;
    }
    const double p = d.empty() ? 0.0 : atPeriod(d, periodNs) ? periodNs : blockPeriod(d);
    const bool few = d.size() < kMinBlockIntervals;
    d.clear();
    if (!runs.empty() && (sameRate(p, runs.back().periodNs) || few || !tellsPeriod(s, start, i))) {
      runs.back().end = i;
    } else if (p > 0) {
      runs.push_back({start, i, p});
    }
    start = i;
  }
  if (!runs.empty()) runs.back().end = s.size();
  return runs;
}

int64_t lengthNs(const StampSeries& s, const Run& r) { return s[r.end - 1] - s[r.first]; }

// Blocks put a change at a block's end: the change is where the intervals
// turn from one run's period to the other's, within a block of the border.
void placeBorder(const StampSeries& s, Run& a, Run& b) {
  const auto nearerB = [&](std::size_t i) {
    const int64_t d = s[i] - s[i - 1];
    if (d <= 0) return false;
    const double x = std::log(static_cast<double>(d));
    return std::abs(x - std::log(b.periodNs)) < std::abs(x - std::log(a.periodNs));
  };
  std::size_t e = b.first;
  const std::size_t back = e > a.first + kBlockIntervals + 1 ? e - kBlockIntervals : a.first + 2;
  // A report belongs to the run whose period its interval is nearer.
  while (e > back && nearerB(e - 1)) --e;
  const std::size_t ahead = std::min(b.end - 1, b.first + kBlockIntervals);
  if (e == b.first) {
    while (e < ahead && !nearerB(e)) ++e;
  }
  a.end = b.first = e;
}

// Neighbours at one rate join each other.
void mergeSameRate(std::vector<Run>& runs) {
  for (std::size_t k = 0; k + 1 < runs.size();) {
    if (sameRate(runs[k].periodNs, runs[k + 1].periodNs)) {
      runs[k].end = runs[k + 1].end;
      runs.erase(runs.begin() + static_cast<std::ptrdiff_t>(k + 1));
    } else {
      ++k;
    }
  }
}

// Runs shorter than a second, measured between their placed borders (a
// block that straddles a change says little), join their neighbour.
void mergeShortRuns(const StampSeries& s, std::vector<Run>& runs) {
  while (runs.size() > 1) {
    auto shortest = std::min_element(runs.begin(), runs.end(), [&](const Run& a, const Run& b) {
      return lengthNs(s, a) < lengthNs(s, b);
    });
    if (lengthNs(s, *shortest) >= kMinSegmentNs) break;
    const auto k = static_cast<std::size_t>(shortest - runs.begin());
    const std::size_t into = k == 0 ? 1 : k - 1;
    runs[into].first = std::min(runs[into].first, runs[k].first);
    runs[into].end = std::max(runs[into].end, runs[k].end);
    runs.erase(shortest);
    mergeSameRate(runs);
  }
}

}  // namespace

std::vector<SegmentRange> rateSegments(const StampSeries& s, double periodNs) {
  std::vector<Run> runs = blockRuns(s, periodNs);
  mergeSameRate(runs);
  for (std::size_t k = 0; k + 1 < runs.size(); ++k) placeBorder(s, runs[k], runs[k + 1]);
  mergeShortRuns(s, runs);
  if (runs.size() < 2) return {};
  std::vector<SegmentRange> out;
  for (const Run& r : runs) {
    // Near the run's rough period: a short histogram for each of many runs.
    const double p = estimatePeriodNs(s, r.first, r.end, 4 * r.periodNs);
    out.push_back({r.first, r.end, p > 0 ? p : r.periodNs});
  }
  return out;
}

RateSegment segmentFigures(const StampSeries& s, const SegmentRange& r) {
  RateSegment seg;
  seg.startS = static_cast<double>(s[r.first] - s[0]) / 1e9;
  seg.endS = static_cast<double>(s[r.end - 1] - s[0]) / 1e9;
  seg.periodUs = r.periodNs / 1000.0;
  seg.reports = static_cast<int64_t>(r.end - r.first);
  double moving = 0, intervals = 0;
  for (std::size_t i = r.first + 1; i < r.end; ++i) {
    const int64_t d = s[i] - s[i - 1];
    if (d < 0 || d > kRestNs) continue;
    moving += static_cast<double>(d);
    ++intervals;
  }
  seg.movingRateHz = moving > 0 ? intervals / (moving / 1e9) : 0.0;
  return seg;
}

}  // namespace reportgrid
