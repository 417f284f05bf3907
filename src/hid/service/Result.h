#pragma once

// What a call into the HID service came to, in platform-neutral terms: a
// kind the monitor acts on, the platform's own code (errno on Linux) and a
// text in the platform's words ("open /dev/input/event7 failed:
// EACCES（没有读取权限）"). Another backend maps its own codes into the same
// kinds. A plain value; a success carries no text and allocates nothing.

#include <cstdint>
#include <string>
#include <utility>

namespace hidservice {

enum class ResultKind : int32_t {
  Success = 0,
  // The process may not read the device: a permission matter.
  NotPermitted,
  // Another program holds the device exclusively.
  Busy,
  // The device is gone or was closed underneath; not worth an error record.
  Gone,
  // The device's event buffer overflowed and reports were lost (evdev
  // SYN_DROPPED); counted per device, not an error of the device.
  Overrun,
  // Any other failure.
  Failed,
};

struct Result {
  ResultKind kind = ResultKind::Success;
  int32_t code = 0;
  std::string text;

  bool ok() const { return kind == ResultKind::Success; }

  static Result success() { return Result{}; }
  static Result failure(ResultKind kind, int32_t code, std::string text) {
    return Result{kind, code, std::move(text)};
  }
};

// Shared instances for the report path, which must not allocate.
const Result& successResult();
const Result& overrunResult();

}  // namespace hidservice
