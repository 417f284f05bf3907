#pragma once

#include <cstdint>
#include <string>

#include "analysis/ButtonAnalysis.h"
#include "analysis/ReportMotion.h"
#include "hid/service/MotionDecoder.h"
#include "recordings/Recording.h"

namespace recordings {

// Turns a recording's evdev events into reports, as the live path does: a
// report per SYN_REPORT frame stamped with the SYN_REPORT's time, its motion
// from the frame's REL and button events, its button edges with its stamp; SYN_DROPPED is a kernel
// drop that discards the partial frame and everything up to the next SYN_REPORT. One per device
// being read; any thread.
class FrameBuilder {
 public:
  // Adds one event; returns an empty string, or why the event is wrong
  // (a stamp earlier than the one before it).
  std::string add(int64_t timeNs, uint16_t type, uint16_t code, int32_t value);
  // Events after the last SYN_REPORT: the frame was never finished.
  bool midFrame() const { return open_; }
  // The device moved: it sent REL_X or REL_Y.
  bool sawRelAxes() const { return sawRel_; }
  Recording& recording() { return rec_; }

 private:
  void finishFrame(int64_t timeNs);

  Recording rec_;
  hidservice::MotionAccumulator motion_;           // the same decoding as live reports
  std::vector<buttons::ButtonEdge> frameButtons_;  // the frame's edges, stamped at its end
  int64_t lastNs_ = INT64_MIN;
  bool open_ = false;
  bool discarding_ = false;
  bool sawRel_ = false;
};

}  // namespace recordings
