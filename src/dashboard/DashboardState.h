#pragma once

#include <cstdint>
#include <string>

#include "dashboard/DashboardRules.h"

namespace dashboard {

// What the dashboard remembers between frames. It lives for the process: a
// test reset or another device leaves it alone.
struct DashboardState {
  std::string devicePreview;  // text of the closed device picker
  int32_t targetIndex = 3;    // into kTargetRates: 1000 Hz
  bool targetPicked = false;  // the user chose a target; stop following the mouse
  HeldRate held;
  SpeedHint speedHint;
  SpeedHint deviceHint;  // the same timing for a mouse that holds the rate back
};

DashboardState& dashboardState();

namespace detail {
// Back to the start-up state, for tests and the preview tool that draw
// unrelated states in one process.
void resetState();
}  // namespace detail

}  // namespace dashboard
