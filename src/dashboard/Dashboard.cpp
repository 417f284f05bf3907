#include "dashboard/Dashboard.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "dashboard/Branding.h"
#include "dashboard/Cards.h"
#include "dashboard/DashboardState.h"
#include "dashboard/DrawKit.h"
#include "dashboard/LayoutRecord.h"
#include "dashboard/NoticeBox.h"
#include "dashboard/Palette.h"
#include "i18n/Translate.h"

namespace dashboard {

DashboardState& dashboardState() {
  static DashboardState s_state;
  return s_state;
}

void detail::resetState() { dashboardState() = DashboardState{}; }

namespace {

constexpr const char* kNoDevice = i18n::trNoop("未检测到鼠标设备");
constexpr float kPickerWidth = 300;

// Follows the mouse until the user picks a target.
void snapTarget(DashboardState& st, const UiState& ui) {
  if (st.targetPicked) return;
  const int index = automaticTargetIndex(ui.configuredHz, ui.stats.baselineHz);
  if (index >= 0) st.targetIndex = index;
}

// The picker's name for a mouse: with its port, so two of one model differ;
// mice without one (virtual, Bluetooth) that share a name get their place
// in the list.
std::string deviceLabel(const std::vector<HIDDeviceInfo>& devices, size_t index) {
  const HIDDeviceInfo& d = devices[index];
  std::string label = d.displayName();
  if (!d.portPath.empty()) return label + i18n::tr("  端口 ") + d.portPath;
  for (size_t i = 0; i < devices.size(); ++i) {
    if (i != index && devices[i].portPath.empty() && devices[i].displayName() == label)
      return label + "  #" + std::to_string(index + 1);
  }
  return label;
}

// Under the state, once the test has reports: how long it has run and how
// many reports it holds. Returns the right end of what it drew.
float drawElapsed(ImDrawList* dl, ImVec2 at, const UiState& ui) {
  if (ui.testState == kStateIdle || ui.stats.reportCount == 0) return at.x;
  AddedElement scope("elapsed and reports");
  char text[96];
  std::snprintf(text, sizeof text, i18n::tr("%.1f s · 报告 %lld"), ui.elapsedSeconds,
                static_cast<long long>(ui.stats.reportCount));
  drawText(dl, at, kColTextMuted, text);
  return at.x + textSize(text).x;
}

// The test's state, and under it the elapsed time. Returns the right end of
// the state's widest label, so what follows on its line stays put while the
// state changes, and the right end of the elapsed time.
ImVec2 drawStateIndicator(ImDrawList* dl, ImVec2 P, float a, const UiState& ui) {
  const int testState = ui.testState;
  const char* labels[] = {i18n::tr("未开始"), i18n::tr("测试中"), i18n::tr("已暂停")};
  const char* label = labels[0];
  ImU32 col = kColTextMuted;
  float r = 3.5f;
  if (testState == kStateRunning) {
    label = labels[1];
    col = kColGood;
    r = 3.5f * (0.75f + 0.25f * std::sin(3.0f * static_cast<float>(ImGui::GetTime())));
  } else if (testState == kStatePaused) {
    label = labels[2];
    col = kColWarn;
  }
  const ImVec2 c(a + 4, P.y + 34);
  dl->AddCircleFilled(c, 5.0f, withAlpha(col, 60), 0);
  dl->AddCircleFilled(c, r, col, 0);
  drawText(dl, ImVec2(a + 16, P.y + 26), col, label);
  float widest = 0;
  for (const char* l : labels) widest = std::max(widest, textSize(l).x);
  return ImVec2(a + 16 + widest, drawElapsed(dl, ImVec2(a + 16, P.y + 44), ui));
}

// The way to the buttons and CPI page, between the state and the studio
// link. Returns the right end it needs.
float drawPageLink(ImVec2 P, float left, float right, UiActions& actions) {
  AddedElement scope("buttons page link");
  FontScope font(fonts().small, 13.0f);
  const char* label = i18n::tr("按键与 CPI ›");
  const float end = left + textSize(label).x;
  if (end > right) return end;  // the key B still switches
  ImGui::SetCursorScreenPos(ImVec2(left, P.y + 27));
  if (ImGui::TextLink(label)) actions.showButtonsPage = true;
  placeLastItem("buttons page link");
  return end;
}

const char* pickerPreview(const UiState& ui, DashboardState& st) {
  const int sel = ui.selectedDevice;
  if (sel < 0 || sel >= static_cast<int>(ui.devices.size())) return i18n::tr(kNoDevice);
  const HIDDeviceInfo& d = ui.devices[static_cast<size_t>(sel)];
  st.devicePreview = deviceLabel(ui.devices, static_cast<size_t>(sel));
  if (!d.opened) st.devicePreview += i18n::tr("（无法打开）");
  return st.devicePreview.c_str();
}

// Device names are the devices' own text and may hold "##", where Dear ImGui
// would end a widget's label: they are drawn beside widgets whose own labels
// are empty, so they always show whole.
void drawPickerPreview(ImDrawList* dl, ImVec2 frame, float width, float frameHeight,
                       const char* text) {
  const ImGuiStyle& style = ImGui::GetStyle();
  const ImVec2 clipMax(frame.x + width - frameHeight, frame.y + frameHeight);
  dl->PushClipRect(frame, clipMax, true);
  placeFrame("device picker", frame, clipMax);
  {
    // The name with its port: the port was added to the original picker.
    AddedElement added("device picker text");
    drawText(dl, ImVec2(frame.x + style.FramePadding.x, frame.y + style.FramePadding.y),
             ImGui::GetColorU32(ImGuiCol_Text), text);
  }
  dl->PopClipRect();
}

void drawDeviceEntry(const std::string& label, int index, int selected, UiActions& actions) {
  ImGui::PushID(index);
  const ImVec2 at = ImGui::GetCursorScreenPos();
  // The whole row is clickable, and a long name widens the list.
  const float textWidth = ImGui::CalcTextSize(label.c_str(), nullptr, false).x;
  const ImVec2 size(std::max(textWidth, ImGui::GetContentRegionAvail().x), 0);
  if (ImGui::Selectable("##entry", index == selected, 0, size)) actions.selectDevice = index;
  drawText(ImGui::GetWindowDrawList(), at, ImGui::GetColorU32(ImGuiCol_Text), label.c_str());
  ImGui::PopID();
}

// 300 pixels, or wider for a longer name (English text is wider), as far as
// 20 pixels short of the studio link.
float pickerWidth(ImVec2 P, ImVec2 S, float linkRight, const char* preview) {
  const float need =
      textSize(preview).x + 2 * ImGui::GetStyle().FramePadding.x + ImGui::GetFrameHeight();
  const float room = P.x + S.x - 20 - (linkRight + 20);
  return std::max(kPickerWidth, std::min(std::ceil(need), room));
}

// A preview wider than the picker loses the end of the mouse's name, never
// its port or state: two mice of one model still read apart.
const char* fitPreview(const UiState& ui, DashboardState& st, const char* preview, float room) {
  const int sel = ui.selectedDevice;
  if (textSize(preview).x <= room || preview != st.devicePreview.c_str()) return preview;
  std::string name = ui.devices[static_cast<size_t>(sel)].displayName();
  if (st.devicePreview.compare(0, name.size(), name) != 0) return preview;
  const std::string rest = st.devicePreview.substr(name.size());
  while (!name.empty()) {
    // One character off the end: its continuation bytes, then its first.
    while (!name.empty() && (static_cast<unsigned char>(name.back()) & 0xC0) == 0x80)
      name.pop_back();
    if (!name.empty()) name.pop_back();
    while (!name.empty() && name.back() == ' ') name.pop_back();
    const std::string shown = name + "…" + rest;
    if (textSize(shown.c_str()).x <= room || name.empty()) {
      st.devicePreview = shown;
      break;
    }
  }
  return st.devicePreview.c_str();
}

void drawDevicePicker(ImVec2 P, ImVec2 S, float linkRight, const UiState& ui, UiActions& actions,
                      DashboardState& st) {
  FontScope font(fonts().body, 16.0f);
  const char* full = pickerPreview(ui, st);
  const float width = pickerWidth(P, S, linkRight, full);
  const char* preview = fitPreview(
      ui, st, full, width - 2 * ImGui::GetStyle().FramePadding.x - ImGui::GetFrameHeight());
  ImGui::SetCursorScreenPos(ImVec2(P.x + S.x - 20 - width, P.y + 20));
  ImGui::SetNextItemWidth(width);
  ImDrawList* dl = ImGui::GetWindowDrawList();
  const ImVec2 frame = ImGui::GetCursorScreenPos();
  const float frameHeight = ImGui::GetFrameHeight();
  const bool open = ImGui::BeginCombo("##device", "", 0);
  drawPickerPreview(dl, frame, width, frameHeight, preview);
  if (!open) return;
  if (ui.devices.empty()) ImGui::TextDisabled("%s", i18n::tr(kNoDevice));
  for (size_t i = 0; i < ui.devices.size(); ++i) {
    std::string label = deviceLabel(ui.devices, i);
    if (!ui.devices[i].opened) label += i18n::tr("   （无法打开）");
    drawDeviceEntry(label, static_cast<int>(i), ui.selectedDevice, actions);
  }
  ImGui::EndCombo();
}

// Returns the narrowest window in which the header's left block, the
// centred link and the picker keep 20 pixels apart.
float drawHeader(ImDrawList* dl, ImVec2 P, ImVec2 S, const UiState& ui, UiActions& actions,
                 DashboardState& st) {
  const float x0 = P.x + 20;
  const Fonts& f = fonts();
  float tw = 0, leftEnd = 0;
  float stateRight = 0;
  {
    FontScope font(f.body, 21.0f);
    tw = textSize("Quillmark").x;
    drawText(dl, ImVec2(x0, P.y + 24), kColTextBright, "Quillmark");
  }
  {
    FontScope font(f.small, 13.0f);
    const float vw = textSize(kVersionText).x;
    drawText(dl, ImVec2(x0 + tw + 10, P.y + 26), kColTextMuted, kVersionText);
    const ImVec2 ends = drawStateIndicator(dl, P, x0 + tw + 10 + vw + 22, ui);
    stateRight = ends.x;
    leftEnd = std::max(ends.x, ends.y) - P.x;
  }
  float linkRight = 0, linkW = 0;
  {
    FontScope font(f.body, 24.0f);
    const float w = linkW = textSize(kStudioName).x;
    ImGui::SetCursorScreenPos(ImVec2(P.x + (S.x - w) * 0.5f, P.y + 24));
    if (ImGui::TextLink(kStudioName)) actions.openUrl = kStudioUrl;
    placeLastItem("studio link");
    linkRight = P.x + (S.x + w) * 0.5f;
    const float pageLinkEnd =
        drawPageLink(P, stateRight + 24, P.x + (S.x - w) * 0.5f - 20, actions);
    leftEnd = std::max(leftEnd, pageLinkEnd - P.x);
  }
  drawDevicePicker(P, S, linkRight, ui, actions, st);
  return std::max(2 * (leftEnd + 20) + linkW, linkW + 2 * (20 + 20 + kPickerWidth));
}

void drawAlertButtons(const PlatformAlert& alert, const std::vector<float>& bw, ImVec2 B, float H,
                      UiActions& actions) {
  ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.42f, 0.16f, 0.16f, 1.0f));
  ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0.56f, 0.23f, 0.23f, 1.0f));
  ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(0.66f, 0.28f, 0.28f, 1.0f));
  float bx = B.x + 18;
  for (size_t i = 0; i < alert.actions.size(); ++i) {
    ImGui::SetCursorScreenPos(ImVec2(bx, B.y + H - 42));
    ImGui::PushID(static_cast<int>(i));
    if (ImGui::Button(alert.actions[i].label.c_str(), ImVec2(bw[i], 30)))
      actions.alertAction = static_cast<int>(i);
    ImGui::PopID();
    bx += bw[i] + 10;
  }
  ImGui::PopStyleColor(3);
}

