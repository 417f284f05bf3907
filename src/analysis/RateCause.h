#pragma once

#include <optional>
#include <string>

#include "analysis/WholeTestAnalysis.h"

// Why a test's rate while moving fell short of the rate asked for (the
// mouse's configured rate, else the target), or that it did not. Rules and
// thresholds in analysis/MotionRules.h and docs/result-schema.md.
enum class RateCauseKind { Reached, SpeedLimited, KernelDrops, DeviceLimited, NoMotionData };

// "reached", "speed_limited", "kernel_drops", "device_limited", "no_motion_data".
const char* rateCauseKey(RateCauseKind kind);

struct RateCause {
  RateCauseKind kind = RateCauseKind::NoMotionData;
  double yardstickHz = 0;  // the rate the test is held against
  double ratio = 0;        // moving rate / yardstick
  // The slowest speed band whose rate reached the yardstick; none when no
  // band did or the motion is unknown.
  std::optional<double> saturationCountsPerS;
  std::string text;  // in plain words, for the summary, the plot and the window
};

// Nothing to say (nullopt) without intervals or a yardstick. Pure.
std::optional<RateCause> diagnoseRate(const WholeTestFigures& figures, double yardstickHz);
