#include "results/ComparePlot.h"

#include <algorithm>
#include <cmath>

#include "results/TextFormat.h"

namespace results {

namespace {

constexpr int kWidth = 960;
constexpr int kHeight = 560;
constexpr int kSpeedPanelHeight = 440;  // below, when a run has motion
constexpr double kLeft = 80, kTop = 70, kRight = 930, kBottom = 480;
constexpr int kPoints = 600;  // per curve, whatever the number of intervals
constexpr char kFont[] = "Noto Sans CJK SC, WenQuanYi Micro Hei, Source Han Sans SC, sans-serif";
// Distinct on the dark background, in the dashboard's tones first.
constexpr const char* kColours[] = {"#00c3ff", "#ffba38", "#34d399", "#f472b6",
                                    "#a78bfa", "#f87171", "#e8eaed", "#facc15"};

std::string escapeXml(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '"')
      out += "&quot;";
    else if (static_cast<unsigned char>(c) >= 0x20 || c == '\t')
      out += c;
  }
  return out;
}

struct Axis {
  double lowLog = 1, highLog = 5;  // log10 of µs
  double x(double us) const {
    return kLeft + (std::log10(us) - lowLog) / (highLog - lowLog) * (kRight - kLeft);
  }
  double y(double share) const { return kBottom - share * (kBottom - kTop); }
};

// Whole decades around every run's shortest and longest interval.
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
  a.highLog = std::max(a.lowLog + 1, std::ceil(std::log10(hi)));
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

void drawAxes(std::string& svg, const Axis& a) {
  for (double k = a.lowLog; k <= a.highLog + 1e-9; k += 1) {
    for (const double step : {2.0, 5.0}) {
      if (k + std::log10(step) > a.highLog) break;
      const double x = a.x(step * std::pow(10.0, k));
      appendFormat(svg,
                   "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#1d2026\"/>\n"
                   "<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\" fill=\"#6b7078\" "
                   "text-anchor=\"middle\">%s</text>\n",
                   x, kTop, x, kBottom, x, kBottom + 18,
                   tickText(step * std::pow(10.0, k)).c_str());
    }
    const double x = a.x(std::pow(10.0, k));
    appendFormat(svg,
                 "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#2c3038\"/>\n", x,
                 kTop, x, kBottom);
    appendFormat(svg,
                 "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" fill=\"#9aa0a6\" "
                 "text-anchor=\"middle\">%s</text>\n",
                 x, kBottom + 18, tickText(std::pow(10.0, k)).c_str());
  }
  for (int i = 0; i <= 4; ++i) {
    const double y = a.y(i / 4.0);
    appendFormat(svg,
                 "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#2c3038\"/>\n",
                 kLeft, y, kRight, y);
    appendFormat(svg,
                 "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" fill=\"#9aa0a6\" "
                 "text-anchor=\"end\">%d%%</text>\n",
                 kLeft - 8, y + 4, i * 25);
  }
  appendFormat(svg,
               "<text x=\"%.1f\" y=\"%.1f\" font-size=\"14\" fill=\"#c4c7cc\" "
               "text-anchor=\"middle\">报告间隔（对数刻度）</text>\n",
               (kLeft + kRight) / 2, kBottom + 44);
  appendFormat(svg,
               "<text transform=\"translate(24 %.1f) rotate(-90)\" font-size=\"14\" "
               "fill=\"#c4c7cc\" text-anchor=\"middle\">不超过该间隔的比例</text>\n",
               (kTop + kBottom) / 2);
}

// The cumulative share at kPoints lengths along the axis.
void drawCurve(std::string& svg, const Axis& a, const PlotRun& r, const char* colour) {
  const std::vector<double>& v = *r.sortedIntervalsUs;
  if (v.empty()) return;
  appendFormat(svg, "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"2\" points=\"", colour);
  for (int i = 0; i <= kPoints; ++i) {
    const double us = std::pow(10.0, a.lowLog + (a.highLog - a.lowLog) * i / kPoints);
    const auto upTo = std::upper_bound(v.begin(), v.end(), us) - v.begin();
    appendFormat(svg, "%.1f,%.1f ", a.x(us), a.y(static_cast<double>(upTo) / v.size()));
  }
  svg += "\"/>\n";
}

void drawLegend(std::string& svg, const std::vector<PlotRun>& runs) {
  for (std::size_t i = 0; i < runs.size(); ++i) {
    // Lower right: cumulative curves leave it empty.
    const double y = kBottom - 16 - 22 * static_cast<double>(runs.size() - 1 - i);
    const char* colour = kColours[i % std::size(kColours)];
    appendFormat(svg, "<rect x=\"%.1f\" y=\"%.1f\" width=\"18\" height=\"4\" fill=\"%s\"/>\n",
                 kRight - 360, y - 6, colour);
    appendFormat(
        svg,
        "<text x=\"%.1f\" y=\"%.1f\" font-size=\"13\" fill=\"#e8eaed\">%s（%zu 个间隔）</text>\n",
        kRight - 334, y, escapeXml(runs[i].label).c_str(), runs[i].sortedIntervalsUs->size());
  }
}

