#pragma once

#include <imgui.h>

#include <string>
#include <vector>

#include "dashboard/Dashboard.h"

// Named dashboard states for the preview tool and the benchmark: what a user
// would see in each situation, without a mouse.
namespace dashboard {

struct Fixture {
  std::string name;
  ImVec2 windowSize;
  UiState state;
};

std::vector<Fixture> previewFixtures();

// A test running on a mouse at `rateHz`: full history, full diagnostics.
UiState runningState(float rateHz);

}  // namespace dashboard
