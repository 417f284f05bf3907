#pragma once

#include <imgui.h>

#include "dashboard/Dashboard.h"

namespace dashboard {

// Draws the notice, if any, as one line in the gap between the cards and
// the control bar, so it covers no figure; a long folder keeps its end. A
// notice with an openPath is clickable and sets actions.openFolder. Main
// thread, inside draw().
void drawNotice(ImDrawList* dl, ImVec2 P, ImVec2 S, const Notice& notice, UiActions& actions);

}  // namespace dashboard
