#include "analysis/RateCause.h"

#include <cstdio>

#include "analysis/MotionRules.h"
#include "analysis/PollingRules.h"
#include "i18n/Translate.h"

namespace {

using namespace motionrules;

// Of the reports the mouse sent, the share the kernel dropped above which a
// test that reached its rate still names the drops.
constexpr double kLostShareNamed = 0.01;

// A rate over so little moving time is not told (WholeTestFigures::movingRateReason).
const char* tooLittleText() {
  return i18n::tr("移动时间太短（不到 10 个间隔或 10 ms）：无法判断回报率");
}

double lostShare(const WholeTestFigures& f) {
  if (f.kernelDrops <= 0 || f.kernelDroppedReports <= 0) return 0;
  const auto lost = static_cast<double>(f.kernelDroppedReports);
  return lost / (static_cast<double>(f.reports) + lost);
}

std::optional<double> saturationSpeed(const MotionFigures& m, double yardstickHz) {
  for (const SpeedBand& b : m.bands) {
    if (b.movingSeconds >= kMinBandSeconds && b.rateHz >= kBandReachedRatio * yardstickHz) {
      return b.lowCountsPerS;
    }
  }
  return std::nullopt;
}

bool hostLimited(const RateCause& c, const RateContext& x) {
  return x.hostHz > 0 && x.requestedHz > 0 && x.hostHz < kHostBelowMouseRatio * x.requestedHz &&
         c.judgedHz >= kHostMatchRatio * x.hostHz;
}

// The drops explain the shortfall when the rate with the reports they cost
// added back reaches the yardstick. A batched link's slots are not known,
// and neither are the reports its drops cost.
bool kernelExplains(const WholeTestFigures& f, const RateCause& c) {
  if (f.kernelDrops <= 0 || f.reports <= 0 || f.grid.status == GridStatus::Batched) return false;
  const double back = static_cast<double>(f.reports + f.kernelDroppedReports) / f.reports;
  return c.judgedHz * back >= kKernelExplainsRatio * c.yardstickHz;
}

RateCauseKind kindOf(const WholeTestFigures& f, const RateCause& c, const RateContext& x) {
  if (hostLimited(c, x)) return RateCauseKind::HostLimited;
  // The mouse reached the rate, but the test lost reports it sent.
  if (c.ratio >= pollingrules::kTargetReachedRatio) {
    return lostShare(f) >= kLostShareNamed ? RateCauseKind::KernelDrops : RateCauseKind::Reached;
  }
  if (kernelExplains(f, c)) return RateCauseKind::KernelDrops;
  if (!f.motion.known) return RateCauseKind::NoMotionData;
  if (c.fromCapability) return RateCauseKind::DeviceLimited;
  // The hand never allowed the full rate: the mouse is to blame only where
  // it delivered less than the motion allowed.
  if (f.delivery.known && f.delivery.median < kDeliveredShare) return RateCauseKind::DeviceLimited;
  return RateCauseKind::SpeedLimited;
}

std::string hostText(const RateCause& c, const RateContext& x) {
  char text[512];
  if (x.hostReason == "usbhid_mousepoll" && x.mousepollMs > 0) {
    std::snprintf(
        text, sizeof text,
        i18n::tr("主机只以 %.0f Hz 轮询（鼠标要求 %.0f Hz）：内核参数 usbhid.mousepoll=%d "
                 "限制了回报率。改为 0（用鼠标自己的间隔）：echo 0 | sudo tee "
                 "/sys/module/usbhid/parameters/mousepoll "
                 "后重新插拔鼠标；长期生效可在内核启动参数加 "
                 "usbhid.mousepoll=0"),
        x.hostHz, x.requestedHz, x.mousepollMs);
  } else {
    std::snprintf(
        text, sizeof text,
        i18n::tr(
            "主机只以 %.0f Hz 轮询（鼠标要求 %.0f Hz）：回报率达到了主机的轮询速率，限制来自主机"),
        x.hostHz, x.requestedHz);
  }
  (void)c;
  return text;
}

std::string textOf(const WholeTestFigures& f, const RateCause& c, const RateContext& x) {
  char text[512];
  switch (c.kind) {
    case RateCauseKind::Reached:
      std::snprintf(text, sizeof text, i18n::tr("达到 %.0f Hz：回报率正常"), c.yardstickHz);
      break;
    case RateCauseKind::SpeedLimited:
      // Without a band that got there, one count step per report slot is the least.
      std::snprintf(
          text, sizeof text,
          i18n::tr("移动速度不足：约 %.0f counts/s 以上才达到 %.0f Hz，请更快移动或提高 DPI"),
          c.saturationCountsPerS.value_or(c.yardstickHz * f.countStep), c.yardstickHz);
      break;
    case RateCauseKind::KernelDrops:
      if (c.ratio >= pollingrules::kTargetReachedRatio) {
        std::snprintf(text, sizeof text,
                      i18n::tr("鼠标达到 %.0f Hz，但内核丢弃了约 %.0f %% 的报告：读取跟不上"),
                      c.yardstickHz, lostShare(f) * 100);
        break;
      }
      std::snprintf(
          text, sizeof text, i18n::tr("读取跟不上：内核丢弃了约 %lld 个报告（%lld 次缓冲区溢出）"),
          static_cast<long long>(f.kernelDroppedReports), static_cast<long long>(f.kernelDrops));
      break;
    case RateCauseKind::DeviceLimited:
      // One whole sentence for each yardstick, so a language can word each its own way.
      std::snprintf(text, sizeof text,
                    x.yardstickAsked ? i18n::tr("鼠标或其连接未达到要求：每个报告带有多个计数，回报"
                                                "率却只有 %.0f Hz（要求 %.0f Hz）")
                                     : i18n::tr("鼠标或其连接未达到目标：每个报告带有多个计数，回报"
                                                "率却只有 %.0f Hz（目标 %.0f Hz）"),
                    c.judgedHz, c.yardstickHz);
      break;
    case RateCauseKind::NoMotionData:
      if (!f.movingRateHz && !f.movingRateReason.empty()) {
        std::snprintf(text, sizeof text, "%s", tooLittleText());
      } else if (f.motion.known && f.motion.countsX == 0 && f.motion.countsY == 0) {
        std::snprintf(
            text, sizeof text,
            i18n::tr("没有带 X/Y 移动的报告（只有滚轮或按键）：请移动鼠标再测，才能判断回报率"));
      } else {
        std::snprintf(text, sizeof text,
                      i18n::tr("回报率低于 %.0f Hz；记录中没有移动数据，无法判断原因"),
                      c.yardstickHz);
      }
      break;
    case RateCauseKind::HostLimited:
      return hostText(c, x);
    case RateCauseKind::TooShort:
      return {};
  }
  return text;
}

// A batched link's rate is its deliveries': the text names them, so a
// Bluetooth mouse's rate reads as its link's.
std::string deliveryText(const GridFigures& g) {
  if (g.status != GridStatus::Batched || g.deliveryPeriodUs <= 0) return "";
  char text[256];
  std::snprintf(text, sizeof text,
                i18n::tr("（报告成批送达：每 %.2f ms 一批，每批平均 %.1f 个，最多 %lld 个）"),
                g.deliveryPeriodUs / 1000, g.reportsPerDeliveryMean,
                static_cast<long long>(g.reportsPerDeliveryMax));
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
    case RateCauseKind::HostLimited:
      return "host_limited";
    case RateCauseKind::TooShort:
      return "too_short";
    case RateCauseKind::NoMotionData:
      break;
  }
  return "no_motion_data";
}

