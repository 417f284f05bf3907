#include "results/TestVerdict.h"

#include <cstdio>

#include "analysis/PollingRules.h"
#include "i18n/Translate.h"

namespace results {

namespace {

std::string formatted(const char* format, double value) {
  char text[256];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

bool wheelOnly(const WholeTestFigures& w) {
  return w.motion.known && w.motion.countsX == 0 && w.motion.countsY == 0;
}

TestVerdict unknownVerdict(const WholeTestFigures& w, const VerdictInputs& in, UnknownReason why) {
  TestVerdict v;
  v.targetHz = in.targetHz;
  v.unknown = why;
  switch (why) {
    case UnknownReason::TooShort:
      v.text = i18n::tr("测试太短，无法判断");
      break;
    case UnknownReason::HandTooSlow:
      v.text = formatted(i18n::tr("手速不足以判断：需约 %.0f counts/s"), in.targetHz * w.countStep);
      break;
    case UnknownReason::NoMotionData:
    case UnknownReason::None:
      v.text = w.reports == 0 ? i18n::tr("无数据")
               : wheelOnly(w) ? i18n::tr("没有带 X/Y 移动的报告，无法判断")
                              : i18n::tr("没有移动数据，无法判断手速是否足够");
      break;
  }
  return v;
}

VerdictKind bandOf(double ratio) {
  return ratio >= pollingrules::kTargetReachedRatio ? VerdictKind::Reached
         : ratio >= pollingrules::kTargetNearRatio  ? VerdictKind::Near
                                                    : VerdictKind::Below;
}

const char* bandText(VerdictKind kind) {
  switch (kind) {
    case VerdictKind::Reached:
      return i18n::tr("达到目标");
    case VerdictKind::Near:
      return i18n::tr("略低于目标");
    default:
      break;
  }
  return i18n::tr("鼠标或其连接未达到目标");
}

TestVerdict judged(const VerdictInputs& in, VerdictKind kind, double judgedHz) {
  TestVerdict v;
  v.kind = kind;
  v.unknown = UnknownReason::None;
  v.targetHz = in.targetHz;
  v.judgedHz = judgedHz;
  v.ratio = in.targetHz > 0 ? judgedHz / in.targetHz : 0;
  if (kind == VerdictKind::HostLimited) {
    v.text = formatted(i18n::tr("主机把回报率限制在 %.0f Hz"), in.hostHz);
  } else if (kind == VerdictKind::KernelDrops) {
    v.text = i18n::tr("内核丢弃了报告，读取跟不上");
  } else {
    v.text = bandText(kind);
  }
  return v;
}

// The cause of a test too short to judge says what would decide it.
void causeTooShort(const WholeTestFigures& w, double targetHz, std::optional<RateCause>& cause) {
  if (!cause) cause = RateCause{};
  cause->kind = RateCauseKind::TooShort;
  cause->yardstickHz = targetHz;
  cause->judgedHz = 0;
  cause->ratio = 0;
  cause->fromCapability = false;
  char text[256];
  std::snprintf(
      text, sizeof text,
      i18n::tr("只移动了 %.2f s、%lld 个间隔，至少要 0.5 s、100 个间隔：请移动鼠标久一些再测"),
      w.movingSeconds, static_cast<long long>(w.intervals));
  cause->text = text;
}

}  // namespace

const char* verdictKindKey(VerdictKind kind) {
  switch (kind) {
    case VerdictKind::Reached:
      return "reached";
    case VerdictKind::Near:
      return "near";
    case VerdictKind::Below:
      return "below";
    case VerdictKind::HostLimited:
      return "host_limited";
    case VerdictKind::KernelDrops:
      return "kernel_drops";
    case VerdictKind::Unknown:
      break;
  }
  return "unknown";
}

const char* unknownReasonKey(UnknownReason reason) {
  switch (reason) {
    case UnknownReason::HandTooSlow:
      return "hand_too_slow";
    case UnknownReason::NoMotionData:
      return "no_motion_data";
    case UnknownReason::TooShort:
      return "too_short";
    case UnknownReason::None:
      break;
  }
  return nullptr;
}

const char* briefWord(const TestVerdict& v) {
  if (v.kind == VerdictKind::Unknown || v.targetHz <= 0) return "unknown";
  return verdictKindKey(bandOf(v.ratio));
}

bool tooShortToJudge(const WholeTestFigures& w) {
  return w.movingSeconds < kMinJudgedMovingSeconds || w.intervals < kMinJudgedIntervals;
}

TestVerdict judgeTest(const WholeTestFigures& w, const VerdictInputs& in,
                      std::optional<RateCause>& cause) {
  if (w.reports == 0 || wheelOnly(w) || in.targetHz <= 0)
    return unknownVerdict(w, in, UnknownReason::NoMotionData);
  if (tooShortToJudge(w)) {
    causeTooShort(w, in.targetHz, cause);
    return unknownVerdict(w, in, UnknownReason::TooShort);
  }
  const RateCauseKind causeKind = cause ? cause->kind : RateCauseKind::NoMotionData;
  if (causeKind == RateCauseKind::HostLimited)
    return judged(in, VerdictKind::HostLimited, cause->judgedHz);
  if (causeKind == RateCauseKind::KernelDrops)
    return judged(in, VerdictKind::KernelDrops, cause->judgedHz);
  switch (in.mouse.verdict) {
    case MouseVerdict::Reached:
      return judged(in, VerdictKind::Reached, in.mouse.comparedHz);
    case MouseVerdict::Near:
      return judged(in, VerdictKind::Near, in.mouse.comparedHz);
    case MouseVerdict::Below:
      return judged(in, VerdictKind::Below, in.mouse.comparedHz);
    case MouseVerdict::Unknown:
      break;
  }
  // The hand never allowed the full target, but the mouse sent less than it
  // did allow: it falls short whatever the hand.
  if (causeKind == RateCauseKind::DeviceLimited && w.movingRateHz) {
    const VerdictKind band = bandOf(*w.movingRateHz / in.targetHz);
    return judged(in, band == VerdictKind::Reached ? VerdictKind::Near : band, *w.movingRateHz);
  }
  return unknownVerdict(w, in,
                        w.motion.known ? UnknownReason::HandTooSlow : UnknownReason::NoMotionData);
}

}  // namespace results
