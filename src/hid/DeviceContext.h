#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "hid/HIDDeviceInfo.h"
#include "hid/HIDMonitor.h"

// One per listed mouse, at a fixed address from arrival until removal or the
// end of the HID thread. Its address is the context of the device's reports.
struct DeviceContext {
  static constexpr size_t kReportBufferSize = 1024;

  HIDDeviceRef device = nullptr;
  std::array<uint8_t, kReportBufferSize> reportBuffer{};
  HIDMonitor::Impl* owner = nullptr;
  uint64_t serial = 0;  // the device record's serial
  std::string name;     // as the device list shows it
  // Kernel buffer overflows of this device; written on the HID thread,
  // read by getMouseDevices().
  std::atomic<uint64_t> droppedReports{0};
};
