#include <algorithm>
#include <cstdio>

#include "dashboard/Cards.h"
#include "dashboard/DrawKit.h"
#include "dashboard/LayoutRecord.h"
#include "dashboard/Palette.h"
#include "i18n/Translate.h"

namespace dashboard {
namespace {

struct Bars {
  float left, right, top, bottom;
  float barW;
};

void drawBars(ImDrawList* dl, const Bars& b, const PollingStats& s) {
  const uint32_t peak =
      std::max<uint32_t>(1, *std::max_element(s.histogram.begin(), s.histogram.end()));
  const float plotH = b.bottom - b.top;
  const float limit = histogramLimit(s.baselineUs, s.binWidthUs);
  for (size_t i = 0; i < s.histogram.size(); ++i) {
    if (s.histogram[i] == 0) continue;
    const float h =
        std::max(plotH * static_cast<float>(s.histogram[i]) / static_cast<float>(peak), 1.0f);
    const float fi = static_cast<float>(i);
    dl->AddRectFilled(ImVec2(b.left + fi * b.barW + 1, b.bottom - h),
                      ImVec2(b.left + (fi + 1) * b.barW - 1, b.bottom),
                      histogramBarColour(static_cast<int>(i), limit), 2.0f,
                      ImDrawFlags_RoundCornersTop);
  }
}

void drawAxisLabels(ImDrawList* dl, const Bars& b, const PollingStats& s) {
  const size_t n = s.histogram.size();
  for (int k = 0; k <= 20; k += 10) {
    if (n < static_cast<size_t>(k) + 1) break;
    char text[32] = "0";
    const float us = s.binWidthUs * static_cast<float>(k);
    if (us != 0.0f) std::snprintf(text, sizeof text, "%.2fms", us / 1000.0f);
    const float w = textSize(text).x;
    // Centred under the bin's left edge, kept inside the plot.
    const float x =
        std::max(b.left, std::min(b.right - w, b.left + static_cast<float>(k) * b.barW - w / 2));
    drawText(dl, ImVec2(x, b.bottom + 6), kColTextMuted, text);
  }
}

void drawDistributionCard(ImDrawList* dl, ImVec2 D, float dH, const PollingStats& s,
                          int testState) {
  card(dl, D, ImVec2(340, dH), i18n::tr("报告间隔分布"));
  Bars b{D.x + 12, D.x + 328, D.y + 40, D.y + dH - 30, 0};
  FontScope font(fonts().small, 13.0f);
  // A zero bin width has no scale to draw against; treat it as "no data yet".
  if (s.histogram.empty() || s.baselineUs <= 0 || s.binWidthUs <= 0 || b.right <= b.left ||
      b.bottom <= b.top) {
    // Sampling only while a test runs.
    const char* text = testState == kStateRunning ? i18n::tr("采样中…") : i18n::tr("暂无数据");
    const ImVec2 ts = textSize(text);
    drawText(dl, ImVec2((b.left + b.right) / 2 - ts.x / 2, (b.top + b.bottom) / 2 - ts.y / 2),
             kColTextMuted, text);
    return;
  }
  b.barW = (b.right - b.left) / static_cast<float>(s.histogram.size());
  drawBars(dl, b, s);
  const float x = b.left + b.barW * s.baselineUs / s.binWidthUs;
  if (b.left < x && x < b.right)
    dl->AddLine(ImVec2(x, b.top), ImVec2(x, b.bottom), IM_COL32(230, 234, 240, 45), 1.0f);
  drawAxisLabels(dl, b, s);
}

// One label and its value, right-aligned so it ends at valueRight.
// One label and its value, right-aligned so it ends at valueRight; a value
// that would run into its label takes the label's smaller size.
void drawQualityFigure(ImDrawList* dl, ImVec2 labelPos, float valueRight, const QualityRow& row) {
  float labelEnd = 0;
  {
    FontScope font(fonts().small, 13.0f);
    drawText(dl, labelPos, kColTextLabel, row.label);
    labelEnd = labelPos.x + textSize(row.label).x;
  }
  float w = 0;
  {
    FontScope font(fonts().body, 16.0f);
    w = textSize(row.value).x;
  }
  const bool fits = valueRight - w >= labelEnd + 8;
  FontScope font(fits ? fonts().body : fonts().small, fits ? 16.0f : 13.0f);
  drawText(dl, ImVec2(valueRight - textSize(row.value).x, labelPos.y - (fits ? 3 : 0)), row.colour,
           row.value);
}

// The card's rows: 26.5 pixels apart in a 168-pixel card, as long as the
// card ends above the control bar. On a shorter window the card ends above
// the bar and the rows close up (down to one line apart) so the fifth line
// still fits; where even that cannot fit, the rows keep their places and
// the fifth line is left out rather than drawn under the buttons.
struct QualityLayout {
  float height = 168, first = 40, pitch = 26.5f;
  bool fifthLine = true;
};

QualityLayout qualityLayout(float top, float barTop) {
  QualityLayout q;
  const float room = barTop - 2 - top;
  if (room >= q.height) return q;
  float lineH = 0;
  {
    FontScope font(fonts().body, 16.0f);
    lineH = textSize("0").y;
  }
  // Values sit 3 pixels above their labels; the title ends by +30.
  const float first = 32, bottomPad = 4;
  const float pitch = (room - bottomPad - (first - 3) - lineH) / 4;
  if (pitch < lineH) {
    q.fifthLine = false;
    return q;
  }
  q.first = first;
  q.pitch = std::min(pitch, 26.5f);
  q.height = room;
  return q;
}

void drawQualityCard(ImDrawList* dl, ImVec2 Q, const PollingStats& s, float barTop) {
  const QualityLayout q = qualityLayout(Q.y, barTop);
  card(dl, Q, ImVec2(340, q.height), i18n::tr("信号质量"));
  for (int k = 0; k < 4; ++k) {
    const float y = Q.y + q.first + q.pitch * static_cast<float>(k);
    drawQualityFigure(dl, ImVec2(Q.x + 14, y), Q.x + 326, qualityRow(k, s));
  }
  if (!q.fifthLine) return;
  // The gaps of the test share one more line, in two halves.
  AddedElement added("longest interval and kernel drops");
  const float y = Q.y + q.first + q.pitch * 4;
  drawQualityFigure(dl, ImVec2(Q.x + 14, y), Q.x + 156, qualityRow(4, s));
  drawQualityFigure(dl, ImVec2(Q.x + 172, y), Q.x + 326, qualityRow(5, s));
}

}  // namespace

void drawDiagnosticCards(ImDrawList* dl, const GridLayout& g, const PollingStats& stats,
                         int testState) {
  drawDistributionCard(dl, ImVec2(g.R, g.T + 212), g.dH, stats, testState);
  drawQualityCard(dl, ImVec2(g.R, g.T + 228 + g.dH), stats, g.barTop);
}

}  // namespace dashboard
