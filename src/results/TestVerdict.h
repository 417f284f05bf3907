#pragma once

#include <optional>
#include <string>

#include "analysis/RateCause.h"
#include "analysis/WholeTestAnalysis.h"

// The one verdict of a test: judged once from the whole test's figures, and
// shown in the same words by the summary, the JSON, the plot's title, the
// window and --require-target. Terms in docs/result-schema.md.
namespace results {

enum class VerdictKind { Reached, Near, Below, HostLimited, KernelDrops, Unknown };
// Why the verdict is unknown.
enum class UnknownReason { None, HandTooSlow, NoMotionData, TooShort };

struct TestVerdict {
  VerdictKind kind = VerdictKind::Unknown;
  UnknownReason unknown = UnknownReason::NoMotionData;
  double targetHz = 0;
  double judgedHz = 0;  // the rate judged; 0 when the verdict is unknown
  double ratio = 0;     // judgedHz / targetHz; 0 when unknown
  std::string text;     // the verdict in words, e.g. "达到目标"
};

// "reached", "near", "below", "host_limited", "kernel_drops" or "unknown".
const char* verdictKindKey(VerdictKind kind);
// "hand_too_slow", "no_motion_data", "too_short"; nullptr for None.
const char* unknownReasonKey(UnknownReason reason);
// The first word of --brief: the judged rate against the target by the
// verdict bands ("reached", "near", "below"), "unknown" without one. A
// host-limited or kernel-drop verdict keeps its kind in the cause.
const char* briefWord(const TestVerdict& verdict);

// Too little to judge: under this much moving time or this many intervals.
inline constexpr double kMinJudgedMovingSeconds = 0.5;
inline constexpr long kMinJudgedIntervals = 100;
bool tooShortToJudge(const WholeTestFigures& whole);

// What is known beside the figures: the target, the mouse's own judgement
// (judgeMouse), the cause (diagnoseRate) and the rate the host polls at.
struct VerdictInputs {
  double targetHz = 0;
  JudgedMouse mouse;
  double hostHz = 0;
};

// Judges the test and brings the cause in line with the verdict (a test too
// short to judge gets the cause that says so; an unknown verdict is never
// explained as the mouse falling short). Pure; any thread.
TestVerdict judgeTest(const WholeTestFigures& whole, const VerdictInputs& in,
                      std::optional<RateCause>& cause);

}  // namespace results
