#pragma once

// Runs the dashboard headless: a Dear ImGui context without backends, frames
// drawn from a given UiState, mouse clicks injected as input events, texts read
// back through Dear ImGui's log and shapes found in the draw list by colour.
#include <imgui.h>

#include <functional>
#include <string>
#include <vector>

#include "HeadlessImgui.h"
#include "dashboard/Dashboard.h"

namespace dashboard::testing {

struct Box {
  ImVec2 min, max;
  float width() const { return max.x - min.x; }
  float height() const { return max.y - min.y; }
  ImVec2 centre() const { return ImVec2((min.x + max.x) * 0.5f, (min.y + max.y) * 0.5f); }
  bool empty() const { return max.x < min.x; }
  bool contains(ImVec2 p) const {
    return p.x >= min.x && p.x <= max.x && p.y >= min.y && p.y <= max.y;
  }
};

// A rectangle from its corner and size, as the layout gives them.
inline Box rect(float x, float y, float w, float h) {
  return Box{ImVec2(x, y), ImVec2(x + w, y + h)};
}

// Moves the mouse to pos, presses and releases the left button, drawing a
// frame with `frame` after each step and two more for popups to settle.
void clickAt(ImVec2 pos, const std::function<void()>& frame);
// Centre of the n-th entry of the open combo list; (-1, -1) when none is open.
ImVec2 comboEntry(int n);

class Harness {
 public:
  // Without a FontConfig the dashboard runs on Dear ImGui's built-in font.
  explicit Harness(ImVec2 windowSize = ImVec2(1280, 820));
  Harness(ImVec2 windowSize, const FontConfig& fonts);
  Harness(const Harness&) = delete;
  Harness& operator=(const Harness&) = delete;

  // One frame; the actions draw() returned.
  UiActions frame(const UiState& ui);
  // One frame with the log open: every text the frame drew.
  std::string text(const UiState& ui);
  // Moves the mouse to pos, presses and releases the left button over three
  // frames; the actions of those frames merged.
  UiActions click(const UiState& ui, ImVec2 pos);

  // Vertices of the root window's last frame with exactly this colour.
  std::vector<ImVec2> verticesOf(ImU32 col) const;
  bool hasColour(ImU32 col) const { return !verticesOf(col).empty(); }
  // Shapes of one colour, told apart by the empty columns between them.
  std::vector<Box> boxesOf(ImU32 col) const;
  Box boundsOf(ImU32 col) const;
  // Bounds of the vertices of this colour inside `within`; empty() when none.
  Box boundsOf(ImU32 col, const Box& within) const;

  ImVec2 comboEntry(int n) const { return testing::comboEntry(n); }

  // The last frame's texts and controls added to the original design that
  // cover another text or control, cross a card's (or the banner's, the
  // picker's) edge or leave the window: one line each, empty when none.
  std::vector<std::string> layoutFaults() const;

  ImVec2 size() const { return size_; }
  float lineHeight();  // height of one line of text in the current font

 private:
  void setUp(const FontConfig& fonts);
  ImVec2 size_;
  HeadlessImgui imgui_;
};

}  // namespace dashboard::testing
