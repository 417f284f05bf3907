#pragma once

#include <imgui.h>

#include <optional>
#include <string>
#include <vector>

#include "dashboard/ButtonsPage.h"
#include "dashboard/Dashboard.h"

// Named dashboard states for the preview tool and the benchmark: what a user
// would see in each situation, without a mouse.
namespace dashboard {

struct Fixture {
  std::string name;
  ImVec2 windowSize;
  UiState state;
  // Drawn running at this rate for the first frames: a paused test shows the
  // rate it last ran at. 0: the state from the first frame.
  float ranAtHz = 0;
  // Set: the buttons and CPI page in this state instead of the dashboard.
  std::optional<ButtonsPageState> page = std::nullopt;
};

std::vector<Fixture> previewFixtures();

// A test running on a mouse at `rateHz`: full history, full diagnostics.
UiState runningState(float rateHz);

}  // namespace dashboard
