#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "hid/service/BusNames.h"
#include "hid/service/EvdevFrameAssembler.h"
#include "hid/service/HIDService.h"

namespace hidservice {

// Mice through udev (enumeration, hotplug, properties) and evdev nodes read
// directly on the HID thread. Host time is CLOCK_MONOTONIC in nanoseconds.
class LinuxHIDService : public Service {
 public:
  std::unique_ptr<Manager> createManager(Result& failure) override;
  uint64_t hostTime() const override;
  Timebase timebase() const override { return Timebase{1, 1}; }
  // Granted when every mouse node opens for reading, Denied when one refuses
  // with EACCES/EPERM, Unknown when no mouse node could be examined.
  PermissionStatus checkAccess() override;
  // There is nothing to ask for: access comes from a udev rule or a group.
  void requestAccess() override {}
};

// One evdev node. Opened read-only and non-blocking; every readable wake-up
// drains the node in batches so the kernel's small per-reader buffer never
// overflows between reads.
class EvdevDevice : public Device {
 public:
  EvdevDevice(RunLoop& loop, std::string devnode, DeviceProperties properties);
  ~EvdevDevice() override;

  Result open() override;
  void close() override;
  void registerInputReportCallback(uint8_t* buffer, size_t size, InputReportCallback callback,
                                   void* context) override;

  bool isOpen() const { return fd_ >= 0; }
  uint64_t dropCount() const { return assembler_.dropCount(); }
  // Reads until the node has nothing more; called when it is readable.
  void drain();

 private:
  void watch();
  void unwatch();
  void fail(int err);
  int64_t clockOffsetNs();

  RunLoop& loop_;
  std::string devnode_;
  int fd_ = -1;
  uint64_t watchId_ = 0;
  bool monotonicStamps_ = false;
  int64_t realtimeOffsetNs_ = 0;
  int64_t offsetTakenNs_ = 0;
  bool registered_ = false;
  uint8_t carry_[sizeof(input_event)] = {};
  size_t carryLength_ = 0;
  EvdevFrameAssembler assembler_;
};

// Whether a mouse node is a pointing device built into the machine:
// udev's touchpad or pointing-stick tag, or a bus that only internal
// devices use (the i8042 PS/2 port, I2C, SPI).
bool isBuiltInPointer(bool touchpad, bool pointingStick, std::string_view transport);
// The interval in microseconds the host polls an interrupt-IN endpoint at,
// from its bInterval and the device's speed attribute in Mbit/s ("1.5",
// "12", "480", "5000" ...); 0 when unknown.
int32_t reportIntervalUs(int bInterval, std::string_view speed);
// The interval the same bInterval asks for, before the host rounds it.
int32_t requestedIntervalUs(int bInterval, std::string_view speed);

// How the host polls a USB mouse: the interval it polls at, the one the
// mouse asks for, and why they differ ("interval_rounding",
// "usbhid_mousepoll"; empty when they do not).
struct UsbPolling {
  int32_t hostUs = 0;
  int32_t requestedUs = 0;
  std::string reason;
};
// hostDriver is the host controller's driver ("xhci_hcd", "ehci-pci" ...,
// empty when unknown); mousepollMs usbhid's parameter, 0 when it is unset
// or does not apply.
UsbPolling usbPolling(int bInterval, std::string_view speed, std::string_view hostDriver,
                      int mousepollMs);

}  // namespace hidservice
