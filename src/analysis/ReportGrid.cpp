#include "analysis/ReportGrid.h"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

#include "analysis/PollingRules.h"
#include "analysis/RateSegments.h"

namespace reportgrid {
namespace {

constexpr int64_t kRestNs = std::chrono::nanoseconds(pollingrules::kActivityTimeout).count();
constexpr int64_t kBinNs = 1000;          // the interval histogram's bins
constexpr double kMinPeriodNs = 100'000;  // no host polls more often than every 125 µs
constexpr double kClusterShare = 0.05;    // of the intervals, for a cluster to count
constexpr double kClusterWidth = 0.2;     // a cluster spans its centre ± this share
constexpr double kBatchedFactor = 0.3;    // of the period: intervals this short are batches
constexpr double kUnknownShare = 0.01;    // of batched intervals or doubled slots
// A grid phase per this many reports: short enough that a clock 500 ppm off
// the period moves the phase by a small part of a period within a window.
constexpr std::size_t kWindowReports = 512;
constexpr std::size_t kHeadingWindows = 4;  // windows the phase's heading is taken over
constexpr double kEnvelopeRank = 0.002;     // the window's residuals defining "on time"
constexpr double kMultipleWidth = 0.15;     // of a period: an interval is a whole multiple
constexpr double kMultipleShare = 0.9;      // of the intervals, for a period to hold them
constexpr int kMaxDivisor = 4;              // a period may be this fraction of the lowest cluster
constexpr std::size_t kMultipleSamples = 200'000;
constexpr std::size_t kBuiltUpReports = 3;  // after a gap, where its built-up counts may come
constexpr double kBuiltUpFactor = 1.5;      // of the usual step: a report carrying built-up counts
constexpr double kMaxClockOffset = 0.005;   // a clock further off is not the host's interval
constexpr double kFarShare = 0.3;           // of a window's reports half a period or more late
constexpr double kFarWindowsShare = 0.1;    // of the reports, in windows that do not fit
constexpr double kLinkGapRatio = 3.0;       // deliveries are this much further apart than
                                            // the reports inside them
constexpr double kLinkInsideShare = 0.1;    // of the intervals, inside deliveries
constexpr double kLinkBetweenShare = 0.05;  // of the intervals, between deliveries
constexpr double kLinkMeanReports = 8;      // a link's delivery carries a handful of reports
constexpr int64_t kLinkLargest = 64;
constexpr std::size_t kLinkMinDeliveries =
    20;  // fewer cannot show a link's structure        // and never a long run of reports
constexpr double kLinkQuietShare = 0.002;  // of the intervals, in the gap between the two

// Rounding by conversion: no library call in the loops over every report.
int64_t nearest(double v) { return static_cast<int64_t>(v < 0 ? v - 0.5 : v + 0.5); }

bool isStep(int64_t d) { return d > 0 && d <= kRestNs; }
bool joins(int64_t d) { return d >= 0 && d <= kRestNs; }

// The moving stretches [a, b] of the reports in [first, end).
std::vector<std::pair<std::size_t, std::size_t>> stretchesOf(const StampSeries& s,
                                                             std::size_t first, std::size_t end) {
  std::vector<std::pair<std::size_t, std::size_t>> out;
  for (std::size_t a = first; a < end;) {
    std::size_t b = a;
    while (b + 1 < end && joins(s[b + 1] - s[b])) ++b;
    out.emplace_back(a, b);
    a = b + 1;
  }
  return out;
}

// Counts and sums of the intervals per 1 µs bin, cumulated, to ask ranges.
class IntervalHistogram {
 public:
  IntervalHistogram(const StampSeries& s, std::size_t first, std::size_t end, int64_t maxNs)
      : count_(static_cast<std::size_t>(maxNs / kBinNs + 2), 0), sum_(count_.size(), 0.0) {
    for (std::size_t i = first + 1; i < end; ++i) {
      const int64_t d = s[i] - s[i - 1];
      if (!isStep(d)) continue;
      ++total_;
      if (d > maxNs) continue;
      const auto b = static_cast<std::size_t>(d / kBinNs) + 1;
      ++count_[b];
      sum_[b] += static_cast<double>(d);
    }
    for (std::size_t b = 1; b < count_.size(); ++b) {
      count_[b] += count_[b - 1];
      sum_[b] += sum_[b - 1];
    }
  }
  double total() const { return total_; }
  double bins() const { return static_cast<double>(count_.size() - 1); }
  // Intervals and their sum (ns) in [lo, hi] ns, to the bin.
  std::pair<double, double> within(double lo, double hi) const {
    const auto last = static_cast<double>(count_.size() - 1);
    const auto a = static_cast<std::size_t>(std::clamp(lo / kBinNs, 0.0, last));
    const auto b = static_cast<std::size_t>(std::clamp(hi / kBinNs + 1.0, 0.0, last));
    return {static_cast<double>(count_[b] - count_[a]), sum_[b] - sum_[a]};
  }

