#pragma once

#include <optional>
#include <string>

#include "analysis/WholeTestAnalysis.h"

// Why a test's rate fell short of its yardstick (the rate the test is held
// against), or that it did not: the mouse, its link, the host, the kernel
// or the hand. Rules and thresholds in analysis/MotionRules.h and
// docs/result-schema.md.
enum class RateCauseKind {
  Reached,
  SpeedLimited,
  KernelDrops,
  DeviceLimited,
  NoMotionData,
  HostLimited,
  TooShort  // set by the test's verdict: too little moving time to judge
};

// "reached", "speed_limited", "kernel_drops", "device_limited", "no_motion_data", "host_limited",
// "too_short".
const char* rateCauseKey(RateCauseKind kind);

// The yardstick, and what the host is known to do with the mouse's rate.
struct RateContext {
  double yardstickHz = 0;
  bool yardstickAsked = false;  // the yardstick is the rate the mouse is configured for
  double hostHz = 0;            // the rate the host polls at; 0 when unknown
  double requestedHz = 0;       // the rate the mouse asks for; 0 when unknown
  std::string hostReason;       // why the host polls slower: "usbhid_mousepoll", …
  int mousepollMs = -1;         // usbhid's mousepoll; -1 when unknown
};

struct RateCause {
  RateCauseKind kind = RateCauseKind::NoMotionData;
  double yardstickHz = 0;  // the rate the test is held against
  // The rate judged: the capability when known, else the moving rate.
  double judgedHz = 0;
  bool fromCapability = false;
  double ratio = 0;  // judgedHz / yardstick
  // The slowest speed band whose rate reached the yardstick; none when no
  // band did or the motion is unknown.
  std::optional<double> saturationCountsPerS;
  std::string text;  // in plain words, for the summary, the plot and the window
};

// Nothing to say (nullopt) without reports or a yardstick. `figures` should
// have been judged against the yardstick (judgeCapability). Pure.
std::optional<RateCause> diagnoseRate(const WholeTestFigures& figures, const RateContext& context);
std::optional<RateCause> diagnoseRate(const WholeTestFigures& figures, double yardstickHz);

// The verdict on the mouse against the yardstick: its capability (the rate
// where the motion allowed the full yardstick), else the moving rate when
// that reached it; "unknown" when the hand never asked enough to tell.
enum class MouseVerdict { Unknown, Below, Near, Reached };
const char* mouseVerdictKey(MouseVerdict verdict);  // "unknown", "below", "near", "reached"

struct JudgedMouse {
  MouseVerdict verdict = MouseVerdict::Unknown;
  double comparedHz = 0;  // the rate judged; 0 when unknown
  double ratio = 0;
  std::string reason;  // why unknown, in words; empty otherwise
};
JudgedMouse judgeMouse(const WholeTestFigures& figures, double yardstickHz);
