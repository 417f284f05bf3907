#include "results/ComparePlot.h"

#include <algorithm>
#include <cmath>

#include "i18n/Translate.h"
#include "results/PlotScale.h"
#include "results/TextFormat.h"

namespace results {

namespace {

constexpr int kWidth = 960;
constexpr double kLeft = 80, kRight = 930;
constexpr int kPoints = 600;         // per curve, whatever the number of intervals
constexpr int kLegendColumns = 116;  // a legend line at 13 px, a CJK character two columns
constexpr double kLegendLine = 20;
constexpr char kFont[] = "Noto Sans CJK SC, WenQuanYi Micro Hei, Source Han Sans SC, sans-serif";
// Distinct on the dark background, in the dashboard's tones first.
constexpr const char* kColours[] = {"#00c3ff", "#ffba38", "#34d399", "#f472b6",
                                    "#a78bfa", "#f87171", "#e8eaed", "#facc15"};
constexpr char kGrid[] = "#2c3038";
constexpr char kTickText[] = "#9aa0a6";

// Where each part of the picture goes: the legend under the title, then the
// distribution, its tail and, when a run has motion, the rate against speed.
struct Layout {
  double legendTop = 66;
  double cdfTop = 0, cdfBottom = 0, tailTop = 0, tailBottom = 0, speedTop = 0, speedBottom = 0;
  int height = 0;
};

// A legend text in lines of at most kLegendColumns.
std::vector<std::string> legendLines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < text.size();) {
    std::size_t next = i + 1;
    while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
    const std::string ch = text.substr(i, next - i);
    if (displayColumns(lines.back() + ch) > kLegendColumns) {
      // Between words where a short last word can move on, else between characters.
      const std::size_t space = lines.back().rfind(' ');
      std::string carried;
      if (space != std::string::npos && space > 0 &&
          lines.back().size() - space < kLegendColumns / 3) {
        carried = lines.back().substr(space + 1);
        lines.back().erase(space);
      }
      lines.push_back(carried);
    }
    lines.back() += ch;
    i = next;
  }
  return lines;
}

std::string legendText(const PlotRun& r) {
  std::string out = r.label;
  appendFormat(out, i18n::tr("（%zu 个间隔）"), r.sortedIntervalsUs->size());
  return out;
}

bool anyMotion(const std::vector<PlotRun>& runs) {
  return std::any_of(runs.begin(), runs.end(),
                     [](const PlotRun& r) { return !r.rateBySpeed.empty(); });
}

Layout layoutFor(const std::vector<PlotRun>& runs) {
  Layout l;
  std::size_t lines = 0;
  for (const PlotRun& r : runs) lines += legendLines(legendText(r)).size();
  l.cdfTop = l.legendTop + kLegendLine * static_cast<double>(lines) + 36;
  l.cdfBottom = l.cdfTop + 300;
  l.tailTop = l.cdfBottom + 96;
  l.tailBottom = l.tailTop + 220;
  l.speedTop = l.tailBottom + 110;
  l.speedBottom = l.speedTop + 260;
  l.height = static_cast<int>((anyMotion(runs) ? l.speedBottom : l.tailBottom) + 64);
  return l;
}

// The interval axis, logarithmic, shared by the distribution and its tail.
struct Axis {
  double lowLog = 1, highLog = 5;  // log10 of µs
  double x(double us) const {
    return kLeft + (std::log10(us) - lowLog) / (highLog - lowLog) * (kRight - kLeft);
  }
};

// From the decade below every run's shortest interval to a little beyond the
// longest.
Axis axisFor(const std::vector<PlotRun>& runs) {
  double lo = 1e12, hi = 0;
  for (const PlotRun& r : runs) {
    if (r.sortedIntervalsUs->empty()) continue;
    lo = std::min(lo, std::max(1.0, r.sortedIntervalsUs->front()));
    hi = std::max(hi, std::max(1.0, r.sortedIntervalsUs->back()));
  }
  Axis a;
  if (hi <= 0) return a;
  a.lowLog = std::floor(std::log10(lo));
  // A curve that rises at a decade is drawn inside the frame, not on it.
  a.highLog = std::max(a.lowLog + 1, std::log10(hi * 1.5));
  return a;
}

