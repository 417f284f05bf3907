#include "analysis/WholeTestAnalysis.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "analysis/MotionRules.h"
#include "analysis/PollingRules.h"
#include "analysis/ReportGrid.h"

namespace {

using namespace pollingrules;

constexpr int64_t kRestNs = std::chrono::nanoseconds(kActivityTimeout).count();
constexpr double kNsPerUs = 1000.0;
constexpr std::size_t kMinRateSteps = 10;  // intervals that are not zero
constexpr double kMinRateMovingNs = 10'000'000;

int64_t intervalNs(const StampSeries& s, std::size_t i) { return s[i] - s[i - 1]; }

// Intervals that are neither rests nor stamps going backwards.
bool isMoving(int64_t ns) { return ns >= 0 && ns <= kRestNs; }

// Nearest ranks of values that are not negative: the smallest value with at
// least p of all values at or below it, for each p. Counting by the high
// bits, then by the low bits within the bucket that holds the rank: a few
// passes and no copy, instead of reordering millions of values.
std::vector<int32_t> nearestRanks(const std::vector<int32_t>& v, std::initializer_list<double> ps) {
  if (v.empty()) return std::vector<int32_t>(ps.size(), 0);
  const auto key = [](int32_t x) { return static_cast<uint32_t>(std::max(0, x)); };
  uint32_t top = 0;
  for (int32_t x : v) top = std::max(top, key(x));
  int shift = 0;
  while ((top >> shift) >= (1u << 16)) ++shift;
  std::vector<uint32_t> high((top >> shift) + 1, 0);
  for (int32_t x : v) ++high[key(x) >> shift];
  // The bucket and the rank within it of each p; then, in one pass, the
  // counts by the low bits in each of those buckets.
  std::vector<std::pair<uint32_t, std::size_t>> asked;
  for (double p : ps) {
    std::size_t rank =
        static_cast<std::size_t>(std::ceil(p * static_cast<double>(v.size()) - 1e-9));
    rank = std::clamp<std::size_t>(rank, 1, v.size()) - 1;
    uint32_t bucket = 0;
    while (high[bucket] <= rank) rank -= high[bucket++];
    asked.emplace_back(bucket, rank);
  }
  std::vector<int> lowOf(high.size(), -1);
  int buckets = 0;
  for (const auto& a : asked) {
    if (lowOf[a.first] < 0) lowOf[a.first] = buckets++;
  }
  const std::size_t width = std::size_t{1} << shift;
  std::vector<uint32_t> low(width * static_cast<std::size_t>(buckets), 0);
  for (int32_t x : v) {
    const int k = lowOf[key(x) >> shift];
    if (k >= 0) ++low[static_cast<std::size_t>(k) * width + (key(x) & (width - 1))];
  }
  std::vector<int32_t> out;
  for (auto [bucket, rank] : asked) {
    const uint32_t* counts = &low[static_cast<std::size_t>(lowOf[bucket]) * width];
    uint32_t sub = 0;
    while (counts[sub] <= rank) rank -= counts[sub++];
    out.push_back(static_cast<int32_t>((bucket << shift) | sub));
  }
  return out;
}

// Which reports are preceded by a kernel drop; one flag per report.
std::vector<bool> dropGaps(const StampSeries& s) {
  std::vector<bool> gaps(s.size(), false);
  for (const DropMark& d : s.drops()) {
    if (d.before >= 1 && d.before < s.size()) gaps[d.before] = true;
  }
  return gaps;
}

void intervalFigures(const StampSeries& s, WholeTestFigures& f, std::vector<int32_t>& buf) {
  buf.clear();
  double sum = 0.0;
  for (std::size_t i = 1; i < s.size(); ++i) {
    const int64_t d = intervalNs(s, i);
    if (d > kRestNs) ++f.rests;
    if (!isMoving(d) || motionrules::stillReport(s.motion(i))) continue;
    buf.push_back(static_cast<int32_t>(d));
    sum += static_cast<double>(d);
  }
  f.intervals = static_cast<int64_t>(buf.size());
  f.movingSeconds = sum / 1e9;
  // Reports delivered together are reports, but their zero intervals say
  // nothing of the spacing.
  std::erase(buf, 0);
  f.equalStamps = f.intervals - static_cast<int64_t>(buf.size());
  // Over so little moving time one delivery would decide the rate: a pile of
  // reports at one stamp is one delivery, not a million reports a second.
  if (sum <= 0) return;
  if (buf.size() < kMinRateSteps || sum < kMinRateMovingNs) {
    f.movingRateReason = "too little moving time to tell a rate: under 10 intervals or 10 ms";
  } else {
    f.movingRateHz = static_cast<double>(f.intervals) / f.movingSeconds;
  }
  if (buf.empty()) return;
  const double mean = sum / static_cast<double>(buf.size());
  double squares = 0.0;
  for (int32_t d : buf) squares += (d - mean) * (d - mean);
  f.intervalUs.mean = mean / kNsPerUs;
  f.intervalUs.stddev = std::sqrt(squares / static_cast<double>(buf.size())) / kNsPerUs;
  const std::vector<int32_t> r = nearestRanks(buf, {0.01, 0.50, 0.99, 0.999, 1.0});
  f.intervalUs.p1 = r[0] / kNsPerUs;
  f.intervalUs.p50 = r[1] / kNsPerUs;
  f.intervalUs.p99 = r[2] / kNsPerUs;
  f.intervalUs.p99_9 = r[3] / kNsPerUs;
  f.intervalUs.max = r[4] / kNsPerUs;
}

// The live analyzer's anomaly rule over every interval.
void anomalyFigures(const StampSeries& s, WholeTestFigures& f) {
  const double m = f.intervalUs.p50 * kNsPerUs;
  if (m <= 0.0) return;
  int64_t retained = 0;
  for (std::size_t i = 1; i < s.size(); ++i) {
    const int64_t d = intervalNs(s, i);
    if (!isMoving(d)) continue;
    const auto x = static_cast<double>(d);
    if (x < kRetainLowFactor * m || x > kRetainHighFactor * m) continue;
    ++retained;
    if (x > kAnomalyFactor * m) ++f.anomalies;
  }
  f.anomalyShare = retained > 0 ? static_cast<double>(f.anomalies) / retained : 0.0;
}

// Lateness against the grid, when the slots are known.
void latenessFigures(const std::vector<int32_t>& late, WholeTestFigures& f) {
  if (f.grid.status != GridStatus::Ok || late.empty()) return;
  const std::vector<int32_t> r = nearestRanks(late, {0.50, 0.99, 1.0});
  f.latenessUs = LatenessSummary{r[0] / kNsPerUs, r[1] / kNsPerUs, r[2] / kNsPerUs};
}

// The hand's speed is taken over windows of this much moving time; a
// stroke's last window counts only when at least kMinWindowNs long.
constexpr int64_t kWindowNs = 50'000'000;
constexpr int64_t kMinWindowNs = 20'000'000;

double lengthOf(const ReportMotion& m) {
  // 16-bit counts cannot overflow here, so no need for hypot's care.
  const double x = m.dx, y = m.dy;
  return std::sqrt(x * x + y * y);
}

struct SpeedWindow {
  double countsPerS = 0;
  int64_t intervals = 0;
  double seconds = 0;
};

// Splits each moving stretch into windows and measures the speed in each:
// the motion of the reports that end its intervals over its span.
std::vector<SpeedWindow> speedWindows(const StampSeries& s) {
  std::vector<SpeedWindow> windows;
  std::size_t start = 0;
  double counts = 0.0;
  const auto close = [&](std::size_t end, int64_t minNs) {
    const int64_t span = s[end] - s[start];
    if (span > 0 && span >= minNs) {
      const double seconds = static_cast<double>(span) / 1e9;
      windows.push_back({counts / seconds, static_cast<int64_t>(end - start), seconds});
    }
    start = end;
    counts = 0.0;
  };
  for (std::size_t i = 1; i < s.size(); ++i) {
    if (!isMoving(intervalNs(s, i))) {
      close(i - 1, kMinWindowNs);
      start = i;
      continue;
    }
    counts += lengthOf(s.motion(i));
    if (s[i] - s[start] >= kWindowNs) close(i, kWindowNs);
  }
  if (!s.empty()) close(s.size() - 1, kMinWindowNs);
  return windows;
}

std::vector<SpeedBand> speedBands(const std::vector<SpeedWindow>& windows) {
  std::vector<SpeedBand> bands;
  for (const SpeedWindow& w : windows) {
    if (w.countsPerS < 1.0) continue;
    const double low = std::exp2(std::floor(std::log2(w.countsPerS)));
    auto it = std::find_if(bands.begin(), bands.end(),
                           [&](const SpeedBand& b) { return b.lowCountsPerS == low; });
    if (it == bands.end()) it = bands.insert(bands.end(), SpeedBand{low, 0, 0, 0});
    it->intervals += w.intervals;
    it->movingSeconds += w.seconds;
  }
  std::sort(bands.begin(), bands.end(), [](const SpeedBand& a, const SpeedBand& b) {
    return a.lowCountsPerS < b.lowCountsPerS;
  });
  for (SpeedBand& b : bands) b.rateHz = static_cast<double>(b.intervals) / b.movingSeconds;
  return bands;
}

void motionFigures(const StampSeries& s, MotionFigures& m) {
  int64_t moved = 0, single = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const ReportMotion r = s.motion(i);
    if (!r.known()) continue;
    m.known = true;
    m.countsX += std::abs(r.dx);
    m.countsY += std::abs(r.dy);
    m.totalCounts += lengthOf(r);
    const int larger = std::max(std::abs(r.dx), std::abs(r.dy));
    moved += larger > 0;
    single += larger == 1;
  }
  if (!m.known) return;
  m.singleCountShare = moved > 0 ? static_cast<double>(single) / static_cast<double>(moved) : 0.0;
  const std::vector<SpeedWindow> windows = speedWindows(s);
  m.bands = speedBands(windows);
  std::vector<double> speeds;
  for (const SpeedWindow& w : windows) speeds.push_back(w.countsPerS);
  if (speeds.empty()) return;
  std::sort(speeds.begin(), speeds.end());
  const auto rank = [&](double p) {
    const auto r = static_cast<std::size_t>(std::ceil(p * static_cast<double>(speeds.size())));
    return speeds[std::clamp<std::size_t>(r, 1, speeds.size()) - 1];
  };
  m.speedP50 = rank(0.5);
  m.speedP90 = rank(0.9);
  m.speedMax = speeds.back();
}

}  // namespace

WholeTestFigures analyzeWholeTest(const StampSeries& series, const WholeTestOptions& options) {
  WholeTestFigures f;
  f.reports = static_cast<int64_t>(series.size());
  for (const DropMark& d : series.drops()) {
    if (d.before >= 1) f.kernelDrops += d.count;
  }
  std::vector<int32_t> buf;
  buf.reserve(series.size());
  intervalFigures(series, f, buf);
  anomalyFigures(series, f);
  reportgrid::gridFigures(series, dropGaps(series), options, f, buf);
  latenessFigures(buf, f);
  motionFigures(series, f.motion);
  return f;
}
