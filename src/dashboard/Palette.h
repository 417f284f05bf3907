#pragma once

#include <imgui.h>

#include "analysis/PollingRules.h"

namespace dashboard {

inline constexpr ImU32 kColBackground = IM_COL32(14, 15, 17, 255);
inline constexpr ImU32 kColCardFill = IM_COL32(24, 26, 30, 255);
inline constexpr ImU32 kColCardBorder = IM_COL32(42, 46, 53, 255);
inline constexpr ImU32 kColTextBright = IM_COL32(230, 234, 240, 255);
inline constexpr ImU32 kColTextLabel = IM_COL32(140, 148, 160, 255);
inline constexpr ImU32 kColTextMuted = IM_COL32(92, 99, 110, 255);
inline constexpr ImU32 kColGood = IM_COL32(46, 214, 110, 255);
inline constexpr ImU32 kColWarn = IM_COL32(255, 186, 56, 255);
inline constexpr ImU32 kColBad = IM_COL32(255, 86, 86, 255);
inline constexpr ImU32 kColAccent = IM_COL32(0, 195, 255, 255);

// The same colour with another alpha (0..255).
constexpr ImU32 withAlpha(ImU32 col, int alpha) {
  return (col & ~IM_COL32_A_MASK) | (static_cast<ImU32>(alpha) << IM_COL32_A_SHIFT);
}

// Test states as the shell passes them in UiState::testState.
inline constexpr int kStateIdle = 0;
inline constexpr int kStateRunning = 1;
inline constexpr int kStatePaused = 2;

inline constexpr const float (&kTargetRates)[7] = pollingrules::kTargetRatesHz;
inline constexpr int kTargetRateCount = 7;

}  // namespace dashboard
