#pragma once

#include <linux/input.h>

#include <cstddef>
#include <cstdint>

#include "hid/service/HIDService.h"

namespace hidservice {

// Turns a stream of evdev events into input reports: one report per
// SYN_REPORT frame, its bytes the frame's events packed little-endian as
// (type u16, code u16, value s32), its timestamp the SYN_REPORT's time in
// CLOCK_MONOTONIC nanoseconds. SYN_DROPPED discards the partial frame and
// everything up to the next SYN_REPORT, and is announced as one callback
// with an Overrun result and no bytes.
class EvdevFrameAssembler {
 public:
  static constexpr size_t kEventBytes = 8;

  void setTarget(uint8_t* buffer, size_t size, InputReportCallback callback, void* context,
                 void* sender);
  // Events stamped on another clock are moved by offsetNs (monotonic minus
  // realtime when the kernel refused to stamp on CLOCK_MONOTONIC).
  void feed(const input_event* events, size_t count, int64_t offsetNs);
  // Forgets a partial frame, e.g. when the device is closed.
  void reset();
  // Announces a failed read as one callback with its result and no bytes.
  void reportError(const Result& result, uint64_t timeNs);

  uint64_t dropCount() const { return drops_; }

 private:
  void append(const input_event& ev);
  void finishFrame(const input_event& syn, int64_t offsetNs);
  void noteDropped(const input_event& syn, int64_t offsetNs);

  uint8_t* buffer_ = nullptr;
  size_t size_ = 0;
  InputReportCallback callback_ = nullptr;
  void* context_ = nullptr;
  void* sender_ = nullptr;
  size_t length_ = 0;
  bool discarding_ = false;
  uint64_t drops_ = 0;
};

// Event time in nanoseconds, moved by offsetNs and kept non-negative.
uint64_t eventTimeNs(const input_event& ev, int64_t offsetNs);

}  // namespace hidservice
