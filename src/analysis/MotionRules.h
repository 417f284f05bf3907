#pragma once

#include <chrono>

// How the reports' motion explains a rate that falls short, in one place for
// the whole-test cause, the window's hint and the result files.
namespace motionrules {

using namespace std::chrono_literals;

// At least this share of the reports with motion carrying a single count on
// their larger axis: the sensor reports as soon as one count has built up, so
// the hand's speed sets the rate.
inline constexpr double kSingleCountShareSpeedLimited = 0.5;
// The window's hint looks at the last second of reports.
inline constexpr auto kLiveMotionSpan = 1s;
// A speed band has reached the rate asked for from this share of it on, and
// counts only with this much moving time in it.
inline constexpr double kBandReachedRatio = 0.95;
inline constexpr double kMinBandSeconds = 0.1;
// Reports the kernel dropped, as a share of the test's, that make the
// kernel the cause of a shortfall.
inline constexpr double kKernelDropShare = 0.01;

}  // namespace motionrules
