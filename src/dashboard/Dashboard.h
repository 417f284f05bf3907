#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/PollingStats.h"
#include "dashboard/FontConfig.h"
#include "dashboard/PlatformAlert.h"
#include "hid/HIDDeviceInfo.h"

namespace dashboard {

// A short message over the bottom of the window, e.g. where a result went.
struct Notice {
  std::string text;      // empty: no notice
  std::string detail;    // a second, muted line (a folder), may be empty
  std::string openPath;  // clicking the notice opens this folder; empty: not clickable
  bool failed = false;   // drawn in the error colours
};

// The colour of the verdict line: good (reached), warn (near, host or
// kernel limited), bad (the mouse fell short), neutral (unknown).
enum class VerdictTone { None, Good, Warn, Bad, Neutral };

// Everything one frame of the dashboard shows; filled by the shell each frame.
struct UiState {
  PollingStats stats;
  std::vector<HIDDeviceInfo> devices;
  int32_t selectedDevice = -1;  // index into devices, -1 = none
  int32_t testState = 0;        // 0 idle, 1 running, 2 paused
  PlatformAlert alert;          // empty title: no banner
  bool canSave = false;         // the test has figures to save
  Notice notice;
  // Most of the last second's reports carried a single count: the hand, not
  // the mouse, limits the rate (MotionRules.h).
  bool speedLimited = false;
  // Most of the last second's reports carried several count steps: a fast
  // hand, so a rate below the target is the mouse's or its link's.
  bool deviceLimited = false;
  float handCountsPerS = 0;  // the last second's larger-axis counts per second
  int countStep = 1;         // 2 when every count was even (interpolated DPI)
  double cpi = 0;            // measured on the buttons page in this window; 0 when not
  float configuredHz = 0;    // the selected mouse's configured rate; 0 unknown
  // The whole test's verdict so far, in the terminal's words; empty before
  // the first is judged.
  std::string verdictText;
  VerdictTone verdictTone = VerdictTone::None;
  // The verdict is unknown because the hand was too slow: the rate and the
  // ring are drawn neutral, not as a shortfall of the mouse.
  bool handLimited = false;
  double elapsedSeconds = 0;  // the test's first report to its newest
};

// What the user did during one frame; the shell applies it after draw().
struct UiActions {
  bool startPressed = false;
  bool pausePressed = false;
  bool resetPressed = false;
  int32_t selectDevice = -1;     // index into UiState::devices
  int32_t alertAction = -1;      // index into UiState::alert.actions
  std::string openUrl;           // the studio link was clicked
  bool savePressed = false;      // "保存结果"
  std::string openFolder;        // the notice was clicked: its openPath
  bool showButtonsPage = false;  // "按键与 CPI" was clicked
};

// Loads the fonts and sets the theme. Once, after the ImGui context exists.
void init(const FontConfig& config);

// Draws the whole window; call between ImGui::NewFrame and ImGui::Render.
UiActions draw(const UiState& ui);

}  // namespace dashboard
