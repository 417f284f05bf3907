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

constexpr int64_t kHiResPerDetent = 120;

}  // namespace

void MotionAccumulator::rel(uint16_t code, int32_t value) {
  switch (code) {
    case REL_X:
      x_ += value;
      break;
    case REL_Y:
      y_ += value;
      break;
    case REL_WHEEL:
      wheel_ += value;
      lowWheel_ = true;
      break;
    case REL_HWHEEL:
      hwheel_ += value;
      lowHwheel_ = true;
      break;
    case REL_WHEEL_HI_RES:
      wheelHiRes_ += value;
      break;
    case REL_HWHEEL_HI_RES:
      hwheelHiRes_ += value;
      break;
    default:
      break;
  }
}

void MotionAccumulator::add(uint16_t type, uint16_t code, int32_t value) {
  if (type == EV_REL) {
    rel(code, value);
  } else if (type == EV_KEY && value != 2) {  // 2 is a key's autorepeat, not a change
    ++buttons_;
  }
}

ReportMotion MotionAccumulator::motion() const {
  ReportMotion m;
  m.dx = saturated<int16_t>(x_);
  m.dy = saturated<int16_t>(y_);
  m.wheel = saturated<int8_t>(lowWheel_ ? wheel_ : wheelHiRes_ / kHiResPerDetent);
  m.hwheel = saturated<int8_t>(lowHwheel_ ? hwheel_ : hwheelHiRes_ / kHiResPerDetent);
  m.buttonChanges = static_cast<uint8_t>(std::min(buttons_, 255u));
  m.flags = ReportMotion::kKnown;
  return m;
}

ReportMotion decodeMotion(const uint8_t* frameBytes, size_t length) {
  MotionAccumulator sums;
  for (size_t at = 0; at + 8 <= length; at += 8) {
    const uint8_t* p = frameBytes + at;
    const auto type = static_cast<uint16_t>(p[0] | p[1] << 8);
    const auto code = static_cast<uint16_t>(p[2] | p[3] << 8);
    const auto value =
        static_cast<int32_t>(static_cast<uint32_t>(p[4]) | static_cast<uint32_t>(p[5]) << 8 |
                             static_cast<uint32_t>(p[6]) << 16 | static_cast<uint32_t>(p[7]) << 24);
    sums.add(type, code, value);
  }
  return sums.motion();
}

}  // namespace hidservice
