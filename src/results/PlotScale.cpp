#include "results/PlotScale.h"

#include <algorithm>
#include <cmath>

namespace results::plot {

double LogAxis::y(double ms, const Box& box) const {
  const double v = std::clamp(ms, lowMs, highMs);
  const double f = (std::log10(v) - std::log10(lowMs)) / (std::log10(highMs) - std::log10(lowMs));
  return box.bottom() - f * box.height;
}

LogAxis logAxisFor(double minMs, double maxMs) {
  LogAxis axis;
  double lo = std::floor(std::log10(std::max(minMs, 1e-4) / 1.5));
  double hi = std::ceil(std::log10(std::max(maxMs, 1e-4) * 1.05));
  if (hi - lo < 2) hi = lo + 2;
  axis.lowMs = std::pow(10.0, lo);
  axis.highMs = std::pow(10.0, hi);
  return axis;
}

std::vector<double> logTicks(const LogAxis& axis) {
  const int decades = static_cast<int>(std::lround(std::log10(axis.highMs / axis.lowMs)));
  std::vector<double> ticks;
  for (int d = 0; d <= decades; ++d) {
    const double base = axis.lowMs * std::pow(10.0, d);
    ticks.push_back(base);
    if (decades <= 3 && d < decades) {
      ticks.push_back(base * 2);
      ticks.push_back(base * 5);
    }
  }
  return ticks;
}

double niceStep(double span) {
  if (span <= 0) return 1;
  const double raw = span / 8;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0}) {
    if (m * power >= raw) return m * power;
  }
  return 10 * power;
}

}  // namespace results::plot
