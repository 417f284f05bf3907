#pragma once

#include <cstddef>
#include <cstdint>

#include "analysis/ReportMotion.h"

namespace hidservice {

// The motion of one evdev frame, built event by event: REL_X and REL_Y are
// summed and saturated to 16 bits; the wheels count detents, from the
// high-resolution events (120 to a detent) only when the frame has no
// low-resolution one; every EV_KEY press or release is a button change.
// Used for live reports and for recordings alike. A few comparisons per event.
class MotionAccumulator {
 public:
  void add(uint16_t type, uint16_t code, int32_t value);
  ReportMotion motion() const;
  void clear() { *this = MotionAccumulator{}; }

 private:
  void rel(uint16_t code, int32_t value);

  int64_t x_ = 0, y_ = 0;
  int64_t wheel_ = 0, hwheel_ = 0, wheelHiRes_ = 0, hwheelHiRes_ = 0;
  bool lowWheel_ = false, lowHwheel_ = false;
  unsigned buttons_ = 0;
};

// The motion of one report, read from its bytes as EvdevFrameAssembler packs
// them (events of 8 bytes: type u16, code u16, value s32, little-endian). A
// trailing partial event is ignored. Any thread; no state.
ReportMotion decodeMotion(const uint8_t* frameBytes, size_t length);

}  // namespace hidservice
