#pragma once

#include <cstdint>
#include <string>

namespace hidservice {
class Device;
}
// Opaque handle of a device of the HID service, compared by identity only.
using HIDDeviceRef = hidservice::Device*;

// One matched mouse; a plain value copied across threads.
struct HIDDeviceInfo {
  HIDDeviceRef device = nullptr;
  std::string product;
  std::string manufacturer;
  std::string transport;
  int32_t vendorId = 0;
  int32_t productId = 0;
  bool opened = false;
  int32_t priority = 0;
  int32_t reportIntervalUs = 0;
  // Times the kernel's event buffer of this device overflowed (SYN_DROPPED)
  // since it arrived; each time at least one report was lost.
  uint64_t droppedReports = 0;

  std::string displayName() const;
};
