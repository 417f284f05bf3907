#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

#include "hid/service/HIDService.h"
#include "hid/service/VirtualPattern.h"

namespace hidservice {

class VirtualHIDService;
class VirtualManager;

// One mouse of TAVO_VIRTUAL_MICE: rate in Hz, optional jitter in us, and
// optional hand speed in counts per second (0: fast enough for every slot),
// optional clicks and strokes ("/click=8:60:0.25", "/stroke=10cm:800") and
// an optional kernel buffer ("/buffer=42").
struct VirtualMouseRate {
  VirtualMouseRate() = default;
  VirtualMouseRate(double rate, double jitter = 0, double speed = 0)
      : rateHz(rate), jitterUs(jitter), countsPerS(speed) {}

  double rateHz = 0;
  double jitterUs = 0;
  double countsPerS = 0;
  VirtualClicks clicks;
  VirtualStrokes strokes;
  // Reports the kernel's event buffer holds for a reader that is late; 0:
  // no limit, every report reaches the reader.
  int32_t bufferReports = 0;
};

inline constexpr double kMinVirtualRateHz = 1;
inline constexpr double kMaxVirtualRateHz = 16000;
// A hand speed of 1 count/s up to 1,000,000 (a 26,000 DPI sensor at 1 m/s).
inline constexpr double kMinVirtualCountsPerS = 1;
inline constexpr double kMaxVirtualCountsPerS = 1'000'000;
// More timer-driven mice would keep the HID thread busy before any test.
inline constexpr size_t kMaxVirtualMice = 16;

// The mice a TAVO_VIRTUAL_MICE value asks for ("1000,8000:5,8000@2000"): each
// item a rate of 1 to 16000 Hz with an optional jitter of 0 to half its
// interval, in us, and an optional hand speed of 1 to 1,000,000 counts/s. Every item that is not
// gets one line on `console` naming it, and mice beyond kMaxVirtualMice are refused with one line.
// No value, an empty one or one without a valid item gives nullopt: the real mice (the last case
// with one line saying so).
std::optional<std::vector<VirtualMouseRate>> selectVirtualMice(const char* value,
                                                               std::FILE* console);

struct VirtualDeviceSetup {
  DeviceProperties properties;
  // What open() answers, e.g. errnoResult("open /dev/input/event7", EBUSY).
  Result openResult;
};

// A programmable device. Timer-driven ones report on the loop of the manager
// that announced them, in slots at a fixed rate, each report stamped with its
// slot's ideal time plus jitter and carrying REL_X motion as an evdev frame
// does. Without a hand speed every slot reports kFreeSlotCounts; with one the
// motion builds up slot by slot and only a slot that completes a whole count
// reports, as a sensor does.
class VirtualDevice : public Device {
 public:
  VirtualDevice(VirtualDeviceSetup setup, std::optional<VirtualMouseRate> rate, uint32_t seed);
  ~VirtualDevice() override;

  Result open() override;
  void close() override;
  void registerInputReportCallback(uint8_t* buffer, size_t size, InputReportCallback callback,
                                   void* context) override;

  int openCalls() const { return openCalls_.load(); }
  int closeCalls() const { return closeCalls_.load(); }

  // Where reports go once registered (for driving the report path directly).
  struct Target {
    uint8_t* buffer = nullptr;
    size_t size = 0;
    InputReportCallback callback = nullptr;
    void* context = nullptr;
  };
  Target target() const { return target_; }

  static constexpr int32_t kFreeSlotCounts = 4;
  // Counts of REL_X that slot `index` (from 1) of a timed mouse carries.
  static int32_t slotCounts(const VirtualMouseRate& rate, int64_t index);

 private:
  friend class VirtualManager;
  friend class VirtualHIDService;

  void deliver(const Result& result, uint32_t reportId, const uint8_t* bytes, size_t length,
               uint64_t hostTime);
  void startTimer();
  void stopTimer();
  void onTick();
  void collectDueReports(int64_t now);
  size_t firstKeptReport() const;

  Result openResult_;
  std::optional<VirtualMouseRate> rate_;
  bool namedAfterRate_ = false;
  std::minstd_rand rng_;
  RunLoop* loop_ = nullptr;
  bool opened_ = false;
  Target target_;
  std::atomic<int> openCalls_{0};
  std::atomic<int> closeCalls_{0};
  int timerFd_ = -1;
  uint64_t timerWatch_ = 0;
  int64_t startNs_ = 0;
  int64_t nextIndex_ = 1;
  struct DueReport {
    int64_t stamp = 0;
    size_t length = 0;
    std::array<uint8_t, kMaxFrameBytes> frame{};
  };
  std::vector<DueReport> due_;  // kept between ticks for its room
};

// Virtual mice for tests and demos. Everything a test asks for (arrival,
// removal, reports) is carried out on the HID thread's loop through the same
// callbacks a real service uses. Devices live as long as the service.
class VirtualHIDService : public Service {
 public:
  VirtualHIDService();
  // Timer-driven mice at the given rates, present from the start.
  explicit VirtualHIDService(const std::vector<VirtualMouseRate>& mice);
  ~VirtualHIDService() override;

  std::unique_ptr<Manager> createManager(Result& failure) override;
  uint64_t hostTime() const override;
  Timebase timebase() const override;
  PermissionStatus checkAccess() override { return PermissionStatus::Granted; }
  void requestAccess() override {}

  // --- programming (any thread) ---
  VirtualDevice* addDevice(VirtualDeviceSetup setup);
  void removeDevice(VirtualDevice* device);
  void deliverReport(VirtualDevice* device, Result result, uint64_t hostTime,
                     std::vector<uint8_t> bytes = {0, 1, 0xFF, 0}, uint32_t reportId = 0);
  // Returns once the HID thread has handled everything asked for so far
  // (at once when no manager is open).
  void sync();

  void setManagerCreateFails(bool fails);
  void setManagerOpenResult(Result result);
  void setTimebase(Timebase timebase);
  // A fixed host "now" instead of CLOCK_MONOTONIC.
  void setHostTime(std::optional<uint64_t> hostTime);
  int managersCreated() const { return managersCreated_.load(); }

 private:
  friend class VirtualManager;

  void post(std::function<void()> task);
  Result managerOpenResult() const;
  void attach(VirtualManager* manager, RunLoop* loop);
  void detach(VirtualManager* manager);

  mutable std::mutex mutex_;
  std::condition_variable detached_;
  std::vector<std::unique_ptr<VirtualDevice>> devices_;
  std::vector<VirtualDevice*> present_;
  VirtualManager* active_ = nullptr;
  RunLoop* loop_ = nullptr;
  uint64_t attachEpoch_ = 0;
  bool createFails_ = false;
  Result openResult_;
  Timebase timebase_{1, 1};
  std::optional<uint64_t> hostTime_;
  std::atomic<int> managersCreated_{0};
};

}  // namespace hidservice