 private:
  std::vector<uint32_t> count_;  // [b]: intervals below b µs
  std::vector<double> sum_;
  double total_ = 0;  // every interval, also those beyond the bins
};

// Chunks of a fixed number of reports, each spanning a whole number of
// slots: their spans over their slots give the period far finer than any one
// interval. The chunks grow while the period is fine enough to count their
// slots. Chunks are cut by count, not by time, so that no late or early
// stamp is picked as an end.
double refinedPeriodNs(const StampSeries& s, std::size_t first, std::size_t end, double p) {
  const auto stretches = stretchesOf(s, first, end);
  // Each size three times over: a rounding biased by the period's error
  // shrinks with it.
  for (std::size_t pass = 0, reports = 8; reports < end - first;
       reports *= ++pass % 3 == 0 ? 4 : 1) {
    const auto most = 4 * static_cast<double>(reports);  // slots a chunk may span
    double spans = 0, count = 0, q = 0, qq = 0, chunks = 0;
    for (const auto& [a, b] : stretches) {
      for (std::size_t j = a; j + reports <= b; j += reports) {
        const auto span = static_cast<double>(s[j + reports] - s[j]);
        const auto k = static_cast<double>(nearest(span / p));
        if (k < 1 || k > most) continue;
        spans += span;
        count += k;
        q += span / k;
        qq += span / k * (span / k);
        ++chunks;
      }
    }
    if (chunks < 4) break;
    p = spans / count;
    const double spread = std::sqrt(std::max(0.0, qq / chunks - (q / chunks) * (q / chunks)));
    const double error = spread / std::sqrt(chunks) / p;  // relative
    if (4 * most * 3 * error > 0.25) break;
  }
  return p;
}

// The share of the intervals (a sample of them) that lie near a whole
// multiple of p.
double multipleShare(const StampSeries& s, std::size_t first, std::size_t end, double p) {
  const std::size_t step = std::max<std::size_t>(1, (end - first) / kMultipleSamples);
  double near = 0, all = 0;
  for (std::size_t i = first + 1; i < end; i += step) {
    const int64_t d = s[i] - s[i - 1];
    if (!isStep(d)) continue;
    const auto x = static_cast<double>(d);
    const auto k = static_cast<double>(std::max<int64_t>(1, nearest(x / p)));
    near += std::abs(x - k * p) <= kMultipleWidth * p;
    ++all;
  }
  return all > 0 ? near / all : 0.0;
}

// The lowest cluster of intervals may be a multiple of the period that never
// occurs by itself (a motion-synced sensor on 125 µs polls sends after 250
// and 375 µs): the largest period of which nearly every interval is a whole
// multiple. The cluster stays when it holds the intervals itself, or when no
// fraction of it does.
double largestCommonPeriod(const StampSeries& s, std::size_t first, std::size_t end, double c) {
  if (multipleShare(s, first, end, c) >= kMultipleShare) return c;
  for (int m = 2; m <= kMaxDivisor && c / m >= kMinPeriodNs / 2; ++m) {
    if (multipleShare(s, first, end, c / m) >= kMultipleShare) return c / m;
  }
  return c;
}

}  // namespace

double estimatePeriodNs(const StampSeries& s, std::size_t first, std::size_t end, double maxNs) {
  if (end < first + 2) return 0;
  const IntervalHistogram h(
      s, first, end, static_cast<int64_t>(std::clamp(maxNs, kMinPeriodNs * 2, 1.0 * kRestNs)));
  const double need = kClusterShare * h.total();
  if (h.total() == 0) return 0;
  const auto around = [&](double c) {
    return h.within(c * (1 - kClusterWidth), c * (1 + kClusterWidth));
  };
  double found = 0;
  for (double c = kMinPeriodNs; c < h.bins() * kBinNs; c += kBinNs) {
    if (around(c).first >= need) {
      found = c;
      break;
    }
  }
  if (found == 0) return 0;
  // Up to the cluster's peak, then to its mean.
  double best = found;
  for (double c = found; c < found * (1 + kClusterWidth); c += kBinNs) {
    if (around(c).first > around(best).first) best = c;
  }
  for (int pass = 0; pass < 8; ++pass) {
    const auto [n, sum] = around(best);
    if (n == 0) break;
    best = sum / n;
  }
  return refinedPeriodNs(s, first, end, largestCommonPeriod(s, first, end, best));
}

namespace {

// The grid of one moving stretch, in windows of reports, each with the
// grid's phase (ns after the stretch's first report, modulo the period and
// unwrapped from window to window) and the lower envelope of its residuals.
struct Window {
  std::size_t a = 0, b = 0;  // reports [a, b)
  double centre = 0;         // ns after the stretch's first report
  double phase = 0;
  double envelope = 0;
  std::size_t outA = 0, outB = 0;  // its reports' residuals in the output
};

// Straight lines between the windows' centres, so a mouse clock that drifts
// against the host's is followed window by window.
inline double along(const std::vector<Window>& ws, std::size_t w, double x, double Window::*field) {
  if (ws.size() == 1) return ws[0].*field;
  const std::size_t lo = w + 1 == ws.size() || (x < ws[w].centre && w > 0) ? w - 1 : w;
  const Window &p = ws[lo], &q = ws[lo + 1];
  if (q.centre <= p.centre) return p.*field;
  return p.*field + (q.*field - p.*field) * (x - p.centre) / (q.centre - p.centre);
}

// A report that repeats its neighbour's stamp without motion is a
// duplicate, not a report of its own.
bool duplicate(const StampSeries& s, std::size_t i) {
  const ReportMotion m = s.motion(i);
  return m.known() && m.dx == 0 && m.dy == 0;
}

// A report with the stamp of the one before it came in the same delivery:
// it is a report but holds no place of its own on the grid.
bool sameDelivery(const StampSeries& s, std::size_t i, std::size_t first) {
  return i > first && s[i] == s[i - 1];
}

// The circular mean of the window's stamps modulo the period: from a coarse
// histogram of phases, then the plain mean of the offsets around it.
double phaseOf(const StampSeries& s, std::size_t first, const Window& w, double p) {
  constexpr int kBins = 32;
  std::array<double, kBins> bins{};
  const double t0 = static_cast<double>(s[first]);
  const auto offset = [&](std::size_t i) {
    const double x = static_cast<double>(s[i]) - t0;
    return x - static_cast<double>(static_cast<int64_t>(x / p)) * p;  // x is not negative
  };
  // Half the reports of a longer window tell its phase well enough.
  const std::size_t step = w.b - w.a >= kWindowReports ? 2 : 1;
  for (std::size_t i = w.a; i < w.b; i += step) {
    if (sameDelivery(s, i, first)) continue;
    bins[std::min(kBins - 1, static_cast<int>(offset(i) / p * kBins))] += 1;
  }
  double c = 0, sn = 0;
  for (int k = 0; k < kBins; ++k) {
    const double angle = 2 * std::numbers::pi * (k + 0.5) / kBins;
    c += bins[static_cast<std::size_t>(k)] * std::cos(angle);
    sn += bins[static_cast<std::size_t>(k)] * std::sin(angle);
  }
  const double rough = std::atan2(sn, c) / (2 * std::numbers::pi) * p;
  double sum = 0, n = 0;
  for (std::size_t i = w.a; i < w.b; i += step) {
    if (sameDelivery(s, i, first)) continue;
    const double d = offset(i) - rough;
    sum += d - static_cast<double>(nearest(d / p)) * p;
    ++n;
  }
  return n > 0 ? rough + sum / n : rough;
}

std::vector<Window> windowsOf(const StampSeries& s, std::size_t a, std::size_t b, double p) {
  std::vector<Window> ws;
  const std::size_t n = b - a + 1;
  // A stretch of few windows is one, its drift levelled as a straight line.
  const std::size_t count = n < 4 * kWindowReports ? 1 : n / kWindowReports;
  for (std::size_t w = 0; w < count; ++w) {
    Window win;
    win.a = a + n * w / count;
    win.b = a + n * (w + 1) / count;
    win.centre = static_cast<double>(s[(win.a + win.b - 1) / 2] - s[a]);
    win.phase = phaseOf(s, a, win, p);
    // Unwrapped towards where the phase was heading: a clock off the
    // period moves it steadily, by more than half a period over a test.
    if (!ws.empty()) {
      // The heading over several windows: a delay that wanders to and fro
      // must not be taken for it.
      double expected = ws.back().phase;
      if (ws.size() >= 2) {
        const Window &u = ws[ws.size() - std::min<std::size_t>(ws.size(), kHeadingWindows + 1)],
                     &v = ws.back();
        if (v.centre > u.centre) {
          expected += (v.phase - u.phase) * (win.centre - v.centre) / (v.centre - u.centre);
        }
      }
      win.phase += p * std::round((expected - win.phase) / p);
    }
    ws.push_back(win);
  }
  return ws;
}

int largerCounts(const ReportMotion& m) { return std::max(std::abs(m.dx), std::abs(m.dy)); }

// The counts a report carries around report i: the mean larger axis of the
// three reports before it (after it at a stretch's start); at least one.
double usualStep(const StampSeries& s, std::size_t i) {
  double sum = 0, n = 0;
  const auto add = [&](std::size_t j) {
    if (!s.motion(j).known()) return;
    sum += largerCounts(s.motion(j));
    ++n;
  };
  for (std::size_t j = i >= 3 ? i - 3 : 0; j < i; ++j) add(j);
  for (std::size_t j = i + 1; n < 3 && j <= i + 3 && j < s.size(); ++j) add(j);
  return n > 0 ? std::max(1.0, sum / n) : 1.0;
}

struct SlotCounts {
  int64_t missed = 0, idle = 0, kernel = 0, doubled = 0, slots = 0;
  int64_t far = 0;    // reports half a period or more late
  int64_t unfit = 0;  // reports in windows where many are
};

// Where the empty slots before report i go: the kernel's when it dropped
// reports there; missed when the motion after the gap holds the counts of
// its slots (so the mouse had something to send in them); idle otherwise.
// The counts built up over a gap come in the report that ends it, or, on a
// host with one request in flight whose report was held up, in the reports
// that follow: those carrying well above the usual step add their excess.
int64_t* emptySlotsOf(const StampSeries& s, std::size_t i, int64_t gap,
                      const std::vector<bool>& dropped, SlotCounts& c) {
  if (dropped[i]) return &c.kernel;
  const ReportMotion m = s.motion(i);
  if (!m.known()) return &c.missed;
  const double step = usualStep(s, i);
  double carried = largerCounts(m);
  for (std::size_t j = i + 1; j <= i + kBuiltUpReports && j < s.size(); ++j) {
    const double counts = largerCounts(s.motion(j));
    if (counts >= kBuiltUpFactor * step) carried += counts - step;
  }
  // Halfway between one slot's counts (idle) and the whole gap's (missed).
  return carried >= (static_cast<double>(gap) / 2 + 1) * step ? &c.missed : &c.idle;
}

// The value at rank kEnvelopeRank of out[a, b): a window asks for one of its
// few lowest values, kept in a short sorted list in one pass.
double lowRank(const std::vector<int32_t>& out, std::size_t a, std::size_t b) {
  if (a == b) return 0;
  const auto rank = static_cast<std::size_t>(kEnvelopeRank * static_cast<double>(b - a));
  std::array<int32_t, 16> lowest{};
  if (rank >= lowest.size()) {
    std::vector<int32_t> v(out.begin() + static_cast<std::ptrdiff_t>(a),
                           out.begin() + static_cast<std::ptrdiff_t>(b));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(rank), v.end());
    return v[rank];
  }
  std::size_t kept = 0;
  for (std::size_t i = a; i < b; ++i) {
    const int32_t x = out[i];
    if (kept == rank + 1 && x >= lowest[rank]) continue;
    std::size_t at = kept < rank + 1 ? kept++ : rank;
    for (; at > 0 && lowest[at - 1] > x; --at) lowest[at] = lowest[at - 1];
    lowest[at] = x;
  }
  return lowest[rank];
}

// A stretch short enough for one window has no neighbours to follow its
// drift by: the residuals' straight-line trend is the period's error.
void levelled(const StampSeries& s, std::size_t first, const std::vector<bool>& holds,
              const Window& w, std::vector<int32_t>& out) {
  double n = 0, sx = 0, sr = 0, sxx = 0, sxr = 0;
  const auto each = [&](auto&& f) {
    std::size_t j = w.outA;
    for (std::size_t i = w.a; i < w.b; ++i) {
      // Against the slot's time, not the stamp's, which holds the lateness.
      if (!holds[i - first]) continue;
      f(static_cast<double>(s[i] - s[first]) - out[j], out[j]);
      ++j;
    }
  };
  each([&](double x, int32_t r) {
    ++n;
    sx += x;
    sr += r;
    sxx += x * x;
    sxr += x * r;
  });
  const double var = sxx - sx * sx / n;
  if (n < 3 || var <= 0) return;
  const double slope = (sxr - sx * sr / n) / var;
  each([&](double x, int32_t& r) {
    r = static_cast<int32_t>(std::lround(r - slope * (x - sx / n)));
  });
}

// Slots for the reports of one stretch [a, b] at period p; each report's
// residual against its slot goes to `out` (ns).
void slotStretch(const StampSeries& s, std::size_t a, std::size_t b, double p,
                 const std::vector<bool>& dropped, SlotCounts& c, std::vector<int32_t>& out) {
  std::vector<Window> ws = windowsOf(s, a, b, p);
  const double t0 = static_cast<double>(s[a]);
  const std::size_t start = out.size();
  const double together = kBatchedFactor * p;
  std::vector<bool> holds(b - a + 1, false);  // the report holds a slot
  int64_t prev = 0;
  int64_t gapBeforePrev = 0;
  int64_t* prevCounter = nullptr;
  std::size_t prevHolder = a;  // the report that ended the last gap
  std::size_t w = 0, wl = 0;
  ws[0].outA = out.size();
  for (std::size_t i = a; i <= b;) {
    // One delivery [i, e): its reports came together. Its last takes the
    // nearest slot and the others the empty slots before it, so a burst of
    // queued reports after a stall is as late as the stall; a report that
    // finds no empty slot joins the delivery without one.
    std::size_t e = i + 1;
    int64_t n = 1;
    for (int64_t last = s[i]; e <= b; ++e) {
      const int64_t t = s[e];
      if (static_cast<double>(t - last) >= together) break;
      n += !(t == last && duplicate(s, e));
      last = t;
    }
    while (e - 1 >= ws[wl].b) ++wl;
    const double xl = static_cast<double>(s[e - 1]) - t0;
    const double gl = along(ws, wl, xl, &Window::phase);
    int64_t k = nearest((xl - gl) / p);
    if (i > a && k <= prev) {
      // Two reports in one slot: the earlier came late into the slot after
      // its own when that one was empty; otherwise the slot is doubled.
      if (k == prev && gapBeforePrev > 0) {
        // Its gap, one slot shorter, is judged again.
        out.back() = static_cast<int32_t>(out.back() + p);
        *prevCounter -= gapBeforePrev;
        prevCounter = emptySlotsOf(s, prevHolder, --gapBeforePrev, dropped, c);
        *prevCounter += gapBeforePrev;
        --prev;
      } else {
        k = prev;
        ++c.doubled;
      }
    }
    const int64_t low = i > a ? std::max(std::min(prev + 1, k), k - n + 1) : k - n + 1;
    const int64_t gap = i > a ? low - prev - 1 : 0;
    int64_t slot = low - (n - (k - low + 1));  // the first reports' slots lie below low: none
    bool firstHolder = true;
    for (std::size_t j = i; j < e; ++j) {
      while (j >= ws[w].b) {
        ws[w].outB = out.size();
        ws[++w].outA = out.size();
      }
      if (j > i && s[j] == s[j - 1] && duplicate(s, j)) continue;
      if (slot++ < low) continue;
      if (firstHolder && gap > 0) {
        prevCounter = emptySlotsOf(s, j, gap, dropped, c);
        *prevCounter += gap;
        prevHolder = j;
      }
      firstHolder = false;
      holds[j - a] = true;
      ++c.slots;
      const double x = static_cast<double>(s[j]) - t0;
      const double g = j + 1 == e && w == wl ? gl : along(ws, w, x, &Window::phase);
      const double r = x - g - static_cast<double>(slot - 1) * p;
      out.push_back(static_cast<int32_t>(std::clamp(r, -1e9, 1e9)));
    }
    gapBeforePrev = std::max<int64_t>(0, gap);
    prev = k;
    i = e;
  }
  ws[w].outB = out.size();
  if (ws.size() == 1) levelled(s, a, holds, ws[0], out);
  for (Window& w : ws) w.envelope = lowRank(out, w.outA, w.outB);
  // Lateness: the residual above the grid's lower envelope, which the
  // earliest reports of each window define.
  // The grid's fit: a grid that is not the mouse's spreads the reports over
  // its whole period, so many lie half a period or more above the envelope.
  std::size_t j = start;
  for (std::size_t w = 0; w < ws.size(); ++w) {
    int64_t far = 0;
    for (std::size_t i = ws[w].a; i < ws[w].b; ++i) {
      if (!holds[i - a]) continue;
      const double x = static_cast<double>(s[i]) - t0;
      const double late = out[j] - along(ws, w, x, &Window::envelope);
      far += late >= p / 2;
      out[j++] = static_cast<int32_t>(std::max(0.0, late));
    }
    c.far += far;
    const auto reports = static_cast<int64_t>(ws[w].outB - ws[w].outA);
    if (static_cast<double>(far) > kFarShare * static_cast<double>(reports)) c.unfit += reports;
  }
}

// The host's interval is nominal: the mouse's or the controller's clock
// runs off the kernel's by up to ±500 ppm, so the stamps refine it.
double refinedConfiguredNs(const StampSeries& s, double configured) {
  const double p = refinedPeriodNs(s, 0, s.size(), configured);
  return std::abs(p / configured - 1) < kMaxClockOffset ? p : configured;
}

// Without slots, a drop's reports are the whole periods its gap held.
int64_t droppedByGaps(const StampSeries& s, const std::vector<bool>& dropped, double p) {
  int64_t lost = 0;
  for (std::size_t i = 1; i < s.size() && p > 0; ++i) {
    if (dropped[i] && s[i] > s[i - 1]) {
      lost += std::max<int64_t>(0, std::llround(static_cast<double>(s[i] - s[i - 1]) / p) - 1);
    }
  }
  return lost;
}

bool hasMotion(const StampSeries& s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s.motion(i).known()) return true;
  }
  return false;
}

