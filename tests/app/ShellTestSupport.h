#pragma once

#include <imgui.h>
#include <imgui_internal.h>

#include <chrono>
#include <string>

#include "app/Shell.h"

// The tests drive the shell's real process-wide monitor (never started, so
// no HID thread) and analyzer. Each test is its own process under CTest; the
// fixture still puts the shell back to its start-up state.
inline void resetShell() {
  g_testState = TestState::Idle;
  g_quitRequested = false;
  g_monitor.setMonitoring(false);
  g_analyzer.reset();
}

// Half a second of 1000 Hz reports ending now, so that the next update()
// shows a rate; after reset() it shows none.
inline void feedAnalyzer() {
  const auto now = std::chrono::steady_clock::now();
  for (int i = 490; i >= 0; --i) g_analyzer.addTimestamp(now - std::chrono::milliseconds(i));
}

inline bool analyzerHasRate() {
  g_analyzer.update();
  return g_analyzer.getStats().currentHz > 0.0f;
}

// One frame of the shell with Dear ImGui's log open: every text it drew.
inline std::string shellFrameText() {
  ImGui::NewFrame();
  ImGui::LogToBuffer();
  drawUI();
  std::string out = GImGui->LogBuffer.c_str();
  ImGui::LogFinish();
  ImGui::Render();
  return out;
}