std::string tickText(double us) {
  std::string out;
  if (us >= 1000) {
    appendFormat(out, "%g ms", us / 1000);
  } else {
    appendFormat(out, "%g µs", us);
  }
  return out;
}

void gridLine(std::string& svg, double x1, double y1, double x2, double y2, const char* colour) {
  appendFormat(svg, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\"/>\n", x1,
               y1, x2, y2, colour);
}

void label(std::string& svg, double x, double y, const char* anchor, int size,
           const std::string& text) {
  appendFormat(svg,
               "<text x=\"%.1f\" y=\"%.1f\" font-size=\"%d\" fill=\"%s\" "
               "text-anchor=\"%s\">%s</text>\n",
               x, y, size, size > 12 ? "#c4c7cc" : kTickText, anchor, text.c_str());
}

void panelTitle(std::string& svg, double top, const char* text) {
  appendFormat(svg,
               "<text x=\"%.0f\" y=\"%.1f\" font-size=\"16\" font-weight=\"bold\" "
               "fill=\"#e8eaed\">%s</text>\n",
               kLeft, top - 14, text);
}

void yTitle(std::string& svg, double top, double bottom, const char* text) {
  appendFormat(svg,
               "<text transform=\"translate(24 %.1f) rotate(-90)\" font-size=\"14\" "
               "fill=\"#c4c7cc\" text-anchor=\"middle\">%s</text>\n",
               (top + bottom) / 2, text);
}

// The interval axis under a panel: decades, with 2 and 5 between them.
void drawIntervalAxis(std::string& svg, const Axis& a, double top, double bottom) {
  for (double k = a.lowLog; k <= a.highLog + 1e-9; k += 1) {
    for (const double step : {2.0, 5.0}) {
      if (k + std::log10(step) > a.highLog) break;
      const double x = a.x(step * std::pow(10.0, k));
      gridLine(svg, x, top, x, bottom, "#1d2026");
      label(svg, x, bottom + 18, "middle", 11, tickText(step * std::pow(10.0, k)));
    }
    const double x = a.x(std::pow(10.0, k));
    gridLine(svg, x, top, x, bottom, kGrid);
    label(svg, x, bottom + 18, "middle", 12, tickText(std::pow(10.0, k)));
  }
  label(svg, (kLeft + kRight) / 2, bottom + 42, "middle", 14, i18n::tr("报告间隔（对数刻度）"));
}

double cdfY(const Layout& l, double share) {
  return l.cdfBottom - share * (l.cdfBottom - l.cdfTop);
}

void drawCdfAxes(std::string& svg, const Axis& a, const Layout& l) {
  panelTitle(svg, l.cdfTop, i18n::tr("累积分布：不超过该间隔的比例"));
  drawIntervalAxis(svg, a, l.cdfTop, l.cdfBottom);
  for (int i = 0; i <= 4; ++i) {
    gridLine(svg, kLeft, cdfY(l, i / 4.0), kRight, cdfY(l, i / 4.0), kGrid);
    label(svg, kLeft - 8, cdfY(l, i / 4.0) + 4, "end", 12, std::to_string(i * 25) + "%");
  }
  yTitle(svg, l.cdfTop, l.cdfBottom, i18n::tr("不超过该间隔的比例"));
}

// The tail: the share of intervals longer than each length, 1 − F, from 1
// down to one interval in the largest run.
struct TailAxis {
  double decades = 2;
  double y(const Layout& l, double share) const {
    const double f = std::clamp(-std::log10(share) / decades, 0.0, 1.0);
    return l.tailTop + f * (l.tailBottom - l.tailTop);
  }
};

TailAxis tailAxisFor(const std::vector<PlotRun>& runs) {
  std::size_t most = 1;
  for (const PlotRun& r : runs) most = std::max(most, r.sortedIntervalsUs->size());
  return {std::clamp(std::ceil(std::log10(static_cast<double>(most))), 2.0, 8.0)};
}

