#include "dashboard/NoticeBox.h"

#include <algorithm>

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
  const float W = std::min(std::max(ts.x, ds.x) + 32, S.x - 40);
  if (W < 1) return;  // no room in a window this narrow
  const float H = 24 + ts.y + (notice.detail.empty() ? 0 : 4 + ds.y);
  const ImVec2 B(P.x + 20, P.y + S.y - 58 - 12 - H);
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
    drawText(dl, ImVec2(B.x + 16, B.y + 12), c.text, notice.text.c_str());
  }
  if (!notice.detail.empty()) {
    FontScope font(f.small, 13.0f);
    drawText(dl, ImVec2(B.x + 16, B.y + 16 + ts.y), c.detail, notice.detail.c_str());
  }
  dl->PopClipRect();
}

}  // namespace dashboard
