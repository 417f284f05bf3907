#include "app/WindowGeometry.h"

#include <algorithm>

WindowPlacement placeWindow(const std::optional<Rect>& workArea, const FrameExtents& frame) {
  const Rect area = workArea.value_or(kNoMonitorArea);
  WindowPlacement p;
  p.content.x = area.x + frame.left;
  p.content.y = area.y + frame.top;
  p.content.width = std::max(1, area.width - frame.left - frame.right);
  p.content.height = std::max(1, area.height - frame.top - frame.bottom);
  p.minWidth = std::min(area.width, 900);
  p.minHeight = std::min(area.height, 640);
  return p;
}