void drawTailAxes(std::string& svg, const Axis& a, const TailAxis& t, const Layout& l) {
  panelTitle(svg, l.tailTop, i18n::tr("尾部：超过该间隔的比例（1 − F，对数刻度）"));
  drawIntervalAxis(svg, a, l.tailTop, l.tailBottom);
  for (int k = 0; k <= static_cast<int>(t.decades); ++k) {
    const double share = std::pow(10.0, -k);
    gridLine(svg, kLeft, t.y(l, share), kRight, t.y(l, share), kGrid);
    std::string text;
    appendFormat(text, "%g%%", share * 100);
    label(svg, kLeft - 8, t.y(l, share) + 4, "end", 12, text);
  }
  yTitle(svg, l.tailTop, l.tailBottom, i18n::tr("超过该间隔的比例"));
}

// The cumulative share and the tail at kPoints lengths along the axis.
void drawCurves(std::string& svg, const Axis& a, const TailAxis& t, const Layout& l,
                const PlotRun& r, const char* colour) {
  const std::vector<double>& v = *r.sortedIntervalsUs;
  if (v.empty()) return;
  std::string cdf, tail;
  bool ended = false;
  for (int i = 0; i <= kPoints; ++i) {
    const double us = std::pow(10.0, a.lowLog + (a.highLog - a.lowLog) * i / kPoints);
    const auto upTo = std::upper_bound(v.begin(), v.end(), us) - v.begin();
    const double share = static_cast<double>(upTo) / static_cast<double>(v.size());
    appendFormat(cdf, "%.1f,%.1f ", a.x(us), cdfY(l, share));
    // The tail drops to the floor where the last interval is passed.
    if (ended) continue;
    ended = share >= 1;
    appendFormat(tail, "%.1f,%.1f ", a.x(us), ended ? l.tailBottom : t.y(l, 1 - share));
  }
  for (const std::string* points : {&cdf, &tail}) {
    if (points->empty()) continue;
    appendFormat(svg, "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"2\" points=\"%s\"/>\n",
                 colour, points->c_str());
  }
}

// One line per run under the title, above the curves; a long name goes on
// in a second line rather than being cut.
void drawLegend(std::string& svg, const std::vector<PlotRun>& runs, const Layout& l) {
  double y = l.legendTop;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const char* colour = kColours[i % std::size(kColours)];
    appendFormat(svg, "<rect x=\"%.1f\" y=\"%.1f\" width=\"18\" height=\"4\" fill=\"%s\"/>\n",
                 kLeft, y - 6, colour);
    appendFormat(svg, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"13\" fill=\"#e8eaed\">", kLeft + 26,
                 y);
    bool first = true;
    for (const std::string& line : legendLines(legendText(runs[i]))) {
      appendFormat(svg, "<tspan x=\"%.1f\" dy=\"%.0f\">%s</tspan>", kLeft + 26,
                   first ? 0.0 : kLegendLine, xmlText(line).c_str());
      y += kLegendLine;
      first = false;
    }
    svg += "</text>\n";
  }
}

// The speed panel: rate (Hz, linear, round ticks) against the band's speed
// (counts/s, logarithmic), one polyline with dots per run. Runs side by side
// within a band, so no run's dot hides another's.
struct SpeedAxis {
  double lowLog = 0, highLog = 1, topHz = 1, step = 1;
  double top = 0, bottom = 0;
  double x(double speed) const {
    return kLeft + (std::log10(speed) - lowLog) / (highLog - lowLog) * (kRight - kLeft);
  }
  double y(double hz) const { return bottom - hz / topHz * (bottom - top); }
};

SpeedAxis speedAxisFor(const std::vector<PlotRun>& runs, const Layout& l) {
  double lo = 1e12, hi = 0, maxHz = 0;
  for (const PlotRun& r : runs) {
    for (const auto& [speed, hz] : r.rateBySpeed) {
      lo = std::min(lo, std::max(1.0, speed));
      hi = std::max(hi, std::max(1.0, 2 * speed));
      maxHz = std::max(maxHz, hz);
    }
  }
  SpeedAxis a;
  a.lowLog = std::floor(std::log10(lo));
  a.highLog = std::max(a.lowLog + 1, std::ceil(std::log10(hi)));
  a.step = plot::niceStep(maxHz > 0 ? maxHz * 1.05 : 1);
  a.topHz = std::max(1.0, std::ceil(maxHz * 1.05 / a.step)) * a.step;
  a.top = l.speedTop;
  a.bottom = l.speedBottom;
  return a;
}

