#pragma once

#include <cstdint>
#include <string>

#include "hid/HIDError.h"

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
  int32_t reportIntervalUs = 0;     // the interval the host polls at; 0 when unknown
  int32_t reportIntervalNs = 0;     // the same, exact (62.5 µs); 0 when unknown
  int32_t requestedIntervalUs = 0;  // the interval the mouse asks for; 0 when unknown
  // Why the host polls at another interval than the mouse asks for:
  // "interval_rounding", "usbhid_mousepoll", "ps2_sample_rate"; empty otherwise.
  std::string configuredReason;
  int32_t usbhidMousepollMs = -1;  // usbhid's mousepoll parameter; -1 when not loaded
  int32_t busSpeedKbps = 0;        // 0 when unknown
  std::string portPath;            // USB port path, e.g. "3-1.4"; empty when not USB
  std::string hostDriver;          // host controller's driver, e.g. "xhci_hcd"
  // Times the kernel's event buffer of this device overflowed (SYN_DROPPED)
  // since it arrived; each time at least one report was lost.
  uint64_t droppedReports = 0;
  // The device file reports are read from; empty for virtual mice.
  std::string node;
  // Why the device could not be opened (the record the monitor kept as its
  // last error then); status Ok when it was opened.
  HIDError openError;
  // The monitor's number for this arrival of the device: never reused while
  // the process runs, so it tells a test's mice apart after they are gone.
  uint64_t serial = 0;

  std::string displayName() const;
};