std::string percentText(double share) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", share * 100);
  return text;
}

// Each stretch with its own period when the rate changed during the test;
// a stretch near the host's interval takes that interval.
std::vector<SegmentRange> gridRanges(const StampSeries& s, const std::vector<SegmentRange>& segs,
                                     double periodNs, bool configured) {
  if (segs.size() < 2) return {{0, s.size(), periodNs}};
  std::vector<SegmentRange> ranges = segs;
  for (SegmentRange& r : ranges) {
    if (configured && std::abs(r.periodNs / periodNs - 1) < 0.03) r.periodNs = periodNs;
  }
  return ranges;
}

// A stream paced by the hand cannot show the mouse's period: when nearly
// every interval is one multiple of p and nearly every report carries a
// single count, the sensor sent whenever a count was ready, so the mouse may
// poll at p or at any fraction of it. Without motion nothing says so, and a
// clean stream at one interval is taken at its word.
bool handPacedMultiple(const StampSeries& s, double p) {
  const std::size_t step = std::max<std::size_t>(1, s.size() / kMultipleSamples);
  double all = 0, once = 0, known = 0, single = 0;
  for (std::size_t i = 1; i < s.size(); i += step) {
    const int64_t d = s[i] - s[i - 1];
    if (!isStep(d)) continue;
    ++all;
    once += std::abs(static_cast<double>(d) - p) <= kMultipleWidth * p;
    if (!s.motion(i).known()) continue;
    ++known;
    single += largerCounts(s.motion(i)) <= 1;
  }
  return all > 0 && known >= kMultipleShare * all && once >= kMultipleShare * all &&
         single >= kMultipleShare * known;
}