// Draws the banner when there is an alert; returns the top of the content below it.
float drawAlertBanner(ImDrawList* dl, ImVec2 P, const PlatformAlert& alert, UiActions& actions) {
  if (alert.title.empty()) return P.y + 66;
  const ImVec2 B(P.x + 20, P.y + 66);
  FontScope font(fonts().body, 16.0f);
  const ImVec2 ts = textSize(alert.title.c_str());
  const ImVec2 ds = alert.detail.empty() ? ImVec2(0, 0) : textSize(alert.detail.c_str());
  const size_t n = alert.actions.size();
  std::vector<float> bw(n);
  float total = 0;
  for (size_t i = 0; i < n; ++i) {
    bw[i] = textSize(alert.actions[i].label.c_str()).x + 36;
    total += bw[i];
  }
  if (n > 0) total += 10.0f * static_cast<float>(n - 1);
  float inner = ts.x > ds.x ? ts.x : ds.x;
  if (n > 0 && total > inner) inner = total;
  const float H = ts.y + (alert.detail.empty() ? 24 : ds.y + 26) + (n > 0 ? 44 : 0);
  const float W = inner + 36;

  const ImVec2 end(B.x + W, B.y + H);
  dl->AddRectFilled(B, end, IM_COL32(72, 22, 22, 235), 6.0f, 0);
  dl->AddRect(B, end, IM_COL32(140, 50, 50, 255), 6.0f, 0, 1.0f);
  placeFrame("banner", B, end);
  drawText(dl, ImVec2(B.x + 18, B.y + 9), IM_COL32(255, 158, 158, 255), alert.title.c_str());
  if (!alert.detail.empty())
    drawText(dl, ImVec2(B.x + 18, B.y + 11 + ts.y), IM_COL32(255, 158, 158, 190),
             alert.detail.c_str());
  if (n > 0) drawAlertButtons(alert, bw, B, H, actions);
  return B.y + H + 14;
}

