#pragma once

#include <cstdint>
#include <string>

enum class HIDStatus : int32_t {
  Ok = 0,
  PermissionDenied = 1,
  ManagerError = 2,
  DeviceError = 3,
};

// IOReturn-style result codes of the HID service.
inline constexpr int32_t kIOReturnSuccess = 0;
inline constexpr int32_t kIOReturnError = static_cast<int32_t>(0xE00002BC);
inline constexpr int32_t kIOReturnExclusiveAccess = static_cast<int32_t>(0xE00002C5);
inline constexpr int32_t kIOReturnUnsupported = static_cast<int32_t>(0xE00002C7);
inline constexpr int32_t kIOReturnNotOpen = static_cast<int32_t>(0xE00002CD);
inline constexpr int32_t kIOReturnNotAttached = static_cast<int32_t>(0xE00002D9);
inline constexpr int32_t kIOReturnNotPermitted = static_cast<int32_t>(0xE00002E2);
inline constexpr int32_t kIOReturnAborted = static_cast<int32_t>(0xE00002EB);
inline constexpr int32_t kIOReturnNotFound = static_cast<int32_t>(0xE00002F0);
// The device's event buffer overflowed and reports were lost (evdev
// SYN_DROPPED); counted per device, not an error of the device.
inline constexpr int32_t kIOReturnOverrun = static_cast<int32_t>(0xE00002E8);

// The last error of the HID service; message is "%s failed: 0x%08X (%s)".
struct HIDError {
  HIDStatus status = HIDStatus::Ok;
  int32_t code = 0;
  std::string message;
};

const char* ioReturnName(int32_t code);
HIDError makeHIDError(HIDStatus status, int32_t code, const char* what);
