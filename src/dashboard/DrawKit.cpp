#include "dashboard/DrawKit.h"

#include <imgui_internal.h>

#include <algorithm>
#include <cfloat>
#include <cstring>

#include "dashboard/LayoutRecord.h"
#include "dashboard/Palette.h"

namespace dashboard {

Fonts& fonts() {
  static Fonts s_fonts;
  return s_fonts;
}

namespace {

struct SizeScale {
  ImFont* font;
  float scale;
};
SizeScale s_scales[4] = {};

}  // namespace

void setSizeScale(ImFont* font, float scale) {
  for (SizeScale& s : s_scales) {
    if (s.font == font || s.font == nullptr) {
      s = SizeScale{font, scale};
      return;
    }
  }
}

void clearSizeScales() {
  for (SizeScale& s : s_scales) s = SizeScale{};
}

float sizeScale(ImFont* font) {
  for (const SizeScale& s : s_scales)
    if (s.font == font && font != nullptr) return s.scale;
  return 1.0f;
}

FontScope::FontScope(ImFont* font, float size) : pushed_(font != nullptr) {
  if (pushed_) ImGui::PushFont(font, size * sizeScale(font));
}

FontScope::~FontScope() {
  if (pushed_) ImGui::PopFont();
}

namespace {

void logText(ImVec2 pos, const char* text) {
  if (ImGui::GetCurrentContext()->LogEnabled)
    ImGui::LogRenderedText(&pos, text, text + ImStrlen(text));
}

// A line of text as the eye sees it: its width, and from the top of its
// highest glyph to the bottom of its lowest (a line box also holds the
// font's leading, which covers nothing).
void placeText(ImVec2 pos, ImVec2 size, const char* text, ImFont* font, float fontSize) {
  float top = 0, bottom = size.y;
  if (std::strchr(text, '\n') == nullptr && font != nullptr) {
    ImFontBaked* baked = font->GetFontBaked(fontSize);
    top = size.y;
    bottom = 0;
    for (const char* s = text; *s != '\0';) {
      unsigned int c = 0;
      s += ImTextCharFromUtf8(&c, s, nullptr);
      const ImFontGlyph* g = baked->FindGlyph(static_cast<ImWchar>(c));
      if (g == nullptr || !g->Visible) continue;
      top = std::min(top, g->Y0);
      bottom = std::max(bottom, g->Y1);
    }
    if (bottom <= top) return;  // blanks only
  }
  placeRect(text, ImVec2(pos.x, pos.y + top), ImVec2(pos.x + size.x, pos.y + bottom),
            PlacedKind::Base, true);
}

}  // namespace

void drawText(ImDrawList* dl, ImVec2 pos, ImU32 col, const char* text) {
  dl->AddText(pos, col, text);
  logText(pos, text);
  if (layoutRecorded())
    placeText(pos, ImGui::CalcTextSize(text), text, ImGui::GetFont(), ImGui::GetFontSize());
}

void drawText(ImDrawList* dl, ImFont* font, float size, ImVec2 pos, ImU32 col, const char* text) {
  dl->AddText(font, size, pos, col, text, nullptr, 0.0f, nullptr);
  logText(pos, text);
  if (!layoutRecorded()) return;
  ImFont* f = font != nullptr ? font : ImGui::GetFont();
  placeText(pos, f->CalcTextSizeA(size, FLT_MAX, 0.0f, text), text, f, size);
}

void drawWrappedText(ImDrawList* dl, ImVec2 pos, ImU32 col, const char* text, float wrapWidth) {
  dl->AddText(nullptr, 0.0f, pos, col, text, nullptr, wrapWidth);
  logText(pos, text);
  if (layoutRecorded())
    placeText(pos, ImGui::CalcTextSize(text, nullptr, false, wrapWidth), text, nullptr, 0.0f);
}

namespace {
ImDrawCallback s_solidFill = nullptr;
}  // namespace

void setSolidFill(ImDrawCallback fill) { s_solidFill = fill; }

void fillRoundedRect(ImDrawList* dl, ImVec2 min, ImVec2 max, ImU32 col, float r) {
  const bool opaque = (col & IM_COL32_A_MASK) == IM_COL32_A_MASK;
  if (s_solidFill == nullptr || !opaque || r * 2 > max.x - min.x || r * 2 > max.y - min.y) {
    dl->AddRectFilled(min, max, col, r, 0);
    return;
  }
  SolidRects bands{{ImVec2(min.x, min.y + r), ImVec2(min.x + r, min.y)},
                   {ImVec2(max.x, max.y - r), ImVec2(max.x - r, max.y)},
                   col};
  dl->AddCallback(s_solidFill, &bands, sizeof bands);
  // The corners as AddRectFilled's path draws them; their edges inside the
  // card fall on its own colour.
  const struct {
    ImVec2 centre;
    int from, to;
  } kCorners[] = {{ImVec2(min.x + r, min.y + r), 6, 9},
                  {ImVec2(max.x - r, min.y + r), 9, 12},
                  {ImVec2(max.x - r, max.y - r), 0, 3},
                  {ImVec2(min.x + r, max.y - r), 3, 6}};
  for (const auto& c : kCorners) {
    dl->PathLineTo(c.centre);
    dl->PathArcToFast(c.centre, r, c.from, c.to);
    dl->PathFillConvex(col);
  }
}

ImVec2 textSize(const char* text) { return ImGui::CalcTextSize(text); }

void card(ImDrawList* dl, ImVec2 pos, ImVec2 size, const char* title) {
  const ImVec2 end(pos.x + size.x, pos.y + size.y);
  fillRoundedRect(dl, pos, end, kColCardFill, 8.0f);
  dl->AddRect(pos, end, kColCardBorder, 8.0f, 0, 1.0f);
  placeFrame(title != nullptr ? title : "card", pos, end);
  if (title == nullptr || title[0] == '\0') return;
  FontScope font(fonts().small, 13.0f);
  drawText(dl, ImVec2(pos.x + 14, pos.y + 10), kColTextLabel, title);
}

void beginRootWindow() {
  constexpr ImGuiWindowFlags kRootFlags =
      ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
      ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse |
      ImGuiWindowFlags_NoBackground | ImGuiWindowFlags_NoSavedSettings |
      ImGuiWindowFlags_NoBringToFrontOnFocus;
  const ImGuiViewport* vp = ImGui::GetMainViewport();
  ImGui::SetNextWindowPos(vp->WorkPos, 0, ImVec2(0, 0));
  ImGui::SetNextWindowSize(vp->WorkSize, 0);
  ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
  ImGui::Begin("##root", nullptr, kRootFlags);
  ImGui::PopStyleVar(1);
}

}  // namespace dashboard
