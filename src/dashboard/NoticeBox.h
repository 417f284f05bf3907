#pragma once

#include <imgui.h>

#include "dashboard/Dashboard.h"

namespace dashboard {

// Draws the notice, if any, as a box over the bottom-left of the window just
// above the control bar, on top of the cards. A notice with an openPath is
// clickable and sets actions.openFolder. Main thread, inside draw().
void drawNotice(ImDrawList* dl, ImVec2 P, ImVec2 S, const Notice& notice, UiActions& actions);

}  // namespace dashboard
