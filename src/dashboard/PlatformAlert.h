#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The in-window banner and its buttons. Built by the shell each frame and
// drawn by the dashboard; kept here so the dashboard does not depend on the shell.
enum class PlatformActionKind : int32_t {
  OpenUrl = 0,
  Relaunch = 1,
};

struct PlatformAction {
  PlatformActionKind kind = PlatformActionKind::OpenUrl;
  std::string label;
  std::string url;  // empty for Relaunch
};

struct PlatformAlert {
  std::string title;  // empty: no banner
  std::string detail;
  std::vector<PlatformAction> actions;
};
