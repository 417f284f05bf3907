#include "dashboard/ButtonsPage.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "dashboard/DrawKit.h"
#include "dashboard/LayoutRecord.h"
#include "dashboard/Palette.h"
#include "i18n/Translate.h"

namespace dashboard {

namespace {

constexpr float kMouseCardWidth = 240;
constexpr float kRowHeight = 44;
constexpr float kChatterLine = 20;
constexpr float kCpiCardHeight = 104;
constexpr ImU32 kColButtonIdle = IM_COL32(40, 44, 51, 255);

std::string ms(double value) {
  if (value < 0) return "—";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", value);
  return text;
}

bool isHeld(const ButtonsPageState& page, uint16_t code) {
  return code >= 0x110 && code < 0x130 && (page.held >> (code - 0x110) & 1u) != 0;
}

void drawHeader(ImDrawList* dl, ImVec2 P, ImVec2 S, const ButtonsPageState& page,
                ButtonsPageActions& actions) {
  FontScope font(fonts().body, 16.0f);
  ImGui::SetCursorScreenPos(ImVec2(P.x + 20, P.y + 26));
  {
    AddedElement added("back link");
    if (ImGui::TextLink(i18n::tr("‹ 回报率（B）"))) actions.back = true;
    placeLastItem("back link");
  }
  const float after = ImGui::GetItemRectMax().x + 24;
  {
    AddedElement added("page title");
    FontScope title(fonts().body, 21.0f);
    drawText(dl, ImVec2(after, P.y + 24), kColTextBright, i18n::tr("按键与 CPI"));
  }
  AddedElement added("device name");
  const std::string name = page.deviceName.empty() ? i18n::tr("未检测到鼠标设备") : page.deviceName;
  const float w = textSize(name.c_str()).x;
  drawText(dl, ImVec2(std::max(after + 160, P.x + S.x - 20 - w), P.y + 27), kColTextLabel,
           name.c_str());
}

// A mouse from above: two main buttons, the wheel, two side buttons on its
// left flank; each lit while held.
void drawMouse(ImDrawList* dl, ImVec2 at, ImVec2 size, const ButtonsPageState& page) {
  card(dl, at, size, i18n::tr("鼠标"));
  const float cx = at.x + size.x * 0.5f, top = at.y + 44;
  const float w = 140, h = std::min(230.0f, size.y - 64);
  const auto fill = [&](uint16_t code) { return isHeld(page, code) ? kColAccent : kColButtonIdle; };
  dl->AddRectFilled(ImVec2(cx - w / 2, top), ImVec2(cx + w / 2, top + h), kColButtonIdle, 60.0f);
  dl->AddRectFilled(ImVec2(cx - w / 2, top), ImVec2(cx - 2, top + h * 0.42f), fill(0x110), 60.0f,
                    ImDrawFlags_RoundCornersTopLeft);
  dl->AddRectFilled(ImVec2(cx + 2, top), ImVec2(cx + w / 2, top + h * 0.42f), fill(0x111), 60.0f,
                    ImDrawFlags_RoundCornersTopRight);
  dl->AddRectFilled(ImVec2(cx - 9, top + 22), ImVec2(cx + 9, top + 62), fill(0x112), 8.0f);
  dl->AddRectFilled(ImVec2(cx - w / 2 - 8, top + h * 0.48f),
                    ImVec2(cx - w / 2 - 1, top + h * 0.48f + 28), fill(0x114), 3.0f);
  dl->AddRectFilled(ImVec2(cx - w / 2 - 8, top + h * 0.48f + 34),
                    ImVec2(cx - w / 2 - 1, top + h * 0.48f + 62), fill(0x113), 3.0f);
  // The seams between the buttons and the body, so the buttons show unlit too.
  const float seam = top + h * 0.42f;
  dl->AddLine(ImVec2(cx, top), ImVec2(cx, seam), kColBackground, 3.0f);
  dl->AddLine(ImVec2(cx - w / 2, seam), ImVec2(cx + w / 2, seam), kColBackground, 3.0f);
  dl->AddRect(ImVec2(cx - 10, top + 21), ImVec2(cx + 10, top + 63), kColBackground, 9.0f, 0, 2.0f);
  dl->AddRect(ImVec2(cx - w / 2, top), ImVec2(cx + w / 2, top + h), kColCardBorder, 60.0f, 0, 2.0f);
  {
    AddedElement added("mouse drawing");
    placeRect("mouse drawing", ImVec2(cx - w / 2 - 8, top), ImVec2(cx + w / 2, top + h),
              PlacedKind::Base);
  }
  AddedElement added("mouse caption");
  FontScope font(fonts().small, 13.0f);
  drawText(dl, ImVec2(at.x + 14, at.y + size.y - 26), kColTextMuted, i18n::tr("按下的按键会亮起"));
}

void drawColumnTitles(ImDrawList* dl, ImVec2 at, float width) {
  AddedElement added("column titles");
  FontScope font(fonts().small, 13.0f);
  const char* titles[] = {i18n::tr("按键"), i18n::tr("按下"), i18n::tr("按住 p50"),
                          i18n::tr("最短间隔"), i18n::tr("最快 次/秒")};
  const float columns[] = {0.0f, 0.30f, 0.46f, 0.64f, 0.82f};
  for (int i = 0; i < 5; ++i)
    drawText(dl, ImVec2(at.x + 14 + columns[i] * (width - 28), at.y + 32), kColTextLabel,
             titles[i]);
}

void drawButtonRow(ImDrawList* dl, ImVec2 at, float width, const buttons::ButtonFigures& f,
                   bool held) {
  AddedElement added("button rows");
  const float inner = width - 28;
  char presses[16], fastest[16];
  std::snprintf(presses, sizeof presses, "%u", f.presses);
  std::snprintf(fastest, sizeof fastest, "%u", f.fastestPerSecond);
  const std::string cells[] = {buttons::buttonName(f.code), presses, ms(f.holdP50Ms),
                               ms(f.gapMinMs), fastest};
  const float columns[] = {0.0f, 0.30f, 0.46f, 0.64f, 0.82f};
  {
    FontScope font(fonts().body, 16.0f);
    for (int i = 0; i < 5; ++i)
      drawText(dl, ImVec2(at.x + 14 + columns[i] * inner, at.y),
               i == 0 && held ? kColAccent : kColTextBright, cells[i].c_str());
  }
  FontScope font(fonts().small, 13.0f);
  drawText(dl, ImVec2(at.x + 14, at.y + 21), f.chatterCount == 0 ? kColGood : kColBad,
           buttons::buttonVerdict(f).c_str());
}

// Room for every button, as far as `maxRows`.
size_t buttonRows(const ButtonsPageState& page, size_t maxRows) {
  return std::clamp<size_t>(page.summary.buttons.size(), 1, std::max<size_t>(maxRows, 1));
}

float buttonsCardHeight(size_t rows) { return 58 + kRowHeight * static_cast<float>(rows); }

void drawButtonsCard(ImDrawList* dl, ImVec2 at, float width, const ButtonsPageState& page,
                     size_t rows) {
  card(dl, at, ImVec2(width, buttonsCardHeight(rows)), i18n::tr("每个按键"));
  drawColumnTitles(dl, at, width);
  if (page.summary.buttons.empty()) {
    AddedElement added("button rows");
    FontScope font(fonts().body, 16.0f);
    drawText(dl, ImVec2(at.x + 14, at.y + 54), kColTextMuted, i18n::tr("点击鼠标的按键开始测试"));
    return;
  }
  for (size_t i = 0; i < rows && i < page.summary.buttons.size(); ++i) {
    const buttons::ButtonFigures& f = page.summary.buttons[i];
    drawButtonRow(dl, ImVec2(at.x, at.y + 54 + kRowHeight * static_cast<float>(i)), width, f,
                  isHeld(page, f.code));
  }
}

std::string chatterLine(const ButtonsPageState& page, const buttons::Chatter& c) {
  char text[160];
  std::snprintf(text, sizeof text, i18n::tr("%.3f s  %s  松开→按下 %s  按住 %s"),
                static_cast<double>(c.atNs - page.startNs) / 1e9,
                buttons::buttonName(c.code).c_str(), ms(c.gapMs).c_str(), ms(c.holdMs).c_str());
  return text;
}

// Text broken at words to `width`, at most `lines` lines.
void drawWrapped(ImDrawList* dl, ImVec2 at, float width, int lines, ImU32 col, const char* text) {
  ImFont* font = ImGui::GetFont();
  const float size = ImGui::GetFontSize();
  const char* end = text + std::char_traits<char>::length(text);
  for (int i = 0; i < lines && text < end; ++i, at.y += kChatterLine) {
    const char* cut = font->CalcWordWrapPosition(size, text, end, width);
    if (cut == text) cut = end;
    const std::string line(text, cut);
    drawText(dl, at, col, line.c_str());
    text = cut;
    while (text < end && *text == ' ') ++text;
  }
}

// The newest chatter that fits, then the advice.
void drawChatterCard(ImDrawList* dl, ImVec2 at, ImVec2 size, const ButtonsPageState& page) {
  card(dl, at, size, i18n::tr("疑似连击"));
  const std::vector<buttons::Chatter>& list = page.summary.chatter;
  AddedElement added("chatter list");
  FontScope font(fonts().small, 13.0f);
  if (list.empty()) {
    drawText(dl, ImVec2(at.x + 14, at.y + 34), kColTextMuted,
             i18n::tr("没有：同一按键松开后 30 ms 内又按下，或按住不到 5 ms，才算连击"));
    return;
  }
  const int room = static_cast<int>((size.y - 34 - 2 * kChatterLine) / kChatterLine);
  const size_t shown = std::min(list.size(), static_cast<size_t>(std::max(room, 0)));
  float y = at.y + 34;
  for (size_t i = list.size() - shown; i < list.size(); ++i, y += kChatterLine)
    drawText(dl, ImVec2(at.x + 14, y), kColBad, chatterLine(page, list[i]).c_str());
  AddedElement advice("chatter advice");
  drawWrapped(dl, ImVec2(at.x + 14, at.y + size.y - 2 * kChatterLine - 4), size.x - 28, 2, kColWarn,
              i18n::tr("一次点击被记成两次，是微动开关在抖动：这是开关本身老化或受潮，不是软件"
                       "或驱动的问题；清洁或更换微动开关可以解决。"));
}

std::string cpiStatus(const CpiView& v) {
  char text[256];
  switch (v.step) {
    case CpiView::Step::Idle:
      return i18n::tr("沿尺子把鼠标移动选定的距离三次，量出它实际的 CPI");
    case CpiView::Step::Countdown:
      std::snprintf(text, sizeof text, i18n::tr("第 %d/%d 次：把鼠标放在尺子的起点，%d 秒后开始…"),
                    v.stroke, cpi::kStrokes, v.secondsLeft);
      return text;
    case CpiView::Step::Stroke:
      std::snprintf(text, sizeof text, i18n::tr("第 %d/%d 次：沿尺子移动 %s，到终点后停住。"),
                    v.stroke, cpi::kStrokes, kCpiDistances[v.distanceIndex]);
      return text + std::string("   X ") + std::to_string(v.live.x) + "  Y " +
             std::to_string(v.live.y);
    case CpiView::Step::Done:
      break;
  }
  const cpi::CpiResult& r = v.result;
  std::snprintf(
      text, sizeof text,
      i18n::tr("CPI：%.0f（%c 轴，%d 次相差 %.1f %%），最接近的常用档位 %d（相差 %+.1f %%）\n"),
      r.cpi, r.axis == 'y' ? 'Y' : 'X', static_cast<int>(r.strokes.size()), r.spreadPct,
      r.nearestSetting, r.offSettingPct);
  std::string out = text;
  out.pop_back();  // the terminal's line end
  return out;
}

void drawCpiCard(ImDrawList* dl, ImVec2 at, float width, const CpiView& v,
                 ButtonsPageActions& actions) {
  card(dl, at, ImVec2(width, kCpiCardHeight), "CPI");
  FontScope font(fonts().body, 16.0f);
  ImGui::SetCursorScreenPos(ImVec2(at.x + 14, at.y + 34));
  ImGui::SetNextItemWidth(110);
  {
    AddedElement added("distance");
    const bool open = ImGui::BeginCombo("##distance", kCpiDistances[v.distanceIndex], 0);
    placeLastItem("distance");
    if (open) {
      for (int i = 0; i < kCpiDistanceCount; ++i)
        if (ImGui::Selectable(kCpiDistances[i], i == v.distanceIndex, 0, ImVec2(0, 0)))
          actions.distanceIndex = i;
      ImGui::EndCombo();
    }
  }
  ImGui::SetCursorScreenPos(ImVec2(at.x + 136, at.y + 32));
  const bool measuring = v.step == CpiView::Step::Countdown || v.step == CpiView::Step::Stroke;
  {
    AddedElement added("measure button");
    if (ImGui::Button(measuring ? i18n::tr("重新测量") : i18n::tr("测量 CPI"), ImVec2(130, 30)))
      actions.measureCpi = true;
    placeLastItem("measure button");
  }
  AddedElement added("cpi status");
  const std::string status = cpiStatus(v);
  ImGui::PushClipRect(at, ImVec2(at.x + width - 8, at.y + kCpiCardHeight), true);
  drawText(dl, ImVec2(at.x + 14, at.y + 74),
           v.step == CpiView::Step::Done ? kColTextBright : kColTextLabel, status.c_str());
  ImGui::PopClipRect();
}

void drawFooter(ImDrawList* dl, ImVec2 P, ImVec2 S, ButtonsPageActions& actions) {
  FontScope font(fonts().body, 16.0f);
  ImGui::SetCursorScreenPos(ImVec2(P.x + S.x - 150, P.y + S.y - 58));
  {
    AddedElement added("clear button");
    if (ImGui::Button(i18n::tr("清零"), ImVec2(130, 36))) actions.clear = true;
    placeLastItem("clear button");
  }
  AddedElement added("page keys");
  FontScope hint(fonts().small, 13.0f);
  drawText(dl, ImVec2(P.x + 20, P.y + S.y - 48), kColTextMuted,
           i18n::tr("快捷键：B 回到回报率　ESC 退出"));
}

}  // namespace

ButtonsPageActions drawButtonsPage(const ButtonsPageState& page) {
  ButtonsPageActions actions;
  beginRootWindow();
  ImDrawList* dl = ImGui::GetWindowDrawList();
  const ImVec2 P = ImGui::GetWindowPos();
  const ImVec2 S = ImGui::GetWindowSize();
  clearLayout();
  // The background is the frame's clear colour, as on the dashboard.
  drawHeader(dl, P, S, page, actions);
  const float top = P.y + 70, bottom = P.y + S.y - 70;
  drawMouse(dl, ImVec2(P.x + 20, top), ImVec2(kMouseCardWidth, bottom - top), page);
  const float x = P.x + 40 + kMouseCardWidth, width = P.x + S.x - 20 - x;
  const float cpiTop = bottom - kCpiCardHeight;
  const auto maxRows = static_cast<size_t>(std::max(0.0f, (cpiTop - 12 - top - 58) / kRowHeight));
  const size_t rows = buttonRows(page, maxRows);
  drawButtonsCard(dl, ImVec2(x, top), width, page, rows);
  const float chatterTop = top + buttonsCardHeight(rows) + 12;
  if (cpiTop - 12 - chatterTop >= 34 + 3 * kChatterLine)
    drawChatterCard(dl, ImVec2(x, chatterTop), ImVec2(width, cpiTop - 12 - chatterTop), page);
  drawCpiCard(dl, ImVec2(x, cpiTop), width, page.cpi, actions);
  drawFooter(dl, P, S, actions);
  ImGui::End();
  return actions;
}

}  // namespace dashboard
