#include "analysis/RateCause.h"

#include <cstdio>

#include "analysis/MotionRules.h"
#include "analysis/PollingRules.h"

namespace {

using namespace motionrules;

std::optional<double> saturationSpeed(const MotionFigures& m, double yardstickHz) {
  for (const SpeedBand& b : m.bands) {
    if (b.movingSeconds >= kMinBandSeconds && b.rateHz >= kBandReachedRatio * yardstickHz) {
      return b.lowCountsPerS;
    }
  }
  return std::nullopt;
}

RateCauseKind kindOf(const WholeTestFigures& f, const RateCause& c) {
  if (c.ratio >= pollingrules::kTargetReachedRatio) return RateCauseKind::Reached;
  if (f.kernelDrops > 0 && static_cast<double>(f.kernelDroppedReports) >=
                               kKernelDropShare * static_cast<double>(f.reports)) {
    return RateCauseKind::KernelDrops;
  }
  if (!f.motion.known) return RateCauseKind::NoMotionData;
  if (f.motion.singleCountShare >= kSpeedLimitedShare || c.saturationCountsPerS) {
    return RateCauseKind::SpeedLimited;
  }
  return RateCauseKind::DeviceLimited;
}

std::string textOf(const WholeTestFigures& f, const RateCause& c) {
  char text[256];
  switch (c.kind) {
    case RateCauseKind::Reached:
      std::snprintf(text, sizeof text, "达到 %.0f Hz：回报率正常", c.yardstickHz);
      break;
    case RateCauseKind::SpeedLimited:
      // Without a band that got there, one count per report slot is the least.
      std::snprintf(text, sizeof text,
                    "移动速度不足：约 %.0f counts/s 以上才达到 %.0f Hz，请更快移动或提高 DPI",
                    c.saturationCountsPerS.value_or(c.yardstickHz), c.yardstickHz);
      break;
    case RateCauseKind::KernelDrops:
      std::snprintf(text, sizeof text, "读取跟不上：内核丢弃了约 %lld 个报告（%lld 次缓冲区溢出）",
                    static_cast<long long>(f.kernelDroppedReports),
                    static_cast<long long>(f.kernelDrops));
      break;
    case RateCauseKind::DeviceLimited:
      std::snprintf(text, sizeof text,
                    "鼠标或其连接未达到要求：每个报告带有多个计数，回报率却只有 %.0f Hz（要求 %.0f "
                    "Hz）",
                    f.movingRateHz.value_or(0.0), c.yardstickHz);
      break;
    case RateCauseKind::NoMotionData:
      std::snprintf(text, sizeof text, "回报率低于 %.0f Hz；记录中没有移动数据，无法判断原因",
                    c.yardstickHz);
      break;
  }
  return text;
}

}  // namespace

const char* rateCauseKey(RateCauseKind kind) {
  switch (kind) {
    case RateCauseKind::Reached:
      return "reached";
    case RateCauseKind::SpeedLimited:
      return "speed_limited";
    case RateCauseKind::KernelDrops:
      return "kernel_drops";
    case RateCauseKind::DeviceLimited:
      return "device_limited";
    case RateCauseKind::NoMotionData:
      break;
  }
  return "no_motion_data";
}

std::optional<RateCause> diagnoseRate(const WholeTestFigures& f, double yardstickHz) {
  if (!f.movingRateHz || yardstickHz <= 0.0) return std::nullopt;
  RateCause c;
  c.yardstickHz = yardstickHz;
  c.ratio = *f.movingRateHz / yardstickHz;
  if (f.motion.known) c.saturationCountsPerS = saturationSpeed(f.motion, yardstickHz);
  c.kind = kindOf(f, c);
  c.text = textOf(f, c);
  return c;
}