bool controlButton(const char* label, ImVec2 pos, bool disabled) {
  ImGui::SetCursorScreenPos(pos);
  ImGui::BeginDisabled(disabled);
  const bool pressed = ImGui::Button(label, ImVec2(130, 36));
  placeLastItem(label);
  ImGui::EndDisabled();
  return pressed;
}

// The target's preview for a rate, e.g. "目标 1000 Hz".
void targetPreview(char* out, size_t size, float hz) {
  std::snprintf(out, size, i18n::tr("目标 %.0f Hz"), hz);
}

// 150 pixels, or what the widest target's preview needs in the body font
// (the English one is longer).
float targetSelectorWidth() {
  FontScope font(fonts().body, 16.0f);
  char widest[32];
  targetPreview(widest, sizeof widest, kTargetRates[kTargetRateCount - 1]);
  const float need =
      textSize(widest).x + 2 * ImGui::GetStyle().FramePadding.x + ImGui::GetFrameHeight() + 4;
  return std::max(150.0f, std::ceil(need));
}

void drawTargetSelector(ImVec2 pos, float width, DashboardState& st) {
  ImGui::SetCursorScreenPos(pos);
  ImGui::SetNextItemWidth(width);
  char preview[32];
  targetPreview(preview, sizeof preview, kTargetRates[st.targetIndex]);
  const bool open = ImGui::BeginCombo("##target", preview, 0);
  placeLastItem("target selector");
  if (!open) return;
  for (int i = 0; i < kTargetRateCount; ++i) {
    char label[32];
    std::snprintf(label, sizeof label, "%.0f Hz", kTargetRates[i]);
    if (ImGui::Selectable(label, st.targetPicked && i == st.targetIndex, 0, ImVec2(0, 0))) {
      st.targetIndex = i;
      st.targetPicked = true;
    }
  }
  // Back to following the mouse.
  if (ImGui::Selectable(i18n::tr("自动"), !st.targetPicked, 0, ImVec2(0, 0)))
    st.targetPicked = false;
  ImGui::EndCombo();
}

