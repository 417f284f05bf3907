#pragma once

#include <imgui.h>

#include "dashboard/Dashboard.h"
#include "dashboard/DashboardRules.h"

namespace dashboard {

inline constexpr ImU32 kNoticeWarnFill = IM_COL32(58, 42, 12, 240);

// Draws the notice, if any, as one line in the gap between the left
// column's cards and the control bar, so it covers no figure; a long folder
// keeps its end. A failed or impossible save is in the warning colours. A
// notice with an openPath is clickable and sets actions.openFolder. Main
// thread, inside draw().
void drawNotice(ImDrawList* dl, ImVec2 P, ImVec2 S, const GridLayout& g, const Notice& notice,
                UiActions& actions);

}  // namespace dashboard
