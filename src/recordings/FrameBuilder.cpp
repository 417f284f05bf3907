#include "recordings/FrameBuilder.h"

#include <linux/input.h>

#include "i18n/Translate.h"

namespace recordings {

std::string FrameBuilder::add(int64_t timeNs, uint16_t type, uint16_t code, int32_t value) {
  if (timeNs < lastNs_) return i18n::tr("时间戳倒退（比前一个事件早）");
  lastNs_ = timeNs;
  if (type == EV_SYN && code == SYN_DROPPED) {
    // The kernel's buffer overflowed: the frame in progress is incomplete.
    StampSeries::addDrops(rec_.drops, rec_.stampsNs.size(), 1);
    discarding_ = true;
    open_ = false;
    motion_.clear();
    frameButtons_.clear();
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
  if (type == EV_REL && (code == REL_X || code == REL_Y)) sawRel_ = true;
  motion_.add(type, code, value);
  // 2 is autorepeat, never a press.
  if (type == EV_KEY && (value == 0 || value == 1)) frameButtons_.push_back({0, code, value == 1});
  return {};
}

void FrameBuilder::finishFrame(int64_t timeNs) {
  rec_.stampsNs.push_back(timeNs);
  rec_.motion.push_back(motion_.motion());
  rec_.motionKnown = true;
  motion_.clear();
  for (buttons::ButtonEdge& e : frameButtons_) {
    e.ns = timeNs;  // the report's stamp, as the live path gives
    rec_.buttonEdges.push_back(e);
  }
  frameButtons_.clear();
}

}  // namespace recordings
