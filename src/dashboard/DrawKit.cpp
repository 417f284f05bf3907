#include "dashboard/DrawKit.h"

#include <imgui_internal.h>

#include "dashboard/Palette.h"

namespace dashboard {

Fonts& fonts() {
  static Fonts s_fonts;
  return s_fonts;
}

FontScope::FontScope(ImFont* font, float size) : pushed_(font != nullptr) {
  if (pushed_) ImGui::PushFont(font, size);
}

FontScope::~FontScope() {
  if (pushed_) ImGui::PopFont();
}

namespace {

void logText(ImVec2 pos, const char* text) {
  if (ImGui::GetCurrentContext()->LogEnabled)
    ImGui::LogRenderedText(&pos, text, text + ImStrlen(text));
}

}  // namespace

void drawText(ImDrawList* dl, ImVec2 pos, ImU32 col, const char* text) {
  dl->AddText(pos, col, text);
  logText(pos, text);
}

void drawText(ImDrawList* dl, ImFont* font, float size, ImVec2 pos, ImU32 col, const char* text) {
  dl->AddText(font, size, pos, col, text, nullptr, 0.0f, nullptr);
  logText(pos, text);
}

ImVec2 textSize(const char* text) { return ImGui::CalcTextSize(text); }

void card(ImDrawList* dl, ImVec2 pos, ImVec2 size, const char* title) {
  const ImVec2 end(pos.x + size.x, pos.y + size.y);
  dl->AddRectFilled(pos, end, kColCardFill, 8.0f, 0);
  dl->AddRect(pos, end, kColCardBorder, 8.0f, 0, 1.0f);
  if (title == nullptr || title[0] == '\0') return;
  FontScope font(fonts().small, 13.0f);
  drawText(dl, ImVec2(pos.x + 14, pos.y + 10), kColTextLabel, title);
}

}  // namespace dashboard
