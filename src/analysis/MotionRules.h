#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "analysis/ReportMotion.h"
#include "analysis/StampSeries.h"

// When the reports' motion says the hand, not the mouse, limits the rate: a
// sensor reports as soon as one count (one step of counts) has built up, so
// a mouse can only be judged where the motion allowed its full rate. The
// window's live hint reads the share of single-count reports; the
// whole-test cause and verdict read what the motion allowed per window.
namespace motionrules {

using namespace std::chrono_literals;

// At least this share of the reports carry a single count on their larger axis.
inline constexpr double kSpeedLimitedShare = 0.5;
// The live hint looks at the reports of this span before the newest one.
inline constexpr auto kSpeedLimitedSpan = 1s;

// A speed band has reached the rate asked for from this share of it on, and
// counts only with this much moving time in it.
inline constexpr double kBandReachedRatio = 0.95;
inline constexpr double kMinBandSeconds = 0.1;

// The rate the motion allowed is judged over windows of this much moving
// time: min(larger-axis counts per second / count step, yardstick).
inline constexpr auto kAllowedWindow = 50ms;
// A mouse's counts come in steps of 2 (interpolated DPI) when at most this
// share of its reports with small counts (1 to kLargestSmallCount on the
// larger axis) carry an odd count, and there are kMinSmallCounts of them.
inline constexpr double kOddCountShareForStepOfTwo = 0.01;
inline constexpr int kLargestSmallCount = 3;
inline constexpr long kMinSmallCounts = 20;
// Moving time where the mouse delivered less than this share of what the
// motion allowed counts as falling short.
inline constexpr double kDeliveredShare = 0.9;
// The capability is known when the windows where the motion allowed the
// full yardstick add up to this much.
inline constexpr double kMinCapabilitySeconds = 0.1;
// Kernel drops explain a shortfall when the rate with the dropped reports
// added back reaches this share of the yardstick.
inline constexpr double kKernelExplainsRatio = 0.95;
// The host limits the rate when it polls below the rate the mouse asks for
// by more than this share, and the rate reaches this share of the host's.
inline constexpr double kHostBelowMouseRatio = 0.95;
inline constexpr double kHostMatchRatio = 0.95;

// A report without X/Y motion (buttons or wheel only): counted as a report,
// but it does not make a still mouse moving.
inline bool stillReport(const ReportMotion& m) { return m.known() && m.dx == 0 && m.dy == 0; }

// A known motion whose larger axis moved by exactly one count.
inline bool singleCount(const ReportMotion& m) {
  return m.known() && std::max(std::abs(m.dx), std::abs(m.dy)) == 1;
}

// Whether the reports of the last kSpeedLimitedSpan of `series` (up to its
// newest report) are speed-limited by the share above. False when none of
// them has a known motion, or when the series stopped growing at its bound.
// Reads at most one span of reports; any thread.
inline bool speedLimitedAtEnd(const StampSeries& series) {
  if (series.empty() || series.truncated()) return false;
  const int64_t spanNs = std::chrono::nanoseconds(kSpeedLimitedSpan).count();
  const int64_t from = series[series.size() - 1] - spanNs;
  std::size_t known = 0, single = 0;
  for (std::size_t i = series.size(); i-- > 0 && series[i] >= from;) {
    const ReportMotion m = series.motion(i);
    known += m.known() ? 1 : 0;
    single += singleCount(m) ? 1 : 0;
  }
  return known > 0 &&
         static_cast<double>(single) >= kSpeedLimitedShare * static_cast<double>(known);
}

// What the last kSpeedLimitedSpan of reports says about the hand and the
// mouse, for the window's hints.
struct RecentMotion {
  bool speedLimited = false;   // as speedLimitedAtEnd
  bool deviceLimited = false;  // most reports carried two count steps or more
  double countsPerSecond = 0;  // the hand: larger-axis counts per second
  int countStep = 1;  // 2 when every small count (up to kLargestSmallCount) was even, else 1
};

inline RecentMotion recentMotion(const StampSeries& series) {
  RecentMotion r;
  if (series.empty() || series.truncated()) return r;
  const int64_t spanNs = std::chrono::nanoseconds(kSpeedLimitedSpan).count();
  const int64_t from = series[series.size() - 1] - spanNs;
  std::size_t known = 0, single = 0;
  int64_t counts = 0;
  bool allEven = true;  // of the small counts
  std::size_t small = 0;
  std::size_t i = series.size();
  for (; i-- > 0 && series[i] >= from;) {
    const ReportMotion m = series.motion(i);
    if (!m.known()) continue;
    const int larger = std::max(std::abs(m.dx), std::abs(m.dy));
    ++known;
    single += larger == 1 ? 1 : 0;
    counts += larger;
    if (larger > 0 && larger <= kLargestSmallCount) {
      ++small;
      allEven = allEven && larger % 2 == 0;
    }
  }
  if (known == 0 || counts == 0) return r;
  const int step = allEven && small > 0 ? 2 : 1;
  std::size_t several = 0;
  for (std::size_t k = i + 1; k < series.size(); ++k) {
    const ReportMotion m = series.motion(k);
    several += m.known() && std::max(std::abs(m.dx), std::abs(m.dy)) >= 2 * step ? 1 : 0;
  }
  const double n = static_cast<double>(known);
  r.speedLimited = static_cast<double>(single) >= kSpeedLimitedShare * n;
  r.deviceLimited = static_cast<double>(several) > kSpeedLimitedShare * n;
  // A test younger than the span: its counts over the time it has run (one
  // interval more than its stamps span), not over a whole span.
  const std::size_t first = i + 1;
  double seconds = std::chrono::duration<double>(kSpeedLimitedSpan).count();
  const int64_t covered = series[series.size() - 1] - series[first];
  if (first == 0 && series.size() > 1 && covered < spanNs * 9 / 10)
    seconds = static_cast<double>(covered) * static_cast<double>(series.size()) /
              static_cast<double>(series.size() - 1) / 1e9;
  r.countsPerSecond = static_cast<double>(counts) / seconds;
  r.countStep = step;
  return r;
}

}  // namespace motionrules
