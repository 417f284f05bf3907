#pragma once

#include <cstdint>
#include <string>

enum class HIDStatus : int32_t {
  Ok = 0,
  PermissionDenied = 1,
  ManagerError = 2,
  DeviceError = 3,
};

// The last error of the HID service, a plain value copied across threads.
// code is the platform's own code of the failure (errno on Linux); message
// says what failed in the platform's words, e.g. "open /dev/input/event7
// failed: EACCES（没有读取权限）". {Ok, 0, ""} when nothing is recorded.
struct HIDError {
  HIDStatus status = HIDStatus::Ok;
  int32_t code = 0;
  std::string message;
};
