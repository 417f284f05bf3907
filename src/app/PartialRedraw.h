#pragma once

#include <imgui.h>

#include <deque>
#include <vector>

#include "app/FrameDamage.h"

// Draws Dear ImGui's frames into the bound framebuffer, drawing again only
// what changed where the framebuffer still holds an earlier frame: each
// damaged rectangle is cleared and the whole draw data drawn clipped to it.
// A software renderer spends its time per pixel drawn, so a frame where the
// numbers change costs the numbers, not the window. At a fractional
// framebuffer scale every frame is drawn whole.
class PartialRedraw {
 public:
  // `solidFill` is the dashboard's solid fill callback, the only callback
  // whose pixels it can follow; `background` is what nothing drawn shows.
  PartialRedraw(ImDrawCallback solidFill, ImU32 background);

  // Draws `data` (after ImGui::Render) into the bound framebuffer of this
  // size. `age` says what that framebuffer holds: the frame this object
  // drew that many frames ago, or 0 when its pixels are unknown.
  void draw(ImDrawData& data, int fbWidth, int fbHeight, int age);
  // The share of the framebuffer the last frame drew, 0 to 1.
  double redrawnShare() const { return share_; }

 private:
  std::vector<PixelRect> rectsToDraw(ImDrawData& data, int fbWidth, int fbHeight, int age);
  void drawPass(ImDrawData& data, PixelRect r, int fbHeight);
  static void keepTrianglesIn(ImDrawList& list, const ImVector<ImDrawIdx>& source,
                              const ImVec4& cut);

  static constexpr size_t kAges = 3;  // frames of damage kept for buffers that rotate

  ImDrawCallback solidFill_;
  ImVec4 background_;
  FrameDamage damage_;
  std::deque<std::vector<PixelRect>> recent_;  // newest first
  struct SavedCmd {
    ImVec4 clip;
    unsigned idxOffset;
    unsigned elemCount;
  };
  std::vector<SavedCmd> saved_;
  std::vector<ImVector<ImDrawIdx>> kept_;  // each list's own indices during a pass
  double share_ = 1.0;
};
