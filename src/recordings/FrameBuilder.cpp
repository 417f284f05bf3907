#include "recordings/FrameBuilder.h"

#include <linux/input.h>

#include <algorithm>
#include <limits>

namespace recordings {

namespace {

template <typename T>
T saturated(int32_t v) {
  return static_cast<T>(
      std::clamp<int32_t>(v, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
}

// Adds without overflowing: a corrupt file may hold any value.
int32_t plus(int32_t a, int32_t b) {
  return static_cast<int32_t>(std::clamp<int64_t>(int64_t{a} + b, INT32_MIN, INT32_MAX));
}

// High-resolution wheel steps are 120 to a detent.
constexpr int32_t kHiResPerDetent = 120;

}  // namespace

std::string FrameBuilder::add(int64_t timeNs, uint16_t type, uint16_t code, int32_t value) {
  if (timeNs < lastNs_) return "时间戳倒退（比前一个事件早）";
  lastNs_ = timeNs;
  if (type == EV_SYN && code == SYN_DROPPED) {
    // The kernel's buffer overflowed: the frame in progress is incomplete.
    rec_.drops.push_back(rec_.stampsNs.size());
    discarding_ = true;
    open_ = false;
    dx_ = dy_ = wheel_ = hwheel_ = hiWheel_ = hiHwheel_ = buttons_ = 0;
    return {};
  }
  if (type == EV_SYN && code == SYN_REPORT) {
    if (discarding_) {
      discarding_ = false;
    } else {
      finishFrame(timeNs);
    }
    open_ = false;
    return {};
  }
  if (discarding_) return {};
  open_ = true;
  addMotion(type, code, value);
  return {};
}

void FrameBuilder::addMotion(uint16_t type, uint16_t code, int32_t value) {
  if (type == EV_REL) {
    switch (code) {
      case REL_X:
        sawRel_ = true;
        dx_ = plus(dx_, value);
        break;
      case REL_Y:
        sawRel_ = true;
        dy_ = plus(dy_, value);
        break;
      case REL_WHEEL:
        wheel_ = plus(wheel_, value);
        break;
      case REL_HWHEEL:
        hwheel_ = plus(hwheel_, value);
        break;
      case REL_WHEEL_HI_RES:
        hiWheel_ = plus(hiWheel_, value);
        break;
      case REL_HWHEEL_HI_RES:
        hiHwheel_ = plus(hiHwheel_, value);
        break;
      default:
        break;
    }
  } else if (type == EV_KEY && code >= BTN_MOUSE && code < BTN_JOYSTICK && value != 2) {
    ++buttons_;  // a press or a release; 2 is autorepeat
  }
}

void FrameBuilder::finishFrame(int64_t timeNs) {
  ReportMotion m;
  m.dx = saturated<int16_t>(dx_);
  m.dy = saturated<int16_t>(dy_);
  m.wheel = saturated<int8_t>(wheel_ != 0 ? wheel_ : hiWheel_ / kHiResPerDetent);
  m.hwheel = saturated<int8_t>(hwheel_ != 0 ? hwheel_ : hiHwheel_ / kHiResPerDetent);
  m.buttonChanges = saturated<uint8_t>(buttons_);
  m.flags = ReportMotion::kKnown;
  rec_.stampsNs.push_back(timeNs);
  rec_.motion.push_back(m);
  rec_.motionKnown = true;
  dx_ = dy_ = wheel_ = hwheel_ = hiWheel_ = hiHwheel_ = buttons_ = 0;
}

}  // namespace recordings
