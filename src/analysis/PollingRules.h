#pragma once

#include <array>
#include <chrono>
#include <cstddef>

// The rules the analyzer applies, in one place so that result files can state
// exactly what produced their figures.
namespace pollingrules {

using namespace std::chrono_literals;

// A report stamp older than this, or in the future, is replaced by the clock.
inline constexpr auto kStaleLimit = 2s;
// Intervals outside [kMinIntervalUs, kMaxIntervalUs] are not kept, nor one
// that starts or ends at a stamp the analyzer replaced; the retention range
// below removes outliers relative to the baseline, at any rate.
inline constexpr float kMinIntervalUs = 0.0f;
inline constexpr float kMaxIntervalUs = 50000.0f;
// No report for this long: the mouse is at rest, the rate falls to 0.
inline constexpr auto kActivityTimeout = 250ms;
inline constexpr auto kRateWindow = 500ms;
inline constexpr std::size_t kMinRateTimestamps = 16;
inline constexpr float kMinRateSpanMs = 450.0f;
// Maximum, minimum and average take rates only from this long after a reset.
inline constexpr auto kWarmUp = 400ms;
inline constexpr auto kHistoryPeriod = 50ms;
inline constexpr auto kDiagnosticsPeriod = 200ms;

inline constexpr std::size_t kMinDiagnosticsIntervals = 8;
// Intervals outside [low, high] x median are left out of jitter, anomalies
// and histogram.
inline constexpr float kRetainLowFactor = 0.2f;
inline constexpr float kRetainHighFactor = 10.0f;
// A retained interval above this x median is an anomaly.
inline constexpr float kAnomalyFactor = 1.5f;
inline constexpr std::array<float, 10> kBinWidthLadder = {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000};
inline constexpr float kWidestBinUs = 2000.0f;

// The target rates a test is measured against, and how a rate compares with
// its target: below kTargetNearRatio x target it is far below, from
// kTargetReachedRatio x target on it has reached it.
inline constexpr float kTargetRatesHz[7] = {125, 250, 500, 1000, 2000, 4000, 8000};
inline constexpr float kTargetNearRatio = 0.7f;
inline constexpr float kTargetReachedRatio = 0.95f;

}  // namespace pollingrules