// The three test buttons are centred; "保存结果" follows 重置. Where the
// window is too narrow for it to clear the target selector, the row moves
// left just enough (below about 1060 pixels).
float buttonRowLeft(ImVec2 P, ImVec2 S, float selectorWidth) {
  const float centred = P.x + (S.x - 414) * 0.5f;
  const float clear = P.x + S.x - 20 - selectorWidth - 12 - 556;
  return clear < centred && clear >= P.x + 20 ? clear : centred;
}

// Returns the narrowest window in which the button row clears the target
// selector.
float drawControlBar(ImDrawList* dl, ImVec2 P, ImVec2 S, const UiState& ui, UiActions& actions,
                     DashboardState& st) {
  const int testState = ui.testState;
  const float by = P.y + S.y - 58;
  const float selectorWidth = targetSelectorWidth();
  const float bx = buttonRowLeft(P, S, selectorWidth);
  FontScope font(fonts().body, 16.0f);
  {
    ImGui::SetCursorScreenPos(ImVec2(bx, by));
    ImGui::BeginDisabled(testState == kStateRunning);
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.0f, 0.55f, 0.72f, 1.0f));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0.0f, 0.65f, 0.85f, 1.0f));
    if (ImGui::Button(testState == kStateIdle ? i18n::tr("开始测试") : i18n::tr("继续"),
                      ImVec2(130, 36)))
      actions.startPressed = true;
    placeLastItem("start");
    ImGui::PopStyleColor(2);
    ImGui::EndDisabled();
  }
  if (controlButton(i18n::tr("暂停"), ImVec2(bx + 142, by), testState != kStateRunning))
    actions.pausePressed = true;
  if (controlButton(i18n::tr("重置"), ImVec2(bx + 284, by), testState == kStateIdle))
    actions.resetPressed = true;
  {
    AddedElement added("save button", true);
    if (controlButton(i18n::tr("保存结果"), ImVec2(bx + 426, by), !ui.canSave))
      actions.savePressed = true;
    ImGui::SetItemTooltip("%s", i18n::tr("快捷键 E"));
  }
  drawTargetSelector(ImVec2(P.x + S.x - 20 - selectorWidth, by + 2), selectorWidth, st);
  FontScope hintFont(fonts().small, 13.0f);
  drawText(dl, ImVec2(P.x + 20, by + 10), kColTextMuted,
           i18n::tr("快捷键：S 开始 / 继续　P 暂停　R 重置　ESC 退出　E 保存结果"));
  return 20 + 556 + 12 + selectorWidth + 20;
}

