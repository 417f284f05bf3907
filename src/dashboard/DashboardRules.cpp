#include "dashboard/DashboardRules.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "analysis/MotionRules.h"
#include "analysis/PollingRules.h"
#include "dashboard/Palette.h"
#include "i18n/Translate.h"

namespace dashboard {

float HeldRate::update(float currentHz, double now) {
  if (currentHz <= 0.0f) {
    shownHz = 0.0f;
    shownAt = -1.0;
    return 0.0f;
  }
  if (shownAt < 0.0 || now - shownAt >= 0.25) {
    shownHz = currentHz;
    shownAt = now;
    lastHz = currentHz;
  }
  return shownHz;
}

bool SpeedHint::update(bool running, bool speedLimited, float currentHz, float targetHz,
                       double now) {
  if (!running || currentHz >= targetHz * pollingrules::kTargetNearRatio) {
    belowSince = -1.0;
    return false;
  }
  if (belowSince < 0.0) belowSince = now;
  return speedLimited &&
         now - belowSince >= std::chrono::duration<double>(motionrules::kSpeedLimitedSpan).count();
}

ImU32 rateColour(int testState, float shownHz, float targetHz, ImU32 inactive, int alpha) {
  ImU32 col = inactive;
  if (testState == kStateRunning && shownHz > 0.0f) {
    const float ratio = shownHz / targetHz;
    col = ratio < pollingrules::kTargetNearRatio      ? kColBad
          : ratio < pollingrules::kTargetReachedRatio ? kColWarn
                                                      : kColGood;
  }
  return withAlpha(col, alpha);
}

int nearestTargetIndex(float hz) {
  int best = 0;
  float bestDist = std::min(std::fabs(kTargetRates[0] - hz), 1e9f);
  for (int i = 1; i < kTargetRateCount; ++i) {
    const float dist = std::fabs(kTargetRates[i] - hz);
    if (dist < bestDist) {
      best = i;
      bestDist = dist;
    }
  }
  return best;
}

int automaticTargetIndex(float configuredHz, float baselineHz) {
  if (configuredHz > 0.0f) return nearestTargetIndex(configuredHz);
  if (baselineHz > 0.0f) return nearestTargetIndex(baselineHz);
  return -1;
}

float historyTop(float targetHz, const std::vector<float>& history) {
  float top = targetHz * 1.2f;
  for (float v : history) top = std::max(top, v * 1.1f);
  return std::ceil(top / 100.0f) * 100.0f;
}

float historyGridStep(float top) {
  const float step = std::floor(top * 0.25f / 100.0f) * 100.0f;
  return step > 0.0f ? step : 100.0f;
}

float histogramLimit(float baselineUs, float binWidthUs) { return 1.5f * baselineUs / binWidthUs; }

ImU32 histogramBarColour(int bin, float limit) {
  return static_cast<float>(bin) < limit ? IM_COL32(0, 195, 255, 220) : IM_COL32(255, 186, 56, 220);
}

namespace {

void setValue(QualityRow& row, const char* text) {
  std::snprintf(row.value, sizeof row.value, "%s", text);
}

}  // namespace

namespace {

// Below a millisecond in µs with one decimal, so that at 8000 Hz no figure
// reads below one it cannot be below (0.12 ms next to 0.125 ms).
void intervalText(char* out, size_t size, const char* prefix, float us, const char* msFormat) {
  if (us < 1000.0f)
    std::snprintf(out, size, "%s%.1f µs", prefix, us);
  else
    std::snprintf(out, size, msFormat, prefix, us / 1000.0f);
}

// The baseline with the rate that follows from the interval as shown.
void baselineValue(QualityRow& r, float us) {
  char interval[32];
  intervalText(interval, sizeof interval, "", us, "%s%.3f ms");
  const float shownUs = us < 1000.0f ? std::round(us * 10.0f) / 10.0f : std::round(us);
  std::snprintf(r.value, sizeof r.value, "%s  (%.0f Hz)", interval, 1e6f / shownUs);
}

// The longest interval is amber when it is a gap that drops out of every
// other figure (more than ten baselines).
void longestIntervalValue(QualityRow& r, const PollingStats& s, bool valid) {
  if (s.longestIntervalUs > 0.0f)
    intervalText(r.value, sizeof r.value, "", s.longestIntervalUs, "%s%.2f ms");
  if (valid) r.colour = s.longestIntervalUs > 10.0f * s.baselineUs ? kColWarn : kColTextBright;
}

// Kernel buffer overflows, then the reports they cost: "2 次 (~37)".
void kernelDropValue(QualityRow& r, const PollingStats& s, bool valid) {
  const auto drops = static_cast<long long>(s.kernelDrops);
  const auto lost = static_cast<long long>(s.kernelDroppedReports);
  if (drops > 0) {
    if (lost > 0)
      std::snprintf(r.value, sizeof r.value, i18n::tr("%lld 次 (~%lld)"), drops, lost);
    else
      std::snprintf(r.value, sizeof r.value, i18n::tr("%lld 次"), drops);
    r.colour = kColWarn;  // lost reports are never hidden, valid or not
  } else if (s.reportCount > 0) {
    setValue(r, "0");
    if (valid) r.colour = kColTextBright;
  }
}

}  // namespace

QualityRow qualityRow(int row, const PollingStats& s) {
  static constexpr const char* kLabels[kQualityRowCount] = {
      i18n::trNoop("基准间隔"), i18n::trNoop("抖动"),     i18n::trNoop("异常间隔"),
      i18n::trNoop("稳定性"),   i18n::trNoop("最长间隔"), i18n::trNoop("内核丢弃")};
  const bool valid = s.statsValid && s.baselineUs > 0.0f;
  QualityRow r{i18n::tr(kLabels[row < 0 || row >= kQualityRowCount ? 0 : row]), {}, kColTextMuted};
  setValue(r, "--");
  switch (row) {
    case 0:
      if (s.baselineUs > 0.0f) baselineValue(r, s.baselineUs);
      if (valid) r.colour = kColTextBright;
      break;
    case 1:
      if (s.jitterUs > 0.0f) intervalText(r.value, sizeof r.value, "±", s.jitterUs, "%s%.3f ms");
      if (valid) r.colour = s.jitterUs > 0.1f * s.baselineUs ? kColWarn : kColTextBright;
      break;
    case 2:
      if (!valid) break;
      std::snprintf(r.value, sizeof r.value, "%.2f%%  (%d)", s.anomalyRatio * 100.0f,
                    static_cast<int>(s.anomalyCount));
      r.colour = s.anomalyRatio > 0.02f ? kColWarn : kColTextBright;
      break;
    case 3:
      if (!valid) break;
      std::snprintf(r.value, sizeof r.value, "%.1f%%", s.stability * 100.0f);
      r.colour = s.stability >= 0.95f ? kColGood : s.stability >= 0.8f ? kColWarn : kColBad;
      break;
    case 4:
      longestIntervalValue(r, s, valid);
      break;
    case 5:
      kernelDropValue(r, s, valid);
      break;
    default:
      break;
  }
  return r;
}

ImVec2 smallestGridWindow(float contentTopOffset, float otherWidth) {
  // Each column at its floors: 304 + 120 on the left, 396 + 110 on the right.
  const float columns = std::max(304.0f + 120.0f, 396.0f + 110.0f);
  return ImVec2(std::max(396.0f + 321.0f, std::ceil(otherWidth)),
                contentTopOffset + columns + 64.0f);
}

GridLayout gridLayout(ImVec2 pos, ImVec2 size, float contentTop) {
  GridLayout g;
  g.T = contentTop;
  // The bottom 64 pixels hold the control bar, plus a 20-pixel margin.
  g.availH = size.y - (contentTop - pos.y) - 84.0f;
  // Two 20-pixel margins, the 340-pixel right column and a 16-pixel gutter.
  g.leftW = size.x - 396.0f;
  g.fits = g.leftW > 320.0f && g.availH > 120.0f;
  g.L = pos.x + 20.0f;
  g.R = g.L + g.leftW + 16.0f;
  g.hH = std::max(g.availH - 304.0f, 120.0f);
  g.dH = std::max(g.availH - 396.0f, 110.0f);
  g.tileW = (g.leftW - 24.0f) / 3.0f;
  g.barTop = pos.y + size.y - 64.0f;
  return g;
}

}  // namespace dashboard
