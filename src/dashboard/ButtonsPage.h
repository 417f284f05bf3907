#pragma once

#include <cstdint>
#include <string>

#include "analysis/ButtonAnalysis.h"
#include "analysis/CpiMeasure.h"

// The window's second page: the switch test (the mouse drawn with its
// buttons lighting while held, the figures per button, the chatter list and
// the verdicts the terminal gives) and the CPI measurement. Reached from the
// rate dashboard and back with one key (B) or one click.
namespace dashboard {

// The distances a CPI measurement offers; `cpi --distance` takes the same.
inline constexpr const char* kCpiDistances[] = {"5cm", "10cm", "20cm", "4in"};
inline constexpr int kCpiDistanceCount = 4;

struct CpiView {
  enum class Step { Idle, Countdown, Stroke, Done };
  Step step = Step::Idle;
  int stroke = 0;  // 1 to cpi::kStrokes while measuring
  int secondsLeft = 0;
  cpi::Stroke live;  // the stroke's counts so far
  cpi::CpiResult result;
  int distanceIndex = 1;  // into kCpiDistances
};

// Everything one frame of the page shows; filled by the shell.
struct ButtonsPageState {
  std::string deviceName;  // empty: no mouse
  buttons::ButtonSummary summary;
  int64_t startNs = 0;  // the zero of the chatter list's times
  uint32_t held = 0;    // bit n: button BTN_LEFT + n is down
  CpiView cpi;
};

struct ButtonsPageActions {
  bool back = false;        // to the rate dashboard
  bool clear = false;       // "清零": forget the presses so far
  bool measureCpi = false;  // start (or restart) a CPI measurement
  int distanceIndex = -1;   // a distance was picked
};

// Draws the whole window; between ImGui::NewFrame and ImGui::Render.
ButtonsPageActions drawButtonsPage(const ButtonsPageState& page);

}  // namespace dashboard
