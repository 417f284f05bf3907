#include "dashboard/NoticeBox.h"

#include <algorithm>
#include <string>

#include "dashboard/DrawKit.h"
#include "dashboard/LayoutRecord.h"
#include "dashboard/Palette.h"

namespace dashboard {
namespace {

struct NoticeColours {
  ImU32 fill, border, text, detail;
};

// A save that failed or could not start is a warning, never a success.
NoticeColours noticeColours(bool failed, bool hovered) {
  if (failed) return {kNoticeWarnFill, withAlpha(kColWarn, 160), kColWarn, kColTextLabel};
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

void drawNotice(ImDrawList* dl, ImVec2 P, ImVec2 S, const GridLayout& g, const Notice& notice,
                UiActions& actions) {
  if (notice.text.empty()) return;
  AddedElement added("notice");
  // One line in the small size, so it fits the 20-pixel margin between the
  // left column's cards and the buttons; the right column can reach lower.
  FontScope font(fonts().small, 13.0f);
  const ImVec2 ts = textSize(notice.text.c_str());
  const ImVec2 ds = notice.detail.empty() ? ImVec2(0, 0) : textSize(notice.detail.c_str());
  const float gap = notice.detail.empty() ? 0.0f : 12.0f;
  const float room = g.fits ? g.leftW : S.x - 40;
  const float W = std::min(ts.x + gap + ds.x + 24, room);
  if (W < 1) return;  // no room in a window this narrow
  const float H = ts.y + 2;
  const float buttonsTop = P.y + S.y - 58;
  const ImVec2 B(P.x + 20, buttonsTop - 3 - H);
  const ImVec2 end(B.x + W, B.y + H);

  bool hovered = false;
  if (!notice.openPath.empty()) {
    ImGui::SetCursorScreenPos(B);
    if (ImGui::InvisibleButton("##notice", ImVec2(W, H))) actions.openFolder = notice.openPath;
    hovered = ImGui::IsItemHovered();
    if (hovered) ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
  }
  const NoticeColours c = noticeColours(notice.failed, hovered);
  dl->AddRectFilled(B, end, c.fill, 4.0f, 0);
  dl->AddRect(B, end, c.border, 4.0f, 0, 1.0f);
  placeRect("notice", B, end, PlacedKind::Added);
  dl->PushClipRect(B, end, true);  // a long folder name is cut at the box's edge
  drawText(dl, ImVec2(B.x + 12, B.y + 1), c.text, notice.text.c_str());
  if (!notice.detail.empty()) {
    const float x = B.x + 12 + ts.x + gap;
    drawText(dl, ImVec2(x, B.y + 1), c.detail, keepEnd(notice.detail, B.x + W - 12 - x).c_str());
  }
  dl->PopClipRect();
}

}  // namespace dashboard