void drawSpeedAxes(std::string& svg, const SpeedAxis& a) {
  panelTitle(svg, a.top, i18n::tr("回报率与移动速度"));
  for (double k = a.lowLog; k <= a.highLog + 1e-9; k += 1) {
    const double x = a.x(std::pow(10.0, k));
    gridLine(svg, x, a.top, x, a.bottom, kGrid);
    std::string text;
    appendFormat(text, "%.0f", std::pow(10.0, k));
    label(svg, x, a.bottom + 18, "middle", 12, text);
  }
  for (double hz = 0; hz <= a.topHz + 1e-9; hz += a.step) {
    gridLine(svg, kLeft, a.y(hz), kRight, a.y(hz), kGrid);
    std::string text;
    appendFormat(text, "%.0f Hz", hz);
    label(svg, kLeft - 8, a.y(hz) + 4, "end", 12, text);
  }
  label(svg, (kLeft + kRight) / 2, a.bottom + 42, "middle", 14,
        i18n::tr("移动速度（counts/s，对数刻度）"));
}

void drawSpeedPanel(std::string& svg, const std::vector<PlotRun>& runs, const Layout& l) {
  const SpeedAxis a = speedAxisFor(runs, l);
  drawSpeedAxes(svg, a);
  const double n = static_cast<double>(runs.size());
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (runs[i].rateBySpeed.empty()) continue;
    const char* colour = kColours[i % std::size(kColours)];
    // Each band at its middle (geometric) speed, each run a little apart.
    const double shift = std::pow(2.0, 0.5 + 0.5 * (static_cast<double>(i) - (n - 1) / 2) / n);
    std::string points, dots;
    for (const auto& [speed, hz] : runs[i].rateBySpeed) {
      appendFormat(points, "%.1f,%.1f ", a.x(speed * shift), a.y(hz));
      appendFormat(dots,
                   "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4\" fill=\"#0e0f11\" stroke=\"%s\" "
                   "stroke-width=\"2\"/>\n",
                   a.x(speed * shift), a.y(hz), colour);
    }
    appendFormat(svg,
                 "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"2\" points=\"%s\"/>\n%s",
                 colour, points.c_str(), dots.c_str());
  }
}

}  // namespace

std::string comparePlotSvg(const std::vector<PlotRun>& runs) {
  std::string svg;
  const Layout l = layoutFor(runs);
  appendFormat(svg,
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
               "viewBox=\"0 0 %d %d\" font-family=\"%s\">\n",
               kWidth, l.height, kWidth, l.height, kFont);
  appendFormat(svg, "<title>%s</title>\n", i18n::tr("报告间隔分布对比"));
  appendFormat(svg, "<rect width=\"%d\" height=\"%d\" fill=\"#0e0f11\"/>\n", kWidth, l.height);
  appendFormat(svg,
               "<text x=\"%.0f\" y=\"38\" font-size=\"22\" font-weight=\"bold\" "
               "fill=\"#e8eaed\">%s</text>\n",
               kLeft, i18n::tr("报告间隔分布对比"));
  const Axis a = axisFor(runs);
  const TailAxis t = tailAxisFor(runs);
  drawCdfAxes(svg, a, l);
  drawTailAxes(svg, a, t, l);
  for (std::size_t i = 0; i < runs.size(); ++i)
    drawCurves(svg, a, t, l, runs[i], kColours[i % std::size(kColours)]);
  drawLegend(svg, runs, l);
  if (anyMotion(runs)) drawSpeedPanel(svg, runs, l);
  if (runs.empty()) {
    label(svg, (kLeft + kRight) / 2, (l.cdfTop + l.cdfBottom) / 2, "middle", 18,
          i18n::tr("没有间隔数据可画"));
  }
  svg += "</svg>\n";
  return svg;
}

WriteResult writeComparePlot(const std::vector<PlotRun>& runs, const std::string& path) {
  return writeFileAtomically(path, comparePlotSvg(runs));
}

}  // namespace results
