#include "analysis/CpiMeasure.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

namespace cpi {

std::optional<double> parseDistanceMm(const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str()) return std::nullopt;
  std::string unit(end);
  unit.erase(std::remove(unit.begin(), unit.end(), ' '), unit.end());
  double mm = 0;
  if (unit == "cm") {
    mm = value * 10;
  } else if (unit == "mm") {
    mm = value;
  } else if (unit == "in" || unit == "\"") {
    mm = value * kCmPerInch * 10;
  } else {
    return std::nullopt;
  }
  if (!std::isfinite(mm) || mm <= 0 || mm > 10000) return std::nullopt;
  return mm;
}

std::optional<Stroke> StrokeTracker::step(int64_t nowNs, int64_t x, int64_t y,
                                          int64_t lastMotionNs) {
  const int64_t still = nowNs - lastMotionNs;
  switch (phase_) {
    case Phase::WaitingForRest:
      if (still < kRestBeforeNs) break;
      phase_ = Phase::Ready;
      baseX_ = x;
      baseY_ = y;
      break;
    case Phase::Ready:
      if (x != baseX_ || y != baseY_) phase_ = Phase::Moving;
      break;
    case Phase::Moving:
      live_ = Stroke{x - baseX_, y - baseY_};
      if (still < kRestAfterNs) break;
      phase_ = Phase::Done;
      return live_;
    case Phase::Done:
      break;
  }
  return std::nullopt;
}

StrokeFigures strokeFigures(const Stroke& s, double inches) {
  StrokeFigures f;
  const int64_t ax = std::llabs(s.x);
  const int64_t ay = std::llabs(s.y);
  f.axis = ay > ax ? 'y' : 'x';
  f.mainCounts = std::max(ax, ay);
  const int64_t off = std::min(ax, ay);
  f.offAxisShare =
      f.mainCounts > 0 ? static_cast<double>(off) / static_cast<double>(f.mainCounts) : 0;
  f.cpi = inches > 0 ? static_cast<double>(f.mainCounts) / inches : 0;
  return f;
}

CpiResult measureCpi(const std::vector<Stroke>& strokes, double inches) {
  CpiResult r;
  r.inches = inches;
  int alongY = 0;
  for (const Stroke& s : strokes) {
    r.strokes.push_back(strokeFigures(s, inches));
    alongY += r.strokes.back().axis == 'y' ? 1 : 0;
  }
  if (r.strokes.empty()) return r;
  r.axis = 2 * alongY > static_cast<int>(r.strokes.size()) ? 'y' : 'x';
  double sum = 0, low = r.strokes[0].cpi, high = low;
  for (const StrokeFigures& f : r.strokes) {
    sum += f.cpi;
    low = std::min(low, f.cpi);
    high = std::max(high, f.cpi);
  }
  r.cpi = sum / static_cast<double>(r.strokes.size());
  r.spreadPct = r.cpi > 0 ? (high - low) / r.cpi * 100 : 0;
  r.nearestSetting = kCommonSettings[0];
  for (const int setting : kCommonSettings) {
    if (std::abs(setting - r.cpi) < std::abs(r.nearestSetting - r.cpi)) r.nearestSetting = setting;
  }
  r.offSettingPct = (r.cpi - r.nearestSetting) / r.nearestSetting * 100;
  return r;
}

}  // namespace cpi