// The share of intervals shorter than a batch's; reports at one stamp are
// one delivery too.
double batchedShare(const StampSeries& s, const std::vector<SegmentRange>& ranges) {
  double all = 0, batched = 0;
  for (const SegmentRange& r : ranges) {
    for (std::size_t i = r.first + 1; i < r.end; ++i) {
      const int64_t d = s[i] - s[i - 1];
      if (!joins(d) || (d == 0 && duplicate(s, i))) continue;
      ++all;
      batched += static_cast<double>(d) < kBatchedFactor * r.periodNs;
    }
  }
  return all > 0 ? batched / all : 0.0;
}

// Intervals by eighths of an octave from 16 µs, to find the quiet gap
// between the intervals inside a link's deliveries and those between them.
constexpr int64_t kLinkLowUs = 16;
int linkBin(int64_t us) {
  const int octave = std::bit_width(static_cast<uint64_t>(us / kLinkLowUs)) - 1;
  return octave * 8 + static_cast<int>((us >> (octave + 1)) & 7);
}
double linkBinLowUs(int bin) {
  return static_cast<double>(kLinkLowUs << (bin / 8)) * (1 + (bin % 8) / 8.0);
}

// Bluetooth and other links hand over a few reports per connection event:
// the intervals inside an event and those between events are two groups with
// a wide quiet gap between them. The gap (ns) that splits them, or 0 when the
// intervals show no such structure.
double linkGapNs(const StampSeries& s) {
  std::vector<double> bins(static_cast<std::size_t>(linkBin(kRestNs / 1000) + 2), 0.0);
  double total = 0;
  // The shape of the intervals' spread is all that is asked: a long test's
  // intervals are sampled.
  const std::size_t step = std::max<std::size_t>(1, s.size() / kMultipleSamples);
  for (std::size_t i = 1; i < s.size(); i += step) {
    const int64_t d = s[i] - s[i - 1];
    if (!isStep(d) || d < kLinkLowUs * 1000) continue;
    ++bins[static_cast<std::size_t>(linkBin(d / 1000))];
    ++total;
  }
  if (total == 0) return 0;
  double below = 0;
  for (std::size_t a = 0; a < bins.size(); ++a) {
    if (bins[a] > kLinkQuietShare * total) {
      below += bins[a];
      continue;
    }
    std::size_t b = a;
    double quiet = 0;
    while (b < bins.size() && bins[b] <= kLinkQuietShare * total &&
           quiet <= kLinkQuietShare * total) {
      quiet += bins[b++];
    }
    const double lowUs = linkBinLowUs(static_cast<int>(a)),
                 highUs = linkBinLowUs(static_cast<int>(b));
    const double above = total - below - quiet;
    if (highUs >= kLinkGapRatio * lowUs && below >= kLinkInsideShare * total &&
        above >= kLinkBetweenShare * total) {
      return std::sqrt(lowUs * highUs) * 1000;
    }
    below += bins[a];
  }
  return 0;
}

