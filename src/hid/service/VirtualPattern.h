#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hidservice {

struct VirtualMouseRate;

// A virtual mouse's left button: presses per second, each held holdMs; a
// share of the releases bounces (the switch closes again kBounceGapMs after
// letting go and opens kBounceHoldMs later), as a worn switch does.
struct VirtualClicks {
  double perSecond = 0;  // 0: no clicks
  double holdMs = 0;
  double bounceShare = 0;  // 0 to 1

  static constexpr double kBounceGapMs = 2;
  static constexpr double kBounceHoldMs = 3;
};

// Strokes along X of a set length at a set resolution: each stroke takes
// kMoveSeconds at an even speed, then the mouse rests kRestSeconds.
struct VirtualStrokes {
  double lengthMm = 0;  // 0: no strokes
  double cpi = 0;

  static constexpr double kMoveSeconds = 1;
  static constexpr double kRestSeconds = 1;
};

// The most reports a virtual kernel buffer may hold ("/buffer=N").
inline constexpr int32_t kMaxBufferReports = 4096;

// Reads one "/click=…", "/stroke=…" or "/buffer=…" part of a TAVO_VIRTUAL_MICE item into
// `mouse`; why it is not one, or empty when it is.
std::string patternProblem(std::string_view part, VirtualMouseRate& mouse);

// The evdev frame (packed as the reader packs it) of slot `index` (from 1)
// of a timed mouse: its motion and the button edges since the slot before.
// Returns the bytes written to `out` (room for kMaxFrameBytes); 0 when the
// slot has nothing to report.
inline constexpr size_t kMaxFrameBytes = 24;
size_t slotFrame(const VirtualMouseRate& mouse, int64_t index, uint8_t* out);

}  // namespace hidservice
