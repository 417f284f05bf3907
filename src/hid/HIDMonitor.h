#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "analysis/ReportMotion.h"
#include "hid/HIDDeviceInfo.h"
#include "hid/HIDError.h"
#include "hid/Permission.h"

namespace hidservice {
class Service;
}

// The one object through which the program sees mice: the device list, the
// selection, the monitoring flag and the last error of the HID service. Its
// HID thread receives arrivals, removals and input reports and routes the
// reports of the selected mouse to the report callback.
//
// Every public member function is called from one thread (the main thread),
// apart from deliveringDeviceSerial(), which the report callback calls.
class HIDMonitor {
 public:
  // Uses the HID service of this process: virtual mice when TAVO_VIRTUAL_MICE
  // is set, udev + evdev otherwise.
  HIDMonitor();
  // Uses the given service (tests, benchmarks).
  explicit HIDMonitor(std::shared_ptr<hidservice::Service> service);
  ~HIDMonitor();

  HIDMonitor(const HIDMonitor&) = delete;
  HIDMonitor& operator=(const HIDMonitor&) = delete;

  // Starts the HID thread and returns once its manager is set up or has
  // failed. Throws std::system_error when the thread cannot be created.
  void start();
  // Ends the HID thread (the device list empties) and stops a raw capture.
  void stop();

  // Copies, taken under the monitor's lock. Each record's droppedReports is
  // current at the time of the call.
  std::vector<HIDDeviceInfo> getMouseDevices() const;
  HIDError getLastError() const;
  // The device list and the selected index into it, read together (an
  // arrival or removal between two separate reads would pair the wrong ones).
  struct DeviceSelection {
    std::vector<HIDDeviceInfo> devices;
    int selected = -1;
  };
  DeviceSelection getDevicesAndSelection() const;
  // The record of the device with this serial: listed now, or among the
  // latest removed ones.
  std::optional<HIDDeviceInfo> findDevice(uint64_t serial) const;
  // HID thread, inside the report callback only: the serial of the mouse
  // whose report is being delivered.
  uint64_t deliveringDeviceSerial() const;

  // Returns once the HID thread has handled everything it had to do when
  // the call was made: after start(), the mice present then are listed.
  void waitForHIDThread();

  // -1 means no mouse is selected.
  int getSelectedDeviceIndex() const;
  // An index out of range selects nothing.
  void setSelectedDeviceIndex(int index);
  // While held, arrivals and removals never choose a mouse by themselves:
  // the selected mouse stays selected until it goes away, then nothing is.
  // For a test bound to one mouse (the terminal meter); the window keeps the
  // automatic choice.
  void holdSelection(bool held);

  // Reports reach the callback only while monitoring is on.
  void setMonitoring(bool on);
  bool isMonitoring() const;

  // Install before start(); not synchronised with the HID thread.
  // Called on the HID thread with each passed report's stamp and motion.
  void setReportCallback(
      std::function<void(std::chrono::steady_clock::time_point, const ReportMotion&)> callback);
  // Called on the HID thread, after the report callback, with each button
  // press (1) or release (0) of a passed report: its stamp, the EV_KEY code,
  // the value. Install before start().
  void setButtonCallback(
      std::function<void(std::chrono::steady_clock::time_point, uint16_t code, int32_t value)>
          callback);
  // Called on the HID thread when the kernel lost reports (SYN_DROPPED) of the
  // selected mouse while monitoring is on. Install before start().
  void setKernelDropCallback(std::function<void()> callback);
  // Called on the HID thread when reading the selected mouse fails (it sends
  // no more reports; its removal is not such a failure) while monitoring is
  // on. Install before start().
  void setReportErrorCallback(std::function<void(const HIDError&)> callback);

  static PermissionStatus permissionStatus();
  static bool requestPermission();

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};