// Reports closer than `gapNs` to the one before came in one delivery.
struct Deliveries {
  std::vector<int64_t> firstNs;  // each delivery's first stamp
  int64_t reports = 0, largest = 0;
};

Deliveries deliveriesOf(const StampSeries& s, double gapNs) {
  Deliveries out;
  int64_t size = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (i > 0 && duplicate(s, i) && s[i] == s[i - 1]) continue;
    const int64_t d = i > 0 ? s[i] - s[i - 1] : -1;
    if (d < 0 || static_cast<double>(d) >= gapNs) {
      out.firstNs.push_back(s[i]);
      size = 0;
    }
    ++out.reports;
    out.largest = std::max(out.largest, ++size);
  }
  return out;
}

// A link of a handful of reports per delivery: its deliveries' gap, or 0.
double linkDeliveryGapNs(const StampSeries& s) {
  const double gap = linkGapNs(s);
  if (gap <= 0) return 0;
  const Deliveries d = deliveriesOf(s, gap);
  const auto mean = static_cast<double>(d.reports) / static_cast<double>(d.firstNs.size());
  if (d.firstNs.size() < kLinkMinDeliveries || mean > kLinkMeanReports ||
      d.largest > kLinkLargest) {
    return 0;
  }
  // A link's events keep their own clock: the deliveries lie on a grid.
  const StampSeries firsts = StampSeries::fromVectors(d.firstNs);
  const double period = estimatePeriodNs(firsts, 0, firsts.size());
  return period > 0 && multipleShare(firsts, 0, firsts.size(), period) >= kMultipleShare ? gap : 0;
}

