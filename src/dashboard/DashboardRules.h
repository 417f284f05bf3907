#pragma once

#include <imgui.h>

#include <string>
#include <vector>

#include "analysis/PollingStats.h"

// The decisions behind the dashboard's pictures, kept apart from the drawing
// so each rule can be checked on its own.
namespace dashboard {

// The current rate as displayed: it changes at most four times a second and
// falls to 0 at once.
struct HeldRate {
  float shownHz = 0.0f;
  double shownAt = -1.0;  // ImGui time of the last change, -1 when nothing is held
  float lastHz = 0.0f;    // the last rate above 0: what a paused test shows

  float update(float currentHz, double now);
};

// The speed hint under the gauge: a test runs, the motion says the hand is
// the limit (UiState::speedLimited), and the rate has stayed below the
// target's near share for a second (counted from the frame it fell below).
struct SpeedHint {
  double belowSince = -1.0;  // ImGui time the rate fell below, -1 while not below

  bool update(bool running, bool speedLimited, float currentHz, float targetHz, double now);
};

// Colour of the number, target line and ring: inactive unless a test runs
// with a rate; then red / amber / green by the ratio to the target.
ImU32 rateColour(int testState, float shownHz, float targetHz, ImU32 inactive, int alpha);

// Index into kTargetRates nearest to hz; the lower rate wins a tie.
int nearestTargetIndex(float hz);
// The automatic target: the mouse's configured rate when known, else the
// rate nearest the measured baseline; -1 when neither is known.
int automaticTargetIndex(float configuredHz, float baselineHz);

// The line under the big number: what to do, or what holds the rate back.
struct RateHint {
  std::string text;  // empty: none
  ImU32 colour = 0;
};
struct HintFlags {
  bool speed = false, device = false;  // SpeedHint's answers for this frame
};

// History chart scale: at least 20 % above the target, 10 % above every
// sample, rounded up to a multiple of 100 Hz.
float historyTop(float targetHz, const std::vector<float>& history);
// Spacing of the chart's grid lines for a given top.
float historyGridStep(float top);

// Histogram bars from 1.5 times the baseline interval on are amber.
float histogramLimit(float baselineUs, float binWidthUs);
ImU32 histogramBarColour(int bin, float limit);

// One figure of the signal-quality card: rows 0 to 3 are the baseline,
// jitter, anomalies and stability; 4 and 5, the longest interval and the
// kernel drops, share a fifth line.
struct QualityRow {
  const char* label;
  char value[48];
  ImU32 colour;
};
inline constexpr int kQualityRowCount = 6;
QualityRow qualityRow(int row, const PollingStats& stats);

// The smallest window the cards fit in without running under the control
// bar, and at least `otherWidth` wide (what the header and the bar need),
// for the text that asks for it.
ImVec2 smallestGridWindow(float contentTopOffset, float otherWidth);

// Where the cards go. fits is false when the window is too small for them.
struct GridLayout {
  bool fits = false;
  float L = 0, R = 0, T = 0;
  float leftW = 0, availH = 0;
  float hH = 0, dH = 0, tileW = 0;
  float barTop = 0;  // the control bar's 64 pixels start here
  // Bottom of the lower card of each column (the floors of hH and dH can
  // put it below barTop on a short window).
  float leftBottom() const { return T + 304 + hH; }
  float rightBottom() const { return T + 396 + dH; }
};
GridLayout gridLayout(ImVec2 pos, ImVec2 size, float contentTop);

}  // namespace dashboard