// Instead of the cards when the window cannot hold them: the size at which
// everything fits without running under the control bar, wrapped to the
// window's width.
void drawTooSmall(ImDrawList* dl, ImVec2 P, ImVec2 S, float contentTop, float needWidth) {
  const ImVec2 need = smallestGridWindow(contentTop - P.y, needWidth);
  char text[160];
  std::snprintf(text, sizeof text,
                i18n::tr("窗口太小，放大到至少 %.0f × %.0f 像素才能显示测试数据"), need.x, need.y);
  AddedElement added("too-small text");
  FontScope font(fonts().body, 16.0f);
  const float wrap = std::max(S.x - 40, 1.0f);
  const ImVec2 ts = ImGui::CalcTextSize(text, nullptr, false, wrap);
  const float bottom = P.y + S.y - 64;
  const float y = std::max(contentTop, contentTop + (bottom - contentTop - ts.y) * 0.5f);
  drawWrappedText(dl, ImVec2(std::max(P.x + 20, P.x + (S.x - ts.x) * 0.5f), y), kColWarn, text,
                  wrap);
}

}  // namespace

UiActions draw(const UiState& ui) {
  UiActions actions;
  DashboardState& st = dashboardState();
  snapTarget(st, ui);
  const float targetHz = kTargetRates[st.targetIndex];
  const bool running = ui.testState == kStateRunning;
  HintFlags hints;
  hints.speed =
      st.speedHint.update(running, ui.speedLimited, ui.stats.currentHz, targetHz, ImGui::GetTime());
  hints.device = st.deviceHint.update(running, ui.deviceLimited, ui.stats.currentHz, targetHz,
                                      ImGui::GetTime());

  beginRootWindow();
  ImDrawList* dl = ImGui::GetWindowDrawList();
  const ImVec2 P = ImGui::GetWindowPos();
  const ImVec2 S = ImGui::GetWindowSize();
  clearLayout();
  // The window's background is the frame's clear colour (kColBackground):
  // a full-window quad on top of it would draw the same picture again, and
  // under software OpenGL it took a third of every frame.

  const float headerWidth = drawHeader(dl, P, S, ui, actions, st);
  const float contentTop = drawAlertBanner(dl, P, ui.alert, actions);
  const GridLayout grid = gridLayout(P, S, contentTop);
  if (grid.fits) {
    drawRateCards(dl, grid, ui, targetHz, st.held, hints);
    drawDiagnosticCards(dl, grid, ui.stats, ui.testState);
  }
  const float barWidth = drawControlBar(dl, P, S, ui, actions, st);
  if (!grid.fits) drawTooSmall(dl, P, S, contentTop, std::max(headerWidth, barWidth));
  drawNotice(dl, P, S, grid, ui.notice, actions);
  ImGui::End();
  return actions;
}

}  // namespace dashboard
