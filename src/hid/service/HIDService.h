#pragma once

// The HID service the monitor talks to: a manager that reports mice on a
// per-thread event loop, devices with properties, platform-neutral results
// (Result: kind, the platform's code, its text), one callback per input
// report with a host timestamp, host time and timebase, and the access check. Two implementations
// exist (udev + evdev, and virtual mice); the monitor does not know which one it has.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "hid/Permission.h"
#include "hid/service/Result.h"

namespace hidservice {

class RunLoop;

// Property keys of a device.
inline constexpr std::string_view kProductKey = "Product";
inline constexpr std::string_view kManufacturerKey = "Manufacturer";
inline constexpr std::string_view kTransportKey = "Transport";
inline constexpr std::string_view kVendorIdKey = "VendorID";
inline constexpr std::string_view kProductIdKey = "ProductID";
inline constexpr std::string_view kReportIntervalKey = "ReportInterval";
// 1 for a pointing device built into the machine (touchpad, pointing stick,
// PS/2, I2C or SPI attached), 0 or absent otherwise.
inline constexpr std::string_view kBuiltInKey = "BuiltIn";
// The device file reports are read from ("/dev/input/event7"); none for virtual mice.
inline constexpr std::string_view kNodeKey = "Node";
// Where a USB mouse is plugged in: bus speed in kb/s, port path ("3-1.4"),
// and the driver of the host controller it hangs off ("xhci_hcd").
inline constexpr std::string_view kBusSpeedKey = "BusSpeed";
inline constexpr std::string_view kPortPathKey = "PortPath";
inline constexpr std::string_view kHostDriverKey = "HostDriver";
// The interval the mouse asks for (its endpoint descriptor's, before the
// host rounds or replaces it), why the host polls at another one
// ("interval_rounding", "usbhid_mousepoll", "ps2_sample_rate"), and usbhid's
// mousepoll parameter in ms (absent when the module is not loaded).
inline constexpr std::string_view kRequestedIntervalKey = "RequestedInterval";
// The host's interval in nanoseconds: exact where whole µs are not (62.5 µs).
inline constexpr std::string_view kReportIntervalNsKey = "ReportIntervalNs";
inline constexpr std::string_view kConfiguredReasonKey = "ConfiguredReason";
inline constexpr std::string_view kUsbhidMousepollKey = "UsbhidMousepoll";

// Generic Desktop / Mouse.
inline constexpr int kUsagePageGenericDesktop = 1;
inline constexpr int kUsageMouse = 2;

inline constexpr uint32_t kInputReportType = 0;

// nanoseconds = host units * numer / denom
struct Timebase {
  uint32_t numer = 1;
  uint32_t denom = 1;
};

class Device;

using DeviceCallback = void (*)(void* context, const Result& result, void* sender, Device* device);
using InputReportCallback = void (*)(void* context, const Result& result, void* sender,
                                     uint32_t reportType, uint32_t reportId, uint8_t* report,
                                     size_t reportLength, uint64_t timeStamp);

// Values a device reports about itself; absent ones stay empty.
struct DeviceProperties {
  std::optional<std::string> product;
  std::optional<std::string> manufacturer;
  std::optional<std::string> transport;
  std::optional<int32_t> vendorId;
  std::optional<int32_t> productId;
  std::optional<int32_t> reportIntervalUs;  // the interval the host polls at
  std::optional<int32_t> requestedIntervalUs;
  std::optional<int32_t> reportIntervalNs;  // the same, exact
  std::optional<std::string> configuredReason;
  std::optional<int32_t> usbhidMousepollMs;
  std::optional<int32_t> builtIn;
  std::optional<std::string> node;
  std::optional<int32_t> busSpeedKbps;
  std::optional<std::string> portPath;
  std::optional<std::string> hostDriver;
};

// One matched device. A handle stays valid from its arrival until the removal
// callback for it returns (the device may be destroyed right after it), or
// until the manager that announced it is destroyed, whichever comes first;
// all calls happen on the manager's loop thread.
class Device {
 public:
  virtual ~Device() = default;

  // Success when opened; only opened devices deliver reports.
  virtual Result open() = 0;
  virtual void close() = 0;
  // Reports of an opened device are written into buffer and announced with
  // callback(context, ...) on the loop thread.
  virtual void registerInputReportCallback(uint8_t* buffer, size_t size,
                                           InputReportCallback callback, void* context) = 0;

  std::optional<std::string> stringProperty(std::string_view key) const;
  std::optional<int32_t> numberProperty(std::string_view key) const;

 protected:
  DeviceProperties properties_;
};

class Manager {
 public:
  // Destroying the manager releases the devices it announced.
  virtual ~Manager() = default;

  void setDeviceMatching(int usagePage, int usage) {
    matchMice_ = usagePage == kUsagePageGenericDesktop && usage == kUsageMouse;
  }
  void registerDeviceMatchingCallback(DeviceCallback callback, void* context) {
    matched_ = callback;
    matchedContext_ = context;
  }
  void registerDeviceRemovalCallback(DeviceCallback callback, void* context) {
    removed_ = callback;
    removedContext_ = context;
  }
  virtual void scheduleWithRunLoop(RunLoop& loop) = 0;
  // No callback arrives afterwards.
  virtual void unscheduleFromRunLoop(RunLoop& loop) = 0;
  // Devices present at open are announced from the loop once it runs.
  virtual Result open() = 0;
  virtual void close() = 0;

 protected:
  void announceMatched(Device* device) {
    if (matched_ != nullptr) matched_(matchedContext_, successResult(), this, device);
  }
  void announceRemoved(Device* device) {
    if (removed_ != nullptr) removed_(removedContext_, successResult(), this, device);
  }

  bool matchMice_ = false;

 private:
  DeviceCallback matched_ = nullptr;
  void* matchedContext_ = nullptr;
  DeviceCallback removed_ = nullptr;
  void* removedContext_ = nullptr;
};

class Service {
 public:
  virtual ~Service() = default;

  // Null when the manager cannot be created; failure then says why.
  virtual std::unique_ptr<Manager> createManager(Result& failure) = 0;
  // The clock of the report timestamps.
  virtual uint64_t hostTime() const = 0;
  virtual Timebase timebase() const = 0;
  // Whether this process may read input reports; asked afresh each call.
  virtual PermissionStatus checkAccess() = 0;
  virtual void requestAccess() = 0;
};

// The service of this process, chosen once at first use: virtual mice when
// TAVO_VIRTUAL_MICE is set, udev + evdev otherwise.
std::shared_ptr<Service> processService();

}  // namespace hidservice
