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

// Calls fn(code, value) for each EV_KEY press (1) or release (0) of a report's
// bytes, in order; autorepeat (2) is skipped. Any thread; no state.
template <typename Fn>
void forEachButtonEdge(const uint8_t* frameBytes, size_t length, Fn&& fn) {
  constexpr uint16_t kKeyType = 0x01;  // EV_KEY
  for (size_t at = 0; at + 8 <= length; at += 8) {
    const uint8_t* p = frameBytes + at;
    if ((p[0] | p[1] << 8) != kKeyType) continue;
    const auto value =
        static_cast<int32_t>(static_cast<uint32_t>(p[4]) | static_cast<uint32_t>(p[5]) << 8 |
                             static_cast<uint32_t>(p[6]) << 16 | static_cast<uint32_t>(p[7]) << 24);
    if (value == 0 || value == 1) fn(static_cast<uint16_t>(p[2] | p[3] << 8), value);
  }
}

}  // namespace hidservice