// The batched status with the deliveries' period and size.
void batchedFigures(const StampSeries& s, double gapNs, const std::string& why, GridFigures& g) {
  const Deliveries d = deliveriesOf(s, gapNs);
  const StampSeries firsts = StampSeries::fromVectors(d.firstNs);
  const double period = estimatePeriodNs(firsts, 0, firsts.size());
  g.status = GridStatus::Batched;
  g.reason = why;
  g.periodUs = period / 1000.0;
  g.deliveryPeriodUs = period / 1000.0;
  g.reportsPerDeliveryMean = static_cast<double>(d.reports) /
                             static_cast<double>(std::max<std::size_t>(1, d.firstNs.size()));
  g.reportsPerDeliveryMax = d.largest;
}

}  // namespace

void gridFigures(const StampSeries& s, const std::vector<bool>& dropped,
                 const WholeTestOptions& options, WholeTestFigures& f,
                 std::vector<int32_t>& lateness) {
  lateness.clear();
  GridFigures& g = f.grid;
  const double configured = options.configuredPeriodUs * 1000.0;
  g.source = configured > 0 ? GridSource::Configured : GridSource::Estimated;
  const bool steps = f.intervals > f.equalStamps;
  // A link's deliveries first: a gap inside one is never the grid's period.
  if (const double gap = steps ? linkDeliveryGapNs(s) : 0; gap > 0) {
    batchedFigures(s, gap, "reports arrive in deliveries of a few, far apart", g);
    f.kernelDroppedReports = droppedByGaps(s, dropped, gap);
    return;
  }
  const double periodNs =
      configured > 0 ? refinedConfiguredNs(s, configured) : estimatePeriodNs(s, 0, s.size());
  g.periodUs = periodNs / 1000.0;
  if (periodNs <= 0 || !steps) {
    g.status = GridStatus::None;
    g.reason = steps ? "no cluster of intervals of 100 µs or more to find the grid"
                     : "no intervals between reports with different stamps";
    f.kernelDroppedReports = droppedByGaps(s, dropped, periodNs);
    return;
  }
  const std::vector<SegmentRange> segs = rateSegments(s, periodNs);
  for (const SegmentRange& r : segs) f.segments.push_back(segmentFigures(s, r));
  const std::vector<SegmentRange> ranges = gridRanges(s, segs, periodNs, configured > 0);
  if (const double share = batchedShare(s, ranges); share > kUnknownShare) {
    batchedFigures(s, kBatchedFactor * periodNs,
                   "reports arrive in batches: " + percentText(share) +
                       " of the intervals are shorter than 0.3 periods",
                   g);
    f.kernelDroppedReports = droppedByGaps(s, dropped, g.deliveryPeriodUs * 1000);
    return;
  }
  if (configured <= 0 && segs.size() < 2 && handPacedMultiple(s, periodNs)) {
    char why[200];
    std::snprintf(why, sizeof why,
                  "every interval is %.1f µs and every report carries a single count: the hand "
                  "paced the reports, and the mouse may poll at any fraction of that period",
                  periodNs / 1000);
    g.status = GridStatus::Ambiguous;
    g.reason = why;
    f.kernelDroppedReports = droppedByGaps(s, dropped, periodNs);
    return;
  }
  SlotCounts c;
  for (const SegmentRange& r : ranges) {
    for (const auto& [a, b] : stretchesOf(s, r.first, r.end)) {
      slotStretch(s, a, b, r.periodNs, dropped, c, lateness);
    }
  }
  const auto slots = static_cast<double>(std::max<int64_t>(1, c.slots));
  const double doubled = static_cast<double>(c.doubled) / slots;
  const double far = static_cast<double>(c.far) / slots;
  const double unfit = static_cast<double>(c.unfit) / slots;
  std::string misfit;
  if (doubled > kUnknownShare) {
    misfit = "reports do not keep to the grid: " + percentText(doubled) + " of slots doubled";
  } else if (far > kFarShare || unfit > kFarWindowsShare) {
    misfit = "the grid does not fit the reports: " + percentText(far) +
             " of them lie half a period or more from it, " + percentText(unfit) +
             " in stretches where many do";
  }
  if (!misfit.empty()) {
    g.status = GridStatus::Ambiguous;
    g.reason = misfit;
    f.kernelDroppedReports = droppedByGaps(s, dropped, periodNs);
    lateness.clear();
    return;
  }
  g.status = GridStatus::Ok;
  f.missedSlots = c.missed;
  f.missedFromMotion = hasMotion(s);
  if (f.missedFromMotion) f.idleSlots = c.idle;
  f.kernelDroppedReports = c.kernel;
}

}  // namespace reportgrid
