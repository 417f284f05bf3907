#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "dashboard/Cards.h"
#include "dashboard/Dashboard.h"
#include "dashboard/DrawKit.h"
#include "dashboard/LayoutRecord.h"
#include "dashboard/Palette.h"
#include "i18n/Translate.h"

namespace dashboard {
namespace {

constexpr float kPi = 3.14159265358979f;

// Bottom of the big digits below their text top: the hint goes just under
// them, above the target line.
float digitBottom(ImFont* huge) {
  ImFont* font = huge != nullptr ? huge : ImGui::GetFont();
  return font->GetFontBaked(92.0f)->FindGlyph('0')->Y1;
}

// A line centred under the number, in the body size so it reads at a
// glance. A narrow card takes a smaller size rather than cut it, and the
// line stays inside the card [left, right].
void drawHint(ImDrawList* dl, float centreX, float top, float left, float right,
              const RateHint& hint) {
  if (hint.text.empty()) return;
  AddedElement added("rate hint");
  const float maxWidth = right - left;
  float w = 0;
  {
    FontScope font(fonts().body, 16.0f);
    w = textSize(hint.text.c_str()).x;
  }
  const bool fits = w <= maxWidth;
  const float size = fits ? 16.0f : std::max(10.0f, std::floor(16.0f * maxWidth / w));
  FontScope font(fits ? fonts().body : fonts().small, size);
  const float tw = textSize(hint.text.c_str()).x;
  const float x = std::clamp(centreX - tw * 0.5f, left, std::max(left, right - tw));
  drawText(dl, ImVec2(x, top), hint.colour, hint.text.c_str());
}

// The slow hand, with what it would take: the target needs one count step
// per report.
std::string speedHintText(const UiState& ui, float target) {
  char text[200];
  const float hand = std::round(ui.handCountsPerS / 10.0f) * 10.0f;
  const float need = target * static_cast<float>(std::max(ui.countStep, 1));
  if (ui.cpi > 0) {
    // Counts per second over counts per inch, in cm.
    const auto cm = [&](float countsPerS) { return countsPerS / ui.cpi * 2.54; };
    std::snprintf(text, sizeof text,
                  i18n::tr("手速约 %.0f counts/s（约 %.1f cm/s），达到 %.0f Hz 需约 %.1f cm/s — "
                           "移动更快或提高 DPI"),
                  hand, cm(ui.handCountsPerS), target, cm(need));
    return text;
  }
  std::snprintf(
      text, sizeof text,
      i18n::tr("手速约 %.0f counts/s，达到 %.0f Hz 需约 %.0f counts/s — 移动更快或提高 DPI"), hand,
      target, need);
  return text;
}

// Mice only report while they move; a slow hand holds a fast mouse back; a
// fast hand with a slow rate points at the mouse; a paused test keeps its
// last rate; an idle window says how to begin.
RateHint rateHint(const UiState& ui, float target, HintFlags hints) {
  const bool running = ui.testState == kStateRunning;
  if (running && ui.stats.mouseQuiet) return {i18n::tr("请持续移动鼠标"), kColWarn};
  if (running && hints.speed) return {speedHintText(ui, target), kColWarn};
  if (running && hints.device) {
    char text[160];
    std::snprintf(text, sizeof text,
                  i18n::tr("鼠标或其连接未达到目标：每个报告带有多个计数，回报率却低于 %.0f Hz"),
                  target);
    return {text, kColWarn};
  }
  if (ui.testState == kStatePaused) return {i18n::tr("已暂停　按 S 继续"), kColWarn};
  const bool hasMouse =
      ui.selectedDevice >= 0 && ui.selectedDevice < static_cast<int>(ui.devices.size());
  if (ui.testState == kStateIdle && hasMouse)
    return {i18n::tr("点击「开始测试」后移动鼠标"), kColTextLabel};
  return {};
}

ImU32 toneColour(VerdictTone tone) {
  switch (tone) {
    case VerdictTone::Good:
      return kColGood;
    case VerdictTone::Warn:
      return kColWarn;
    case VerdictTone::Bad:
      return kColBad;
    case VerdictTone::Neutral:
    case VerdictTone::None:
      break;
  }
  return kColTextLabel;
}

// Under the rate: the target and the whole test's verdict so far, or the
// share of the target reached until there is a verdict.
void drawVerdictLine(ImDrawList* dl, const GridLayout& g, const UiState& ui, float target,
                     float shown, bool handLimited) {
  FontScope small(fonts().small, 13.0f);
  char line[256];
  ImU32 colour = 0;
  const bool verdict = !ui.verdictText.empty() && ui.testState != kStateIdle;
  // The verdict in place of the share reached was added to the design.
  std::optional<AddedElement> added;
  if (verdict) added.emplace("verdict line");
  if (verdict) {
    std::snprintf(line, sizeof line, i18n::tr("目标 %.0f Hz　·　%s"), target,
                  ui.verdictText.c_str());
    colour = toneColour(ui.verdictTone);
  } else {
    std::snprintf(line, sizeof line, i18n::tr("目标 %.0f Hz　·　达成 %.0f%%"), target,
                  shown / target * 100.0f);
    colour = handLimited ? withAlpha(kColTextMuted, 220)
                         : rateColour(ui.testState, shown, target, kColTextMuted, 220);
  }
  const float w = textSize(line).x;
  drawText(dl, ImVec2(g.L + (g.leftW - w) * 0.5f, g.T + 168 - 26), colour, line);
}

void drawCurrentRateCard(ImDrawList* dl, const GridLayout& g, const UiState& ui, float target,
                         float shown, HintFlags hints, bool handLimited) {
  const int testState = ui.testState;
  const float L = g.L, T = g.T, leftW = g.leftW;
  card(dl, ImVec2(L, T), ImVec2(leftW, 168), i18n::tr("当前回报率"));
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", shown);
  // A hand too slow to judge the mouse is no failure of the mouse: no red.
  const ImU32 col =
      handLimited ? kColTextMuted : rateColour(testState, shown, target, kColTextLabel, 255);
  const Fonts& f = fonts();
  float dW = 0, nW = 0;
  {
    FontScope font(f.huge, 92.0f);
    dW = textSize("0").x;
    nW = textSize(text).x;
  }
  FontScope large(f.large, 30.0f);
  const ImVec2 hz = textSize("Hz");
  // The number is centred in a four-digit field so "Hz" stays put.
  const float bx = L + (leftW - (4 * dW + 12 + hz.x)) * 0.5f;
  drawText(dl, f.huge, 92.0f, ImVec2(bx + (4 * dW - nW) * 0.5f, T + 40), col, text);
  drawText(dl, ImVec2(bx + 4 * dW + 12, T + 40 + 92 - hz.y - 8), kColTextLabel, "Hz");
  drawHint(dl, bx + 2 * dW, T + 40 + digitBottom(f.huge) + 7, L + 14, L + leftW - 14,
           rateHint(ui, target, hints));

  drawVerdictLine(dl, g, ui, target, shown, handLimited);
}

struct Plot {
  ImVec2 min, max;
  float top;
  size_t n;
  float y(float v) const { return max.y - std::min(v / top, 1.0f) * (max.y - min.y); }
  float x(size_t i) const {
    return min.x +
           static_cast<float>(i) * (max.x - min.x) / static_cast<float>(std::max<size_t>(n, 2) - 1);
  }
};

void drawHistoryLegend(ImDrawList* dl, float xr, float Y, float target) {
  char text[48];
  std::snprintf(text, sizeof text, i18n::tr("目标 %.0f Hz"), target);
  const float tx = xr - textSize(text).x;
  drawText(dl, ImVec2(tx, Y + 10), IM_COL32(46, 214, 110, 190), text);
  for (float x = tx - 26; x < tx - 10; x += 5)
    dl->AddLine(ImVec2(x, Y + 17), ImVec2(x + 3, Y + 17), IM_COL32(46, 214, 110, 150), 1.0f);
}

// The area under the curve fades towards the bottom: at a height the
// share of the plot below it, as a dark veil of this much over the fill.
constexpr ImU32 kColHistoryFill = IM_COL32(0, 195, 255, 54);
constexpr float kFadeAtBottom = 170.0f / 255.0f;

// A colour as seen through the veil at height y: the veil is the card's own
// colour, so over the card it changes nothing and over the fill or a grid
// line it only takes away their alpha. Drawn this way, every pixel of the
// plot is blended once, where a veil drawn on top blended each twice.
ImU32 fadedAt(ImU32 col, const Plot& p, float y) {
  const float veil = kFadeAtBottom * std::clamp((y - p.min.y) / (p.max.y - p.min.y), 0.0f, 1.0f);
  const float alpha = static_cast<float>(col >> IM_COL32_A_SHIFT & 0xFF) * (1.0f - veil);
  return (col & ~IM_COL32_A_MASK) | static_cast<ImU32>(std::lround(alpha)) << IM_COL32_A_SHIFT;
}

void drawHistoryGrid(ImDrawList* dl, const Plot& p, bool faded) {
  const float step = historyGridStep(p.top);
  for (float v = 0; v <= p.top + 1; v += step) {
    const float y = p.y(v);
    const ImU32 line = IM_COL32(255, 255, 255, 14);
    dl->AddLine(ImVec2(p.min.x, y), ImVec2(p.max.x, y), faded ? fadedAt(line, p, y) : line, 1.0f);
    char label[16];
    std::snprintf(label, sizeof label, "%.0f", v);
    const ImVec2 s = textSize(label);
    drawText(dl, ImVec2(p.min.x - s.x - 8, y - 0.5f * s.y), kColTextMuted, label);
  }
}

// Samples [from, to] of the area under the curve: a strip of triangles, two
// vertices a sample, from the curve down to the span's lowest curve point,
// and one rectangle from there to the bottom.
void drawFillSpan(ImDrawList* dl, const Plot& p, const std::vector<float>& h, size_t from,
                  size_t to) {
  float floor = p.min.y;  // the span's lowest curve point on the screen
  for (size_t i = from; i <= to; ++i) floor = std::max(floor, p.y(h[i]));
  const ImVec2 uv = ImGui::GetFontTexUvWhitePixel();
  const ImU32 atFloor = fadedAt(kColHistoryFill, p, floor);
  const auto samples = static_cast<int>(to - from + 1);
  dl->PrimReserve(6 * samples, 2 * samples + 4);
  const auto first = static_cast<ImDrawIdx>(dl->_VtxCurrentIdx);
  for (size_t i = from; i <= to; ++i) {
    const float top = p.y(h[i]);
    dl->PrimWriteVtx(ImVec2(p.x(i), top), uv, fadedAt(kColHistoryFill, p, top));
    dl->PrimWriteVtx(ImVec2(p.x(i), floor), uv, atFloor);
  }
  for (int i = 0; i + 1 < samples; ++i) {
    const auto v = static_cast<ImDrawIdx>(first + 2 * i);
    for (const int k : {0, 2, 3, 0, 3, 1}) dl->PrimWriteIdx(static_cast<ImDrawIdx>(v + k));
  }
  dl->PrimRectUV(ImVec2(p.x(from), floor), ImVec2(p.x(to), p.max.y), uv, uv, atFloor);
  // PrimRectUV colours the four corners alike; the lower two fade further.
  const ImU32 bottom = fadedAt(kColHistoryFill, p, p.max.y);
  dl->_VtxWritePtr[-2].col = bottom;
  dl->_VtxWritePtr[-1].col = bottom;
}

// The area under the curve, without anti-aliased fringes, which would show
// as seams. The fade depends on the height alone, so spans of a second, each
// a short strip over a rectangle, paint what one strip down to the bottom
// would; a software renderer pays for tall, thin triangles many times over.
void drawHistoryFill(ImDrawList* dl, const Plot& p, const std::vector<float>& h) {
  constexpr size_t kSpan = 20;
  for (size_t from = 0; from + 1 < p.n; from += kSpan)
    drawFillSpan(dl, p, h, from, std::min(from + kSpan, p.n - 1));
}

void drawHistoryCurve(ImDrawList* dl, const Plot& p, const std::vector<float>& h) {
  std::vector<ImVec2> points(p.n);
  for (size_t i = 0; i < p.n; ++i) points[i] = ImVec2(p.x(i), p.y(h[i]));
  const int count = static_cast<int>(points.size());
  dl->AddPolyline(points.data(), count, IM_COL32(0, 195, 255, 60), 0, 4.0f);
  dl->AddPolyline(points.data(), count, IM_COL32(0, 195, 255, 255), 0, 2.0f);
}

void drawHistoryCard(ImDrawList* dl, const GridLayout& g, const UiState& ui, float target) {
  const float L = g.L, Y = g.T + 184, hH = g.hH, xr = g.L + g.leftW - 14;
  card(dl, ImVec2(L, Y), ImVec2(g.leftW, hH), i18n::tr("回报率历史（最近 30 秒）"));
  const std::vector<float>& h = ui.stats.history;
  {
    FontScope font(fonts().small, 13.0f);
    if (ui.stats.statsValid) drawHistoryLegend(dl, xr, Y, target);
  }
  const Plot p{ImVec2(L + 52, Y + 38), ImVec2(xr, Y + hH - 26), historyTop(target, h), h.size()};
  if (!(p.max.x > p.min.x && p.max.y > p.min.y)) return;
  {
    FontScope font(fonts().small, 13.0f);
    drawHistoryGrid(dl, p, p.n > 1);
  }
  if (p.n > 1) drawHistoryFill(dl, p, h);
  if (p.top >= target) {
    const float yt = p.y(target);
    for (float x = p.min.x; x < p.max.x; x += 11)
      dl->AddLine(ImVec2(x, yt), ImVec2(std::min(x + 6, p.max.x), yt), IM_COL32(46, 214, 110, 130),
                  1.0f);
  }
  // Idle, a line of zeros says nothing: the instruction stays until a test runs.
  const bool flat = std::all_of(h.begin(), h.end(), [](float v) { return v <= 0.0f; });
  if (p.n >= 2 && !(ui.testState == kStateIdle && flat)) {
    drawHistoryCurve(dl, p, h);
    return;
  }
  FontScope font(fonts().body, 16.0f);
  const char* msg = ui.testState == kStateRunning ? i18n::tr("移动鼠标开始采集…")
                                                  : i18n::tr("点击「开始测试」后移动鼠标");
  const ImVec2 s = textSize(msg);
  drawText(dl,
           ImVec2((p.min.x + p.max.x) * 0.5f - s.x * 0.5f, (p.min.y + p.max.y) * 0.5f - s.y * 0.5f),
           kColTextMuted, msg);
}

void drawTile(ImDrawList* dl, ImVec2 pos, float w, const char* label, float value, ImU32 accent) {
  const float x = pos.x, y = pos.y;
  fillRoundedRect(dl, pos, ImVec2(x + w, y + 104), kColCardFill, 8.0f);
  dl->AddRect(pos, ImVec2(x + w, y + 104), kColCardBorder, 8.0f, 0, 1.0f);
  placeFrame(label, pos, ImVec2(x + w, y + 104));
  const Fonts& f = fonts();
  {
    FontScope font(f.small, 13.0f);
    dl->AddRectFilled(ImVec2(x, y + 16), ImVec2(x + 3, y + 88), withAlpha(accent, 200), 2.0f, 0);
    drawText(dl, ImVec2(x + 18, y + 14), kColTextLabel, label);
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", value);
  float vw = 0;
  {
    FontScope font(f.large, 30.0f);
    drawText(dl, ImVec2(x + 18, y + 60), kColTextBright, text);
    vw = textSize(text).x;
  }
  FontScope font(f.small, 13.0f);
  drawText(dl, ImVec2(x + 24 + vw, y + 73), kColTextMuted, "Hz");
}

void drawTiles(ImDrawList* dl, const GridLayout& g, const PollingStats& s) {
  const char* labels[3] = {i18n::tr("最高"), i18n::tr("最低"), i18n::tr("平均")};
  const float values[3] = {s.maxHz, s.minHz, s.avgHz};
  const ImU32 accents[3] = {kColGood, kColWarn, kColAccent};
  for (int k = 0; k < 3; ++k) {
    const ImVec2 pos(g.L + static_cast<float>(k) * (g.tileW + 12), g.T + 200 + g.hH);
    drawTile(dl, pos, g.tileW, labels[k], values[k], accents[k]);
  }
}

// The ring's percentage shrinks to fit inside the ring (84 px), down to 15 px.
void drawRingText(ImDrawList* dl, ImVec2 c, ImU32 col, const char* text) {
  ImFont* large = fonts().large;
  float size = 38.0f;
  {
    FontScope font(large, 38.0f);
    const ImVec2 s = textSize(text);
    if (s.x > 0 && s.y > 0) {
      const float fit = std::min(84.0f / s.x, 84.0f / s.y);
      if (fit < 1.0f) size = std::max(38.0f * fit, 15.0f);
    }
  }
  FontScope font(large, size);
  const ImVec2 s = textSize(text);
  drawText(dl, ImVec2(c.x - s.x * 0.5f, c.y - s.y * 0.5f), col, text);
}

void drawRatioCard(ImDrawList* dl, const GridLayout& g, int testState, float target, float shown,
                   bool handLimited) {
  const float R = g.R, T = g.T;
  card(dl, ImVec2(R, T), ImVec2(340, 196), i18n::tr("达成率"));
  const float ratio = shown / target;
  const float fill = std::min(ratio, 1.0f);
  const ImU32 c =
      handLimited ? kColTextMuted : rateColour(testState, shown, target, kColTextMuted, 255);
  const ImVec2 centre(R + 170, T + 104);
  const float start = 3 * kPi / 4;  // opens at the bottom
  dl->PathArcTo(centre, 56, start, start + 3 * kPi / 2, 64);
  dl->PathStroke(IM_COL32(38, 42, 50, 255), 0, 11.0f);
  if (fill > 0.001f) {
    const float end = start + fill * 3 * kPi / 2;
    dl->PathArcTo(centre, 56, start, end, 64);
    dl->PathStroke(withAlpha(c, 55), 0, 18.0f);
    dl->PathArcTo(centre, 56, start, end, 64);
    dl->PathStroke(c, 0, 11.0f);
  }
  char text[32] = "--";
  if (testState == kStateRunning && shown > 0 && !handLimited)
    std::snprintf(text, sizeof text, "%.0f%%", ratio * 100.0f);
  drawRingText(dl, centre, c, text);

  FontScope font(fonts().small, 13.0f);
  char caption[64];
  std::snprintf(caption, sizeof caption, i18n::tr("目标 %.0f Hz"), target);
  drawText(dl, ImVec2(R + (340 - textSize(caption).x) * 0.5f, T + 196 - 24), kColTextLabel,
           caption);
}

}  // namespace

void drawRateCards(ImDrawList* dl, const GridLayout& g, const UiState& ui, float targetHz,
                   HeldRate& held, HintFlags hints) {
  // Both cards show the same held figure; a paused test keeps its last rate
  // (the hand has stopped before it clicks), a reset one has none.
  if (ui.stats.reportCount == 0) held.lastHz = 0.0f;
  const bool paused = ui.testState == kStatePaused;
  const float shownHz = paused ? held.lastHz : held.update(ui.stats.currentHz, ImGui::GetTime());
  // While the hand is the limit the mouse is not judged: neutral, not red.
  const bool handLimited = ui.handLimited || hints.speed;
  drawCurrentRateCard(dl, g, ui, targetHz, shownHz, hints, handLimited);
  drawHistoryCard(dl, g, ui, targetHz);
  drawTiles(dl, g, ui.stats);
  drawRatioCard(dl, g, ui.testState, targetHz, shownHz, handLimited);
}

}  // namespace dashboard
