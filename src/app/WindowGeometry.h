#pragma once

#include <optional>

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// Where the window goes: its content area and its minimum content size.
struct WindowPlacement {
  Rect content;
  int minWidth = 0;
  int minHeight = 0;
};

// Decoration sizes the window manager adds around the content area.
struct FrameExtents {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

inline constexpr Rect kNoMonitorArea{0, 0, 1180, 820};

// The window's outer frame fills the work area (the monitor without panels
// and docks); without a monitor it is kNoMonitorArea. The minimum size is
// 900 x 640, or the work area's own size where that is smaller.
WindowPlacement placeWindow(const std::optional<Rect>& workArea, const FrameExtents& frame);
