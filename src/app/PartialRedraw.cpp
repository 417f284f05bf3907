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
  // Every command clipped to the rectangle and left with the triangles that
  // reach it, then put back as it was.
  const ImVec4 cut = clipOf(data, r);
  saved_.clear();
  if (kept_.size() < static_cast<size_t>(data.CmdLists.Size)) kept_.resize(data.CmdLists.Size);
  for (int l = 0; l < data.CmdLists.Size; ++l) {
    ImDrawList& list = *data.CmdLists[l];
    for (ImDrawCmd& cmd : list.CmdBuffer) {
      saved_.push_back({cmd.ClipRect, cmd.IdxOffset, cmd.ElemCount});
      cmd.ClipRect = ImVec4(std::max(cmd.ClipRect.x, cut.x), std::max(cmd.ClipRect.y, cut.y),
                            std::min(cmd.ClipRect.z, cut.z), std::min(cmd.ClipRect.w, cut.w));
    }
    kept_[static_cast<size_t>(l)].swap(list.IdxBuffer);
    keepTrianglesIn(list, kept_[static_cast<size_t>(l)], cut);
  }
  ImGui_ImplOpenGL3_RenderDrawData(&data);
  size_t i = 0;
  for (int l = 0; l < data.CmdLists.Size; ++l) {
    ImDrawList& list = *data.CmdLists[l];
    list.IdxBuffer.swap(kept_[static_cast<size_t>(l)]);
    for (ImDrawCmd& cmd : list.CmdBuffer) {
      cmd.ClipRect = saved_[i].clip;
      cmd.IdxOffset = saved_[i].idxOffset;
      cmd.ElemCount = saved_[i].elemCount;
      ++i;
    }
  }
}

// A software rasteriser sets up every triangle it is given before the
// scissor discards it; a frame's curves are thousands of triangles, drawn
// once per rectangle. Those wholly outside `cut` cannot colour a pixel in it,
// so each command keeps the others only, in their order, taken from
// `source`, the list's own indices.
void PartialRedraw::keepTrianglesIn(ImDrawList& list, const ImVector<ImDrawIdx>& source,
                                    const ImVec4& cut) {
  list.IdxBuffer.resize(0);
  list.IdxBuffer.reserve(source.Size);
  for (ImDrawCmd& cmd : list.CmdBuffer) {
    const auto from = static_cast<unsigned>(list.IdxBuffer.Size);
    for (unsigned e = 0; e + 2 < cmd.ElemCount; e += 3) {
      const ImDrawIdx* t = source.Data + cmd.IdxOffset + e;
      const ImVec2 a = list.VtxBuffer[static_cast<int>(cmd.VtxOffset + t[0])].pos;
      const ImVec2 b = list.VtxBuffer[static_cast<int>(cmd.VtxOffset + t[1])].pos;
      const ImVec2 c = list.VtxBuffer[static_cast<int>(cmd.VtxOffset + t[2])].pos;
      // A pixel or more of margin: coverage never leaves the corners' box.
      if (std::max({a.x, b.x, c.x}) < cut.x - 1 || std::min({a.x, b.x, c.x}) > cut.z + 1 ||
          std::max({a.y, b.y, c.y}) < cut.y - 1 || std::min({a.y, b.y, c.y}) > cut.w + 1)
        continue;
      list.IdxBuffer.push_back(t[0]);
      list.IdxBuffer.push_back(t[1]);
      list.IdxBuffer.push_back(t[2]);
    }
    if (cmd.UserCallback == nullptr) {
      cmd.IdxOffset = from;
      cmd.ElemCount = static_cast<unsigned>(list.IdxBuffer.Size) - from;
    }
  }
}
