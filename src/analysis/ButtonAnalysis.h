#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The switch test: every press and release of a mouse's buttons, with the
// kernel's stamps, turned into figures per button and a list of chatter (a
// switch that bounces, so one click registers as two). Plain values; any
// thread.
namespace buttons {

// No hand clicks the same button again this soon after letting it go: a
// release followed by a press sooner than this is the switch bouncing.
inline constexpr double kDefaultChatterMs = 30.0;
inline constexpr double kMinChatterMs = 1.0;
inline constexpr double kMaxChatterMs = 200.0;
// A press held shorter than this is a bounce as well: a finger's quickest
// tap holds a switch down for well over 10 ms.
inline constexpr double kShortPressMs = 5.0;
// The window of "presses per second at their fastest".
inline constexpr int64_t kFastestWindowNs = 1'000'000'000;

// One press (down) or release, as the kernel stamped the report it came in.
struct ButtonEdge {
  int64_t ns = 0;     // the report's stamp, nanoseconds
  uint16_t code = 0;  // EV_KEY code (BTN_LEFT = 0x110 …)
  bool down = false;
};

// A press that the switch, not the hand, made.
struct Chatter {
  int64_t atNs = 0;  // the press's stamp
  uint16_t code = 0;
  double gapMs = -1;   // from the button's release before it; -1 when none
  double holdMs = -1;  // until its release; -1 when still held at the end
  // The figure that made it chatter: the gap when below the threshold, else
  // the hold.
  double shortestMs() const {
    return gapMs >= 0 && (holdMs < 0 || gapMs <= holdMs) ? gapMs : holdMs;
  }
};

struct ButtonFigures {
  uint16_t code = 0;
  uint32_t presses = 0;
  uint32_t releases = 0;
  double holdP50Ms = -1, holdMinMs = -1;  // press to release; -1 without a whole press
  double gapMinMs = -1, gapP1Ms = -1;     // release to the next press; -1 without one
  uint32_t fastestPerSecond = 0;          // most presses within any 1 s
  uint32_t chatterCount = 0;
  double shortestChatterMs = -1;  // the smallest Chatter::shortestMs(); -1 without chatter
};

struct ButtonSummary {
  double chatterMs = kDefaultChatterMs;
  double shortPressMs = kShortPressMs;
  std::vector<ButtonFigures> buttons;  // by code, each button that was pressed or released
  std::vector<Chatter> chatter;        // in time order
  uint32_t chatterCount() const { return static_cast<uint32_t>(chatter.size()); }
};

// Edges in time order (the report order). A press of a button already down,
// or a release of one already up (after lost reports), changes nothing and is
// left out.
ButtonSummary summarizeButtons(const std::vector<ButtonEdge>& edges,
                               double chatterMs = kDefaultChatterMs);

// "left", "right", "middle", "side", "extra", "forward", "back", "task", or
// "0x118" for a code without a name: the file formats' name.
std::string buttonKey(uint16_t code);
// The button's name in the program's language ("左键").
std::string buttonName(uint16_t code);
// "正常" or "疑似连击：N 次（最短间隔 X ms）".
std::string buttonVerdict(const ButtonFigures& figures);

}  // namespace buttons
