#include "hid/service/MotionDecoder.h"

#include <linux/input.h>

#include <algorithm>
#include <limits>

namespace hidservice {

namespace {

template <typename T>
T saturated(int64_t v) {
  return static_cast<T>(
      std::clamp<int64_t>(v, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
}

// Sums of one frame's relative events, wide enough never to overflow.
struct Sums {
  int64_t x = 0, y = 0;
  int64_t wheel = 0, hwheel = 0, wheelHiRes = 0, hwheelHiRes = 0;
  bool lowWheel = false, lowHwheel = false;
  unsigned buttons = 0;

  void rel(uint16_t code, int32_t value) {
    switch (code) {
      case REL_X:
        x += value;
        break;
      case REL_Y:
        y += value;
        break;
      case REL_WHEEL:
        wheel += value;
        lowWheel = true;
        break;
      case REL_HWHEEL:
        hwheel += value;
        lowHwheel = true;
        break;
      case REL_WHEEL_HI_RES:
        wheelHiRes += value;
        break;
      case REL_HWHEEL_HI_RES:
        hwheelHiRes += value;
        break;
      default:
        break;
    }
  }
};

}  // namespace

ReportMotion decodeMotion(const uint8_t* frameBytes, size_t length) {
  Sums s;
  for (size_t at = 0; at + 8 <= length; at += 8) {
    const uint8_t* p = frameBytes + at;
    const auto type = static_cast<uint16_t>(p[0] | p[1] << 8);
    const auto code = static_cast<uint16_t>(p[2] | p[3] << 8);
    const auto value =
        static_cast<int32_t>(static_cast<uint32_t>(p[4]) | static_cast<uint32_t>(p[5]) << 8 |
                             static_cast<uint32_t>(p[6]) << 16 | static_cast<uint32_t>(p[7]) << 24);
    if (type == EV_REL) {
      s.rel(code, value);
    } else if (type == EV_KEY && value != 2) {  // 2 is a key's autorepeat, not a change
      ++s.buttons;
    }
  }
  ReportMotion m;
  m.dx = saturated<int16_t>(s.x);
  m.dy = saturated<int16_t>(s.y);
  m.wheel = saturated<int8_t>(s.lowWheel ? s.wheel : s.wheelHiRes / 120);
  m.hwheel = saturated<int8_t>(s.lowHwheel ? s.hwheel : s.hwheelHiRes / 120);
  m.buttonChanges = static_cast<uint8_t>(std::min(s.buttons, 255u));
  m.flags = ReportMotion::kKnown;
  return m;
}

}  // namespace hidservice
