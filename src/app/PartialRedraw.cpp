#include "app/PartialRedraw.h"

#include <GLFW/glfw3.h>
#include <imgui_impl_opengl3.h>

#include <algorithm>

PartialRedraw::PartialRedraw(ImDrawCallback solidFill, ImU32 background)
    : solidFill_(solidFill), background_(ImGui::ColorConvertU32ToFloat4(background)) {}

std::vector<PixelRect> PartialRedraw::rectsToDraw(ImDrawData& data, int fbWidth, int fbHeight,
                                                  int age) {
  const PixelRect whole{0, 0, fbWidth, fbHeight};
  if (!wholePixelScale(data)) {
    damage_.invalidate();
    recent_.clear();
    return {whole};
  }
  snapClipRects(data);
  recent_.push_front(damage_.update(data, fbWidth, fbHeight, solidFill_));
  if (recent_.size() > kAges) recent_.pop_back();
  // A buffer last drawn `age` frames ago misses the damage of every frame since.
  if (age <= 0 || static_cast<size_t>(age) > recent_.size()) return {whole};
  std::vector<PixelRect> rects;
  for (int i = 0; i < age; ++i) rects.insert(rects.end(), recent_[i].begin(), recent_[i].end());
  mergeRects(rects, FrameDamage::kMaxRects);
  return rects;
}

void PartialRedraw::draw(ImDrawData& data, int fbWidth, int fbHeight, int age) {
  const std::vector<PixelRect> rects = rectsToDraw(data, fbWidth, fbHeight, age);
  glViewport(0, 0, fbWidth, fbHeight);
  long long drawn = 0;
  for (const PixelRect& r : rects) {
    drawPass(data, r, fbHeight);
    drawn += r.area();
  }
  const long long whole = static_cast<long long>(fbWidth) * fbHeight;
  share_ = whole > 0 ? std::min(1.0, static_cast<double>(drawn) / static_cast<double>(whole)) : 0.0;
}

void PartialRedraw::drawPass(ImDrawData& data, PixelRect r, int fbHeight) {
  glEnable(GL_SCISSOR_TEST);
  glScissor(r.x0, fbHeight - r.y1, r.x1 - r.x0, r.y1 - r.y0);
  glClearColor(background_.x, background_.y, background_.z, background_.w);
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_SCISSOR_TEST);
  // Every command clipped to the rectangle, then put back as it was.
  const ImVec4 cut = clipOf(data, r);
  clips_.clear();
  for (ImDrawList* list : data.CmdLists)
    for (ImDrawCmd& cmd : list->CmdBuffer) {
      clips_.push_back(cmd.ClipRect);
      cmd.ClipRect = ImVec4(std::max(cmd.ClipRect.x, cut.x), std::max(cmd.ClipRect.y, cut.y),
                            std::min(cmd.ClipRect.z, cut.z), std::min(cmd.ClipRect.w, cut.w));
    }
  ImGui_ImplOpenGL3_RenderDrawData(&data);
  size_t i = 0;
  for (ImDrawList* list : data.CmdLists)
    for (ImDrawCmd& cmd : list->CmdBuffer) cmd.ClipRect = clips_[i++];
}
