#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "hid/DeviceContext.h"
#include "hid/HIDDeviceInfo.h"
#include "hid/HIDError.h"
#include "hid/HIDMonitor.h"
#include "hid/TraceRateLimit.h"
#include "hid/intake/ReportRouter.h"
#include "hid/service/HIDService.h"

namespace hidservice {
class RunLoop;
}

// The monitor's state. The router comes first: the report path calls route()
// on it and the monitor writes its members.
class HIDMonitor::Impl : public ReportRouter {
 public:
  explicit Impl(std::shared_ptr<hidservice::Service> service);

  // Guarded by mutex.
  std::vector<HIDDeviceInfo> devices;
  std::vector<std::unique_ptr<DeviceContext>> contexts;
  // Written under mutex together with selectedContext; read without it.
  std::atomic<int32_t> selectedIndex{-1};
  // Guarded by mutex: no automatic choice on arrival or removal.
  bool selectionHeld = false;
  HIDError lastError;
  // Guarded by mutex: the records of the latest removed devices, newest last.
  std::deque<HIDDeviceInfo> departed;
  static constexpr size_t kDepartedKept = 16;
  // HID thread only: the next arrival's serial, and the serial of the device
  // whose report is being delivered.
  uint64_t nextSerial = 1;
  uint64_t deliveringSerial = 0;
  std::atomic<bool> reportErrorLatched{false};
  // Installed before the HID thread starts.
  std::function<void(const HIDError&)> reportErrorCallback;
  // Overflow trace lines: the reader is already behind when one happens.
  TraceRateLimit overflowLines{std::chrono::seconds(30), 5};
  mutable std::mutex mutex;
  std::thread thread;
  // The HID thread's loop while it exists; published under mutex so stop()
  // never reaches a loop that is being destroyed.
  hidservice::RunLoop* runLoop = nullptr;
  // Guarded by mutex: waitForHIDThread()'s tickets, and the signal that one
  // was handled or that the loop is gone.
  uint64_t syncsPosted = 0;
  uint64_t syncsDone = 0;
  std::condition_variable syncDone;
  std::unique_ptr<hidservice::Manager> manager;

  std::shared_ptr<hidservice::Service> service;

  void start();
  void stop();
  void sync();

  // Records result's code and text under status.
  void setErrorLocked(HIDStatus status, const hidservice::Result& result);
  void syncSelectedLocked();
  void reselectLocked();

  static void deviceMatchingCallback(void* context, const hidservice::Result& result, void* sender,
                                     hidservice::Device* device);
  static void deviceRemovalCallback(void* context, const hidservice::Result& result, void* sender,
                                    hidservice::Device* device);
  static void inputReportCallback(void* context, const hidservice::Result& result, void* sender,
                                  uint32_t reportType, uint32_t reportID, uint8_t* report,
                                  size_t reportLength, uint64_t timeStamp);

  void handleDeviceMatched(HIDDeviceRef device);
  void handleDeviceRemoved(HIDDeviceRef device);
  void noteReportError(const hidservice::Result& result);
  void passReportError(const DeviceContext& context, const hidservice::Result& result);
  void noteDroppedReport(DeviceContext& context);
  std::chrono::steady_clock::time_point machToSteady(uint64_t hostTime);

 private:
  struct Handshake {
    std::mutex mutex;
    std::condition_variable cv;
    bool ready = false;
  };

  void threadMain(Handshake* handshake);
  void run(hidservice::RunLoop& loop);
  void fixClockOffset();

  // Fixed on the first conversion.
  std::once_flag clockOnce_;
  hidservice::Timebase timebase_{1, 1};
  int64_t clockOffsetNs_ = 0;
};
