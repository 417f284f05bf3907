// What the hand's motion allowed, window by window, and what the mouse
// delivered: a mouse is judged where the motion asked for its full rate,
// never on stretches where a slow hand gave it nothing to report.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "analysis/MotionRules.h"
#include "analysis/WholeTestAnalysis.h"

namespace {

using namespace motionrules;

constexpr int64_t kWindowNs = std::chrono::nanoseconds(kAllowedWindow).count();

int largerAxis(const ReportMotion& m) { return std::max(std::abs(m.dx), std::abs(m.dy)); }

// 2 when the counts come in steps of two (interpolated DPI), else 1. Told
// from the reports with the smallest counts: a fast hand's reports carry
// large counts, even or odd by chance, and say nothing of the step.
int countStep(const StampSeries& s) {
  int64_t small = 0, odd = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const int c = largerAxis(s.motion(i));
    if (c <= 0 || c > kLargestSmallCount) continue;
    ++small;
    odd += c % 2 == 1;
  }
  return small >= kMinSmallCounts && static_cast<double>(odd) <= kOddCountShareForStepOfTwo * small
             ? 2
             : 1;
}

struct Window {
  double seconds = 0, intervals = 0, counts = 0;
};

// Windows of moving time: the intervals (not rests) that end at a report
// with X/Y motion, cut into pieces of kAllowedWindow; a shorter last piece
// of a stroke is kept. A gap longer than a window is the hand pausing: it
// ends a window and belongs to none. A gap that held a kernel drop is lost
// reports, not a pause: a short one counts as moving time as any interval
// does; one longer than a window neither ends a window nor counts against
// the mouse, whose own rate is judged around it.
std::vector<Window> windows(const StampSeries& s) {
  std::vector<bool> dropGap(s.size(), false);
  for (const DropMark& m : s.drops()) {
    if (m.before < s.size()) dropGap[m.before] = true;
  }
  std::vector<Window> out;
  Window w;
  const auto close = [&] {
    if (w.intervals > 0) out.push_back(w);
    w = {};
  };
  for (std::size_t i = 1; i < s.size(); ++i) {
    const int64_t d = s[i] - s[i - 1];
    const ReportMotion m = s.motion(i);
    if (dropGap[i] && d > kWindowNs) continue;
    if (d < 0 || d > kWindowNs || !m.known() || largerAxis(m) == 0) {
      if (d > kWindowNs) close();
      continue;
    }
    w.seconds += static_cast<double>(d) / 1e9;
    w.intervals += 1;
    w.counts += largerAxis(m);
    if (w.seconds * 1e9 >= static_cast<double>(kWindowNs)) close();
  }
  close();
  return out;
}

}  // namespace

void judgeCapability(const StampSeries& s, double yardstickHz, WholeTestFigures& f) {
  f.capabilityHz.reset();
  f.delivery = {};
  f.yardstickHz = yardstickHz;
  if (yardstickHz <= 0 || !f.motion.known) return;
  f.countStep = countStep(s);
  std::vector<std::pair<double, double>> ratios;  // delivered / allowed, moving seconds
  double fullSeconds = 0, fullIntervals = 0, total = 0;
  for (const Window& w : windows(s)) {
    if (w.seconds <= 0) continue;
    const double allowed = std::min(w.counts / w.seconds / f.countStep, yardstickHz);
    const double delivered = w.intervals / w.seconds;
    ratios.emplace_back(delivered / allowed, w.seconds);
    total += w.seconds;
    if (allowed >= yardstickHz) {
      fullSeconds += w.seconds;
      fullIntervals += w.intervals;
    }
  }
  if (fullSeconds >= kMinCapabilitySeconds) f.capabilityHz = fullIntervals / fullSeconds;
  if (ratios.empty()) return;
  std::sort(ratios.begin(), ratios.end());
  double below = 0, seen = 0;
  f.delivery.median = ratios.back().first;
  bool medianSet = false;
  for (const auto& [ratio, seconds] : ratios) {
    seen += seconds;
    if (ratio < kDeliveredShare) below += seconds;
    if (!medianSet && seen >= total / 2) {
      f.delivery.median = ratio;
      medianSet = true;
    }
  }
  f.delivery.shareBelow = below / total;
  f.delivery.known = true;
}
