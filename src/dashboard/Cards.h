#pragma once

#include <imgui.h>

#include "analysis/PollingStats.h"
#include "dashboard/DashboardRules.h"

// The cards of the grid, drawn into the root window's draw list.
namespace dashboard {

struct UiState;

// Current rate, history chart, the three tiles and the target-ratio ring.
void drawRateCards(ImDrawList* dl, const GridLayout& g, const UiState& ui, float targetHz,
                   HeldRate& held, HintFlags hints);

// Interval distribution and signal quality.
void drawDiagnosticCards(ImDrawList* dl, const GridLayout& g, const PollingStats& stats,
                         int testState);

}  // namespace dashboard
