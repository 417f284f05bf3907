#include "results/SpeedPlot.h"

#include <algorithm>
#include <cmath>

#include "i18n/Translate.h"
#include "results/TextFormat.h"

namespace results {

namespace {

constexpr char kBarColour[] = "#38bdf8";
constexpr char kYardstickColour[] = "#ffba38";
constexpr char kSaturationColour[] = "#34d399";

// Octaves from the slowest band to the fastest, evenly across the box, and
// at least kMinOctaves of them, so one band is a bar among its neighbours'
// places rather than the whole width.
constexpr double kMinOctaves = 8;

struct SpeedAxis {
  double lowLog2 = 0, highLog2 = 1;
  double x(double countsPerS, const plot::Box& b) const {
    const double f = (std::log2(countsPerS) - lowLog2) / (highLog2 - lowLog2);
    return b.left + std::clamp(f, 0.0, 1.0) * b.width;
  }
};

SpeedAxis speedAxisFor(const MotionFigures& m) {
  SpeedAxis a{std::floor(std::log2(m.bands.front().lowCountsPerS)),
              std::ceil(std::log2(m.bands.back().lowCountsPerS)) + 1};
  const double missing = kMinOctaves - (a.highLog2 - a.lowLog2);
  if (missing > 0) {
    a.lowLog2 = std::max(0.0, a.lowLog2 - std::floor(missing / 2));
    a.highLog2 = a.lowLog2 + kMinOctaves;
  }
  return a;
}

double rateY(double hz, double topHz, const plot::Box& b) {
  return b.bottom() - std::clamp(hz / topHz, 0.0, 1.0) * b.height;
}

void drawAxes(std::string& svg, const SpeedAxis& axis, double topHz, const plot::Box& b) {
  appendFormat(svg, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"16\" fill=\"#e8eaed\">%s</text>\n",
               b.left, b.top - 12, i18n::tr("回报率与手速"));
  const double step = plot::niceStep(topHz);
  for (double hz = 0; hz <= topHz + 1e-9; hz += step) {
    appendFormat(svg,
                 "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" fill=\"#9aa0a6\" "
                 "text-anchor=\"end\">%.0f</text>\n",
                 b.left - 8, rateY(hz, topHz, b) + 4, hz);
  }
  // A mark at each octave's edge; every other one when they are many.
  const int every = axis.highLog2 - axis.lowLog2 > 12 ? 2 : 1;
  for (int k = static_cast<int>(axis.lowLog2); k <= static_cast<int>(axis.highLog2); k += every) {
    const double speed = std::ldexp(1.0, k);
    appendFormat(svg,
                 "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" fill=\"#9aa0a6\" "
                 "text-anchor=\"middle\">%.0f</text>\n",
                 axis.x(speed, b), b.bottom() + 16, speed);
  }
  appendFormat(svg,
               "<text x=\"%.1f\" y=\"%.1f\" font-size=\"13\" fill=\"#9aa0a6\" "
               "text-anchor=\"middle\">%s</text>\n",
               b.left + b.width / 2, b.bottom() + 36,
               i18n::tr("手速 (counts/s，对数刻度)　·　纵轴：回报率 (Hz)"));
  appendFormat(svg,
               "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" "
               "stroke=\"#5f6368\"/>\n",
               b.left, b.top, b.width, b.height);
}

}  // namespace

std::string speedPlotSvg(const MotionFigures& m, double yardstickHz,
                         std::optional<double> saturation, const plot::Box& b) {
  if (!m.known || m.bands.empty()) return {};
  const SpeedAxis axis = speedAxisFor(m);
  double topHz = yardstickHz;
  for (const SpeedBand& band : m.bands) topHz = std::max(topHz, band.rateHz);
  topHz *= 1.1;
  std::string svg;
  drawAxes(svg, axis, topHz, b);
  for (const SpeedBand& band : m.bands) {
    const double left = axis.x(band.lowCountsPerS, b) + 2;
    const double right = axis.x(2 * band.lowCountsPerS, b) - 2;
    const double top = rateY(band.rateHz, topHz, b);
    appendFormat(svg,
                 "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\" "
                 "fill-opacity=\"0.8\"><title>%.0f–%.0f counts/s: %.0f Hz, %.2f s</title></rect>\n",
                 left, top, std::max(right - left, 1.0), b.bottom() - top, kBarColour,
                 band.lowCountsPerS, 2 * band.lowCountsPerS, band.rateHz, band.movingSeconds);
  }
  if (yardstickHz > 0) {
    const double y = rateY(yardstickHz, topHz, b);
    appendFormat(svg,
                 "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" "
                 "stroke-dasharray=\"6 4\"/>\n<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" "
                 "fill=\"%s\" text-anchor=\"end\">",
                 b.left, y, b.right(), y, kYardstickColour, b.right() - 6, y - 6, kYardstickColour);
    appendFormat(svg, i18n::tr("目标 %.0f Hz"), yardstickHz);
    svg += "</text>\n";
  }
  if (saturation) {
    const double x = axis.x(*saturation, b);
    appendFormat(svg,
                 "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\"/>\n"
                 "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" fill=\"%s\">",
                 x, b.top, x, b.bottom(), kSaturationColour, x + 6, b.top + 16, kSaturationColour);
    appendFormat(svg, i18n::tr("饱和 ≈ %.0f counts/s"), *saturation);
    svg += "</text>\n";
  }
  return svg;
}

}  // namespace results
