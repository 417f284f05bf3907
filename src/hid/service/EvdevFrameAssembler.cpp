#include "hid/service/EvdevFrameAssembler.h"

#include "hid/HIDError.h"

namespace hidservice {

uint64_t eventTimeNs(const input_event& ev, int64_t offsetNs) {
  const int64_t ns = static_cast<int64_t>(ev.input_event_sec) * 1000000000LL +
                     static_cast<int64_t>(ev.input_event_usec) * 1000LL + offsetNs;
  return ns > 0 ? static_cast<uint64_t>(ns) : 0;
}

void EvdevFrameAssembler::setTarget(uint8_t* buffer, size_t size, InputReportCallback callback,
                                    void* context, void* sender) {
  buffer_ = buffer;
  size_ = size;
  callback_ = callback;
  context_ = context;
  sender_ = sender;
  reset();
}

void EvdevFrameAssembler::reset() {
  length_ = 0;
  discarding_ = false;
}

void EvdevFrameAssembler::reportError(const Result& result, uint64_t timeNs) {
  if (callback_ != nullptr) {
    callback_(context_, result, sender_, kInputReportType, 0, buffer_, 0, timeNs);
  }
}

void EvdevFrameAssembler::feed(const input_event* events, size_t count, int64_t offsetNs) {
  for (size_t i = 0; i < count; ++i) {
    const input_event& ev = events[i];
    if (ev.type != EV_SYN) {
      if (!discarding_) append(ev);
      continue;
    }
    if (ev.code == SYN_REPORT) {
      if (discarding_) {
        discarding_ = false;
        length_ = 0;
      } else {
        finishFrame(ev, offsetNs);
      }
    } else if (ev.code == SYN_DROPPED) {
      noteDropped(ev, offsetNs);
    }
  }
}

void EvdevFrameAssembler::append(const input_event& ev) {
  // A frame longer than the buffer keeps its first events.
  if (buffer_ == nullptr || length_ + kEventBytes > size_) return;
  uint8_t* p = buffer_ + length_;
  const uint32_t value = static_cast<uint32_t>(ev.value);
  p[0] = static_cast<uint8_t>(ev.type);
  p[1] = static_cast<uint8_t>(ev.type >> 8);
  p[2] = static_cast<uint8_t>(ev.code);
  p[3] = static_cast<uint8_t>(ev.code >> 8);
  p[4] = static_cast<uint8_t>(value);
  p[5] = static_cast<uint8_t>(value >> 8);
  p[6] = static_cast<uint8_t>(value >> 16);
  p[7] = static_cast<uint8_t>(value >> 24);
  length_ += kEventBytes;
}

void EvdevFrameAssembler::finishFrame(const input_event& syn, int64_t offsetNs) {
  const size_t length = length_;
  length_ = 0;
  if (callback_ == nullptr) return;
  callback_(context_, successResult(), sender_, kInputReportType, 0, buffer_, length,
            eventTimeNs(syn, offsetNs));
}

void EvdevFrameAssembler::noteDropped(const input_event& syn, int64_t offsetNs) {
  ++drops_;
  length_ = 0;
  discarding_ = true;
  if (callback_ == nullptr) return;
  callback_(context_, overrunResult(), sender_, kInputReportType, 0, buffer_, 0,
            eventTimeNs(syn, offsetNs));
}

}  // namespace hidservice
