#include "app/SolidFill.h"

#include <GLFW/glfw3.h>

#include <algorithm>
#include <cmath>

#include "dashboard/DrawKit.h"

namespace {

// Pixel rows or columns whose centres lie in [from, to), as a triangle
// rasterizer covers them.
void coveredSpan(float from, float to, int& first, int& end) {
  first = static_cast<int>(std::ceil(from - 0.5f));
  end = static_cast<int>(std::ceil(to - 0.5f));
}

}  // namespace

void glSolidFill(const ImDrawList*, const ImDrawCmd* cmd) {
  const auto* r = static_cast<const dashboard::SolidRects*>(cmd->UserCallbackData);
  const ImDrawData* dd = ImGui::GetDrawData();
  if (r == nullptr || dd == nullptr) return;
  const ImVec2 scale = dd->FramebufferScale;
  const int fbHeight = static_cast<int>(dd->DisplaySize.y * scale.y);
  const ImVec4 c = ImGui::ColorConvertU32ToFloat4(r->col);
  glClearColor(c.x, c.y, c.z, c.w);
  glEnable(GL_SCISSOR_TEST);  // the backend's state has it on; a clear must never reach further
  for (int i = 0; i < 2; ++i) {
    // Within the command's clip rectangle, in framebuffer pixels.
    const ImVec4& clip = cmd->ClipRect;
    const float x0 = (std::max(r->min[i].x, clip.x) - dd->DisplayPos.x) * scale.x;
    const float x1 = (std::min(r->max[i].x, clip.z) - dd->DisplayPos.x) * scale.x;
    const float y0 = (std::max(r->min[i].y, clip.y) - dd->DisplayPos.y) * scale.y;
    const float y1 = (std::min(r->max[i].y, clip.w) - dd->DisplayPos.y) * scale.y;
    int left = 0, right = 0, top = 0, bottom = 0;
    coveredSpan(x0, x1, left, right);
    coveredSpan(y0, y1, top, bottom);
    if (right <= left || bottom <= top) continue;
    glScissor(left, fbHeight - bottom, right - left, bottom - top);
    glClear(GL_COLOR_BUFFER_BIT);
  }
}
