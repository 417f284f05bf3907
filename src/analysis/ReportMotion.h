#pragma once

#include <cstdint>

// The motion one report carried, decoded from its evdev frame: 8 bytes, so a
// recorded report (stamp and motion) takes 16.
struct ReportMotion {
  static constexpr uint8_t kKnown = 1;  // decoded from the report's frame

  int16_t dx = 0;     // REL_X counts, saturated to 16 bits
  int16_t dy = 0;     // REL_Y counts
  int8_t wheel = 0;   // REL_WHEEL detents (high-resolution steps of 120 when only those come)
  int8_t hwheel = 0;  // REL_HWHEEL detents
  uint8_t buttonChanges = 0;  // button press and release events in the frame
  uint8_t flags = 0;

  bool known() const { return (flags & kKnown) != 0; }
};
static_assert(sizeof(ReportMotion) == 8);
