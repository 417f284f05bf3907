#include "dashboard/NoticeBox.h"

#include <algorithm>
#include <string>

#include "dashboard/DrawKit.h"
#include "dashboard/Palette.h"

namespace dashboard {
namespace {

struct NoticeColours {
  ImU32 fill, border, text, detail;
};

NoticeColours noticeColours(bool failed, bool hovered) {
  if (failed)
    return {IM_COL32(72, 22, 22, 240), IM_COL32(140, 50, 50, 255), IM_COL32(255, 158, 158, 255),
            IM_COL32(255, 158, 158, 190)};
  return {IM_COL32(20, 40, 30, 240), withAlpha(kColGood, hovered ? 255 : 140), kColGood,
          kColTextLabel};
}

// The end of `text` that fits in `width` after a leading "…".
std::string keepEnd(const std::string& text, float width) {
  if (textSize(text.c_str()).x <= width) return text;
  size_t from = 0;
  while (from < text.size()) {
    do ++from;
    while (from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80);
    const std::string shown = "…" + text.substr(from);
    if (textSize(shown.c_str()).x <= width) return shown;
  }
  return "…";
}

}  // namespace

void drawNotice(ImDrawList* dl, ImVec2 P, ImVec2 S, const Notice& notice, UiActions& actions) {
  if (notice.text.empty()) return;
  const Fonts& f = fonts();
  ImVec2 ts, ds;
  {
    FontScope font(f.body, 16.0f);
    ts = textSize(notice.text.c_str());
  }
  if (!notice.detail.empty()) {
    FontScope font(f.small, 13.0f);
    ds = textSize(notice.detail.c_str());
  }
  // The cards end 84 pixels above the bottom, the buttons start 58 above it.
  const float gap = notice.detail.empty() ? 0.0f : 12.0f;
  const float W = std::min(ts.x + gap + ds.x + 32, S.x - 40);
  if (W < 1) return;  // no room in a window this narrow
  const float H = ts.y + 4;
  const ImVec2 B(P.x + 20, P.y + S.y - 60 - H);
  const ImVec2 end(B.x + W, B.y + H);

  bool hovered = false;
  if (!notice.openPath.empty()) {
    ImGui::SetCursorScreenPos(B);
    if (ImGui::InvisibleButton("##notice", ImVec2(W, H))) actions.openFolder = notice.openPath;
    hovered = ImGui::IsItemHovered();
    if (hovered) ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
  }
  const NoticeColours c = noticeColours(notice.failed, hovered);
  dl->AddRectFilled(B, end, c.fill, 6.0f, 0);
  dl->AddRect(B, end, c.border, 6.0f, 0, 1.0f);
  dl->PushClipRect(B, end, true);  // a long folder name is cut at the box's edge
  {
    FontScope font(f.body, 16.0f);
    drawText(dl, ImVec2(B.x + 16, B.y + 2), c.text, notice.text.c_str());
  }
  if (!notice.detail.empty()) {
    FontScope font(f.small, 13.0f);
    const float x = B.x + 16 + ts.x + gap;
    drawText(dl, ImVec2(x, B.y + 2 + ts.y - ds.y), c.detail,
             keepEnd(notice.detail, B.x + W - 16 - x).c_str());
  }
  dl->PopClipRect();
}

}  // namespace dashboard