// The speed panel: rate (Hz, linear) against the band's speed (counts/s,
// logarithmic), one polyline with dots per run.
struct SpeedAxis {
  double lowLog = 0, highLog = 1, maxHz = 1;
  double top = kHeight + 50.0, bottom = kHeight + kSpeedPanelHeight - 80.0;
  double x(double speed) const {
    return kLeft + (std::log10(speed) - lowLog) / (highLog - lowLog) * (kRight - kLeft);
  }
  double y(double hz) const { return bottom - hz / maxHz * (bottom - top); }
};

SpeedAxis speedAxisFor(const std::vector<PlotRun>& runs) {
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
  a.maxHz = maxHz > 0 ? maxHz * 1.1 : 1;
  return a;
}

void drawSpeedPanel(std::string& svg, const std::vector<PlotRun>& runs) {
  const SpeedAxis a = speedAxisFor(runs);
  appendFormat(svg,
               "<text x=\"%.0f\" y=\"%.1f\" font-size=\"18\" font-weight=\"bold\" "
               "fill=\"#e8eaed\">回报率与移动速度</text>\n",
               kLeft, a.top - 16);
  for (double k = a.lowLog; k <= a.highLog + 1e-9; k += 1) {
    const double x = a.x(std::pow(10.0, k));
    appendFormat(svg,
                 "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#2c3038\"/>\n"
                 "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" fill=\"#9aa0a6\" "
                 "text-anchor=\"middle\">%.0f</text>\n",
                 x, a.top, x, a.bottom, x, a.bottom + 18, std::pow(10.0, k));
  }
  for (int i = 0; i <= 4; ++i) {
    const double hz = a.maxHz * i / 4.0;
    appendFormat(svg,
                 "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#2c3038\"/>\n"
                 "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" fill=\"#9aa0a6\" "
                 "text-anchor=\"end\">%.0f Hz</text>\n",
                 kLeft, a.y(hz), kRight, a.y(hz), kLeft - 8, a.y(hz) + 4, hz);
  }
  appendFormat(svg,
               "<text x=\"%.1f\" y=\"%.1f\" font-size=\"14\" fill=\"#c4c7cc\" "
               "text-anchor=\"middle\">移动速度（计数/秒，对数刻度）</text>\n",
               (kLeft + kRight) / 2, a.bottom + 44);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (runs[i].rateBySpeed.empty()) continue;
    const char* colour = kColours[i % std::size(kColours)];
    appendFormat(svg, "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"2\" points=\"", colour);
    // Each band drawn at its middle (geometric) speed.
    for (const auto& [speed, hz] : runs[i].rateBySpeed) {
      appendFormat(svg, "%.1f,%.1f ", a.x(speed * std::sqrt(2.0)), a.y(hz));
    }
    svg += "\"/>\n";
    for (const auto& [speed, hz] : runs[i].rateBySpeed) {
      appendFormat(svg, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"%s\"/>\n",
                   a.x(speed * std::sqrt(2.0)), a.y(hz), colour);
    }
  }
}

bool anyMotion(const std::vector<PlotRun>& runs) {
  return std::any_of(runs.begin(), runs.end(),
                     [](const PlotRun& r) { return !r.rateBySpeed.empty(); });
}

}  // namespace

std::string comparePlotSvg(const std::vector<PlotRun>& runs) {
  std::string svg;
  const bool motion = anyMotion(runs);
  const int height = kHeight + (motion ? kSpeedPanelHeight : 0);
  appendFormat(svg,
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
               "viewBox=\"0 0 %d %d\" font-family=\"%s\">\n",
               kWidth, height, kWidth, height, kFont);
  svg += "<title>报告间隔分布对比</title>\n";
  appendFormat(svg, "<rect width=\"%d\" height=\"%d\" fill=\"#0e0f11\"/>\n", kWidth, height);
  appendFormat(svg,
               "<text x=\"%.0f\" y=\"38\" font-size=\"22\" font-weight=\"bold\" "
               "fill=\"#e8eaed\">报告间隔分布对比（累积）</text>\n",
               kLeft);
  const Axis a = axisFor(runs);
  drawAxes(svg, a);
  for (std::size_t i = 0; i < runs.size(); ++i)
    drawCurve(svg, a, runs[i], kColours[i % std::size(kColours)]);
  drawLegend(svg, runs);
  if (motion) drawSpeedPanel(svg, runs);
  if (runs.empty()) {
    appendFormat(svg,
                 "<text x=\"%.1f\" y=\"%.1f\" font-size=\"18\" fill=\"#9aa0a6\" "
                 "text-anchor=\"middle\">没有间隔数据可画</text>\n",
                 (kLeft + kRight) / 2, (kTop + kBottom) / 2);
  }
  svg += "</svg>\n";
  return svg;
}

WriteResult writeComparePlot(const std::vector<PlotRun>& runs, const std::string& path) {
  return writeFileAtomically(path, comparePlotSvg(runs));
}

}  // namespace results