std::optional<RateCause> diagnoseRate(const WholeTestFigures& f, const RateContext& x) {
  if (f.reports == 0 || x.yardstickHz <= 0.0) return std::nullopt;
  RateCause c;
  c.yardstickHz = x.yardstickHz;
  if (!f.movingRateHz) {
    // Reports, but none that moved the mouse (wheel or buttons only), or
    // too little moving time to tell a rate.
    if (!f.motion.known && f.movingRateReason.empty()) return std::nullopt;
    c.kind = RateCauseKind::NoMotionData;
    c.text = textOf(f, c, x);
    return c;
  }
  c.fromCapability = f.capabilityHz.has_value() && f.yardstickHz == x.yardstickHz;
  c.judgedHz = c.fromCapability ? *f.capabilityHz : *f.movingRateHz;
  c.ratio = c.judgedHz / x.yardstickHz;
  if (f.motion.known) c.saturationCountsPerS = saturationSpeed(f.motion, x.yardstickHz);
  c.kind = kindOf(f, c, x);
  c.text = textOf(f, c, x) + deliveryText(f.grid);
  return c;
}

std::optional<RateCause> diagnoseRate(const WholeTestFigures& f, double yardstickHz) {
  RateContext x;
  x.yardstickHz = yardstickHz;
  return diagnoseRate(f, x);
}

const char* mouseVerdictKey(MouseVerdict verdict) {
  switch (verdict) {
    case MouseVerdict::Reached:
      return "reached";
    case MouseVerdict::Near:
      return "near";
    case MouseVerdict::Below:
      return "below";
    case MouseVerdict::Unknown:
      break;
  }
  return "unknown";
}

JudgedMouse judgeMouse(const WholeTestFigures& f, double yardstickHz) {
  JudgedMouse j;
  if (yardstickHz <= 0 || !f.movingRateHz) {
    const bool wheelOnly = f.motion.known && f.motion.countsX == 0 && f.motion.countsY == 0;
    j.reason = !f.movingRateReason.empty() ? tooLittleText()
               : f.reports > 0 && wheelOnly ? i18n::tr("没有带 X/Y 移动的报告，无法判断")
                                            : i18n::tr("无数据");
    return j;
  }
  if (f.capabilityHz && f.yardstickHz == yardstickHz) {
    j.comparedHz = *f.capabilityHz;
  } else if (*f.movingRateHz >= pollingrules::kTargetReachedRatio * yardstickHz) {
    j.comparedHz = *f.movingRateHz;  // the hand evidently allowed it
  } else {
    char text[160];
    if (f.motion.known) {
      std::snprintf(text, sizeof text, i18n::tr("手速不足以判断：需约 %.0f counts/s"),
                    yardstickHz * f.countStep);
    } else {
      std::snprintf(text, sizeof text, i18n::tr("没有移动数据，无法判断手速是否足够"));
    }
    j.reason = text;
    return j;
  }
  j.ratio = j.comparedHz / yardstickHz;
  j.verdict = j.ratio >= pollingrules::kTargetReachedRatio ? MouseVerdict::Reached
              : j.ratio >= pollingrules::kTargetNearRatio  ? MouseVerdict::Near
                                                           : MouseVerdict::Below;
  return j;
}
