// The monitor's logic on the virtual HID service: selection, error records,
// report errors, timestamps, the thread's life cycle and teardown.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "EpollFault.h"
#include "hid/HIDMonitor.h"
#include "hid/service/ErrnoResult.h"
#include "hid/service/VirtualHIDService.h"
#include "i18n/Translate.h"

using hidservice::Result;
using hidservice::ResultKind;
using hidservice::VirtualDevice;
using hidservice::VirtualDeviceSetup;
using hidservice::VirtualHIDService;
using Clock = std::chrono::steady_clock;

namespace {

const Result kOpened;

// What the linux service answers when open(2) on the node fails.
Result refused(int err) { return hidservice::errnoResult("open /dev/input/event7", err); }

VirtualDeviceSetup mouse(const std::string& product, Result openResult = kOpened,
                         const std::string& manufacturer = "Acme",
                         const std::string& transport = "USB") {
  VirtualDeviceSetup setup;
  setup.properties.product = product;
  setup.properties.manufacturer = manufacturer;
  setup.properties.transport = transport;
  setup.properties.vendorId = 0x1234;
  setup.properties.productId = 0xABCD;
  setup.properties.reportIntervalUs = 1000;
  setup.openResult = openResult;
  return setup;
}

class MonitorTest : public ::testing::Test {
 protected:
  MonitorTest() {
    monitor.setReportCallback([this](Clock::time_point t, const ReportMotion&) {
      std::lock_guard<std::mutex> lock(mutex);
      received.push_back(t);
      cv.notify_all();
    });
  }

  VirtualDevice* add(VirtualDeviceSetup setup) {
    VirtualDevice* d = service->addDevice(std::move(setup));
    service->sync();
    return d;
  }
  void remove(VirtualDevice* d) {
    service->removeDevice(d);
    service->sync();
  }
  void report(VirtualDevice* d, uint64_t hostTime, Result result = kOpened) {
    service->deliverReport(d, result, hostTime);
    service->sync();
  }
  std::vector<Clock::time_point> reports() {
    std::lock_guard<std::mutex> lock(mutex);
    return received;
  }
  HIDDeviceRef selectedDevice() {
    const int i = monitor.getSelectedDeviceIndex();
    return i < 0 ? nullptr : monitor.getMouseDevices().at(i).device;
  }

  std::shared_ptr<VirtualHIDService> service = std::make_shared<VirtualHIDService>();
  HIDMonitor monitor{service};
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<Clock::time_point> received;
};

constexpr const char* kExclusiveMessage =
    "open /dev/input/event7 failed: EBUSY（设备已被其他程序独占）";

}  // namespace

TEST_F(MonitorTest, ListsArrivalsWithTheirPropertiesInOrder) {
  monitor.start();
  add(mouse("Pro Mouse"));
  VirtualDeviceSetup bare;
  add(bare);
  const auto devices = monitor.getMouseDevices();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].displayName(), "Acme Pro Mouse [USB]");
  EXPECT_EQ(devices[0].vendorId, 0x1234);
  EXPECT_EQ(devices[0].productId, 0xABCD);
  EXPECT_EQ(devices[0].reportIntervalUs, 1000);
  EXPECT_TRUE(devices[0].opened);
  EXPECT_EQ(devices[1].displayName(), "VID:0000 PID:0000");
  EXPECT_EQ(devices[1].reportIntervalUs, 0);
}

TEST_F(MonitorTest, AutomaticChoicePrefersOpenedThenPriorityThenEarliest) {
  monitor.start();
  // An unopened device is chosen only while nothing is opened.
  VirtualDevice* busy = add(mouse("Busy", refused(EBUSY)));
  EXPECT_EQ(selectedDevice(), busy);
  // An opened internal SPI trackpad (-800) beats the unopened one.
  VirtualDevice* internal = add(mouse("Internal Trackpad", kOpened, "Apple Inc.", "SPI"));
  EXPECT_EQ(monitor.getMouseDevices()[1].priority, -800);
  EXPECT_EQ(selectedDevice(), internal);
  // Equal priority: the earlier arrival wins.
  VirtualDevice* first = add(mouse("First"));
  add(mouse("Second"));
  EXPECT_EQ(selectedDevice(), first);
}

TEST_F(MonitorTest, PriorityTestsAreExactAndCaseSensitive) {
  monitor.start();
  add(mouse("Internal Keyboard", kOpened, "Apple", "USB"));
  add(mouse("Magic Mouse", kOpened, "Apple", "Bluetooth"));
  add(mouse("Pad", kOpened, "Acme", "spi"));
  add(mouse("Pad", kOpened, "Acme", "SPI"));
  const auto devices = monitor.getMouseDevices();
  EXPECT_EQ(devices[0].priority, -500);
  EXPECT_EQ(devices[1].priority, 0);
  EXPECT_EQ(devices[2].priority, 0);
  EXPECT_EQ(devices[3].priority, -300);
}

TEST_F(MonitorTest, BuiltInPointersRankBelowExternalMice) {
  monitor.start();
  VirtualDeviceSetup touchpad = mouse("Touchpad", kOpened, "", "I2C");
  touchpad.properties.builtIn = 1;
  VirtualDeviceSetup spiPad = mouse("Pad", kOpened, "", "SPI");
  spiPad.properties.builtIn = 1;
  add(touchpad);
  add(spiPad);
  VirtualDevice* bluetooth = add(mouse("Travel Mouse", kOpened, "Acme", "Bluetooth"));
  const auto devices = monitor.getMouseDevices();
  EXPECT_EQ(devices[0].priority, -500);
  EXPECT_EQ(devices[1].priority, -800);
  EXPECT_EQ(devices[2].priority, 0);
  EXPECT_EQ(selectedDevice(), bluetooth);
}

TEST_F(MonitorTest, NoOpenedDeviceSelectsHighestPriorityFirstOnTies) {
  monitor.start();
  add(mouse("Pad", refused(EACCES), "Acme", "SPI"));
  VirtualDevice* a = add(mouse("A", refused(EACCES)));
  add(mouse("B", refused(EACCES)));
  EXPECT_EQ(selectedDevice(), a);
}

TEST_F(MonitorTest, ArrivalReplacesTheUsersChoice) {
  monitor.start();
  VirtualDevice* first = add(mouse("First"));
  add(mouse("Second"));
  monitor.setSelectedDeviceIndex(1);
  EXPECT_EQ(monitor.getSelectedDeviceIndex(), 1);
  add(mouse("Third", refused(EBUSY)));
  EXPECT_EQ(selectedDevice(), first);
}

TEST_F(MonitorTest, OutOfRangeChoiceSelectsNothingAndDropsReports) {
  monitor.start();
  monitor.setMonitoring(true);
  VirtualDevice* a = add(mouse("A"));
  add(mouse("B"));
  monitor.setSelectedDeviceIndex(5);
  EXPECT_EQ(monitor.getSelectedDeviceIndex(), -1);
  monitor.setSelectedDeviceIndex(-7);
  EXPECT_EQ(monitor.getSelectedDeviceIndex(), -1);
  report(a, 1000);
  EXPECT_TRUE(reports().empty());
}

TEST_F(MonitorTest, RemovalKeepsTheSelectedDeviceAcrossTheIndexShift) {
  monitor.start();
  VirtualDevice* a = add(mouse("A"));
  VirtualDevice* b = add(mouse("B"));
  VirtualDevice* c = add(mouse("C"));
  monitor.setSelectedDeviceIndex(2);
  remove(a);
  EXPECT_EQ(monitor.getSelectedDeviceIndex(), 1);
  EXPECT_EQ(selectedDevice(), c);
  // Removing one after the selected one changes nothing.
  VirtualDevice* d = add(mouse("D"));
  monitor.setSelectedDeviceIndex(0);
  remove(d);
  EXPECT_EQ(selectedDevice(), b);
  // The selected device leaves: the automatic choice runs.
  monitor.setSelectedDeviceIndex(1);
  remove(c);
  EXPECT_EQ(selectedDevice(), b);
  EXPECT_EQ(a->closeCalls(), 1);
}

TEST_F(MonitorTest, RemovalOfTheSelectedMiddleDeviceSelectsTheFirst) {
  monitor.start();
  VirtualDevice* a = add(mouse("A"));
  VirtualDevice* b = add(mouse("B"));
  add(mouse("C"));
  monitor.setSelectedDeviceIndex(1);
  remove(b);
  EXPECT_EQ(selectedDevice(), a);
  EXPECT_EQ(monitor.getSelectedDeviceIndex(), 0);
}

TEST_F(MonitorTest, RoutesOnlyTheSelectedMouseWhileMonitoring) {
  monitor.start();
  VirtualDevice* a = add(mouse("A"));
  VirtualDevice* b = add(mouse("B"));
  report(a, 1000);
  EXPECT_TRUE(reports().empty());
  monitor.setMonitoring(true);
  EXPECT_TRUE(monitor.isMonitoring());
  report(a, 2000);
  report(b, 3000);
  ASSERT_EQ(reports().size(), 1u);
  monitor.setSelectedDeviceIndex(1);
  report(b, 4000);
  const auto got = reports();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1] - got[0], std::chrono::nanoseconds(2000));
}

TEST_F(MonitorTest, OpenFailureIsRecordedAndClearedByALaterSuccess) {
  EXPECT_EQ(monitor.getLastError().status, HIDStatus::Ok);
  EXPECT_EQ(monitor.getLastError().message, "");
  monitor.start();
  add(mouse("Busy", refused(EBUSY)));
  HIDError error = monitor.getLastError();
  EXPECT_EQ(error.status, HIDStatus::DeviceError);
  EXPECT_EQ(error.code, EBUSY);
  EXPECT_EQ(error.message, kExclusiveMessage);
  EXPECT_FALSE(monitor.getMouseDevices()[0].opened);

  add(mouse("Fine"));
  EXPECT_EQ(monitor.getLastError().status, HIDStatus::Ok);
  EXPECT_EQ(monitor.getLastError().message, "");

  // A failure after a success stays visible.
  add(mouse("Locked", refused(EACCES)));
  error = monitor.getLastError();
  EXPECT_EQ(error.status, HIDStatus::PermissionDenied);
  EXPECT_EQ(error.code, EACCES);
  EXPECT_EQ(error.message, "open /dev/input/event7 failed: EACCES（没有读取权限）");
}

TEST_F(MonitorTest, ReportErrorsAreLatchedAndIgnoredCodesSkipped) {
  monitor.start();
  monitor.setMonitoring(true);
  VirtualDevice* a = add(mouse("A"));
  // A device unplugged or closed underneath is no error of the user's.
  report(a, 1000, hidservice::errnoResult("read /dev/input/event7", ENODEV));
  EXPECT_EQ(monitor.getLastError().status, HIDStatus::Ok);

  report(a, 2000, hidservice::errnoResult("read /dev/input/event7", EIO));
  EXPECT_EQ(monitor.getLastError().status, HIDStatus::DeviceError);
  EXPECT_EQ(monitor.getLastError().message,
            "read /dev/input/event7 failed: EIO（输入/输出错误，设备可能已断开）");
  report(a, 3000, refused(EACCES));
  EXPECT_EQ(monitor.getLastError().code, EIO);
  EXPECT_TRUE(reports().empty());

  // A successful open while a device error is on record clears the latch.
  add(mouse("B"));
  EXPECT_EQ(monitor.getLastError().status, HIDStatus::Ok);
  report(a, 4000, refused(EACCES));
  EXPECT_EQ(monitor.getLastError().status, HIDStatus::PermissionDenied);
}

TEST_F(MonitorTest, KernelDropsAreCountedPerDeviceAndNeverRouted) {
  monitor.start();
  monitor.setMonitoring(true);
  VirtualDevice* a = add(mouse("A"));
  add(mouse("B"));
  report(a, 1000, hidservice::overrunResult());
  report(a, 2000, hidservice::overrunResult());
  const auto devices = monitor.getMouseDevices();
  EXPECT_EQ(devices[0].droppedReports, 2u);
  EXPECT_EQ(devices[1].droppedReports, 0u);
  EXPECT_EQ(monitor.getLastError().status, HIDStatus::Ok);
  EXPECT_TRUE(reports().empty());
}

TEST_F(MonitorTest, HostTimeConvertsWithTheServicesTimebase) {
  service->setTimebase({125, 3});
  service->setHostTime(3000);
  monitor.start();
  monitor.setMonitoring(true);
  VirtualDevice* a = add(mouse("A"));
  const Clock::time_point before = Clock::now();
  report(a, 3000);  // the offset is fixed here: host 3000 is "now"
  const Clock::time_point after = Clock::now();
  report(a, 3007);  // (3007 / 3) * 125 - (3000 / 3) * 125 = 250 ns
  const auto got = reports();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_GE(got[0], before);
  EXPECT_LE(got[0], after);
  EXPECT_EQ(got[1] - got[0], std::chrono::nanoseconds(250));
}

TEST_F(MonitorTest, StartTwiceCreatesOneManagerAndStopEmptiesTheList) {
  monitor.start();
  monitor.start();
  EXPECT_EQ(service->managersCreated(), 1);
  add(mouse("A"));
  monitor.stop();
  EXPECT_TRUE(monitor.getMouseDevices().empty());
  EXPECT_EQ(monitor.getSelectedDeviceIndex(), -1);
  // A new start lists the present devices again.
  monitor.start();
  service->sync();
  EXPECT_EQ(monitor.getMouseDevices().size(), 1u);
  EXPECT_EQ(service->managersCreated(), 2);
}

TEST_F(MonitorTest, StopWithoutStartIsHarmless) {
  monitor.stop();
  monitor.stop();
  EXPECT_EQ(monitor.getLastError().status, HIDStatus::Ok);
  EXPECT_EQ(service->managersCreated(), 0);
}

TEST_F(MonitorTest, FailedManagerCreationIsRecordedAndStartCanRetry) {
  service->setManagerCreateFails(true);
  service->addDevice(mouse("A"));
  monitor.start();
  EXPECT_EQ(monitor.getLastError().status, HIDStatus::ManagerError);
  EXPECT_EQ(monitor.getLastError().message, "create virtual manager failed");
  // start() again while the ended thread is still joinable must not abort.
  service->setManagerCreateFails(false);
  monitor.start();
  service->sync();
  EXPECT_EQ(monitor.getMouseDevices().size(), 1u);
  monitor.stop();
  EXPECT_EQ(monitor.getLastError().status, HIDStatus::ManagerError);
}

TEST_F(MonitorTest, StopAfterFailedManagerKeepsTheError) {
  service->setManagerCreateFails(true);
  monitor.start();
  monitor.stop();
  EXPECT_EQ(monitor.getLastError().status, HIDStatus::ManagerError);
  EXPECT_TRUE(monitor.getMouseDevices().empty());
}

TEST_F(MonitorTest, FailedManagerOpenIsRecordedButArrivalsStillCount) {
  service->setManagerOpenResult(hidservice::errnoResult("udev_monitor_enable_receiving", ENOMEM));
  service->addDevice(mouse("A"));
  monitor.start();
  service->sync();
  // A successful device open does not clear a manager error.
  EXPECT_EQ(monitor.getLastError().status, HIDStatus::ManagerError);
  EXPECT_EQ(monitor.getLastError().message,
            "udev_monitor_enable_receiving failed: ENOMEM（内存不足）");
  EXPECT_EQ(monitor.getMouseDevices().size(), 1u);
}

TEST_F(MonitorTest, ManagerOpenWithoutPermissionIsAPermissionError) {
  service->setManagerOpenResult(hidservice::errnoResult("udev_monitor_new_from_netlink", EPERM));
  monitor.start();
  EXPECT_EQ(monitor.getLastError().status, HIDStatus::PermissionDenied);
  EXPECT_EQ(monitor.getLastError().message,
            "udev_monitor_new_from_netlink failed: EPERM（操作不被允许）");
}

TEST_F(MonitorTest, TeardownClosesOnlyOpenedDevices) {
  monitor.start();
  VirtualDevice* opened = add(mouse("Opened"));
  VirtualDevice* busy = add(mouse("Refused", refused(EBUSY)));
  monitor.stop();
  EXPECT_EQ(opened->closeCalls(), 1);
  EXPECT_EQ(busy->closeCalls(), 0);
  // Removal closes whether or not the device was opened.
  monitor.start();
  service->sync();
  remove(busy);
  EXPECT_EQ(busy->closeCalls(), 1);
}

// The HID thread's loop can no longer wait for events: the user learns it
// from the banner instead of from a list that merely empties.
TEST_F(MonitorTest, AFailingEventWaitIsRecordedAsAManagerError) {
  const std::set<int> before = epollFds();
  monitor.start();
  add(mouse("Pro Mouse"));
  const int fd = newEpollFd(before);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(replaceWithDevNull(fd));
  service->sync();  // wakes the loop, whose next wait fails

  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (monitor.getLastError().status == HIDStatus::Ok && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const HIDError error = monitor.getLastError();
  EXPECT_EQ(error.status, HIDStatus::ManagerError);
  EXPECT_EQ(error.message.rfind("epoll_wait failed", 0), 0u) << error.message;
  EXPECT_TRUE(monitor.getMouseDevices().empty());
  monitor.stop();
  EXPECT_EQ(monitor.getLastError().status, HIDStatus::ManagerError);
}

// The loop ends on a failed wait while waitForHIDThread() waits for a task it
// had posted: the wait ends all the same.
TEST_F(MonitorTest, AWaitForTheHIDThreadEndsWhenTheLoopFails) {
  bool inCallback = false, release = false;
  monitor.setReportCallback([&](Clock::time_point, const ReportMotion&) {
    std::unique_lock<std::mutex> lock(mutex);
    inCallback = true;
    cv.notify_all();
    cv.wait(lock, [&] { return release; });  // holds the HID thread
  });
  const std::set<int> before = epollFds();
  monitor.start();
  VirtualDevice* d = add(mouse("Pro Mouse"));
  const int fd = newEpollFd(before);
  ASSERT_GE(fd, 0);
  monitor.setMonitoring(true);
  service->deliverReport(d, kOpened, 1000);
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return inCallback; }));
  }
  ASSERT_TRUE(replaceWithDevNull(fd));  // the loop's next wait fails
  std::thread waiter([&] { monitor.waitForHIDThread(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // its task is queued
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
    cv.notify_all();
  }
  waiter.join();  // never returned before
  EXPECT_EQ(monitor.getLastError().status, HIDStatus::ManagerError);
}

TEST_F(MonitorTest, LongNamesAreCutAtACharacterBoundary) {
  monitor.start();
  std::string longName;
  for (int i = 0; i < 100; ++i) longName += "鼠";  // 300 bytes
  add(mouse(longName));
  const std::string product = monitor.getMouseDevices()[0].product;
  EXPECT_EQ(product.size(), 255u);
  EXPECT_EQ(product, longName.substr(0, 255));
}

TEST(VirtualMiceTest, TimerDrivenMouseReportsAtItsIdealTimesPlusJitter) {
  auto service = std::make_shared<VirtualHIDService>(
      std::vector<hidservice::VirtualMouseRate>{{2000, 0}, {1000, 5}});
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<Clock::time_point> got;
  // Declared after what its callback writes, so its HID thread ends first.
  HIDMonitor monitor(service);
  monitor.setReportCallback([&](Clock::time_point t, const ReportMotion&) {
    std::lock_guard<std::mutex> lock(mutex);
    got.push_back(t);
    cv.notify_all();
  });
  monitor.setMonitoring(true);
  monitor.start();
  service->sync();
  const auto devices = monitor.getMouseDevices();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].displayName(), "虚拟鼠标 2000 Hz [Virtual]");
  EXPECT_EQ(devices[0].reportIntervalUs, 500);
  EXPECT_EQ(monitor.getSelectedDeviceIndex(), 0);

  std::unique_lock<std::mutex> lock(mutex);
  ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return got.size() >= 50; }));
  for (size_t i = 1; i < 50; ++i) EXPECT_EQ(got[i] - got[i - 1], std::chrono::microseconds(500));
  lock.unlock();

  monitor.setSelectedDeviceIndex(1);
  service->sync();
  lock.lock();
  const size_t from = got.size();
  ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return got.size() >= from + 20; }));
  for (size_t i = from + 1; i < from + 20; ++i) {
    const auto interval = std::chrono::duration_cast<std::chrono::nanoseconds>(got[i] - got[i - 1]);
    EXPECT_LE(std::abs(interval.count() - 1000000), 10000) << i;
  }
}

// A reader that stalls 200 ms behind a 1000 Hz mouse: a kernel buffer of 50
// reports overflows, everything unread is lost and one drop is counted; one
// of 400 holds the stall, and without one nothing is lost.
TEST(VirtualMiceTest, AKernelBufferLosesWhatALateReaderMisses) {
  for (const int32_t buffer : {50, 400, 0}) {
    SCOPED_TRACE(buffer);
    const bool overflows = buffer > 0 && buffer < 200;
    hidservice::VirtualMouseRate rate{1000, 0};
    rate.bufferReports = buffer;
    auto service = std::make_shared<VirtualHIDService>(std::vector{rate});
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<Clock::time_point> got;
    HIDMonitor monitor(service);
    monitor.setReportCallback([&](Clock::time_point t, const ReportMotion&) {
      // The callback runs on the HID thread: sleeping here is the reader stalling.
      if (got.size() == 20) std::this_thread::sleep_for(std::chrono::milliseconds(200));
      std::lock_guard<std::mutex> lock(mutex);
      got.push_back(t);
      cv.notify_all();
    });
    monitor.setMonitoring(true);
    monitor.start();
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return got.size() >= 100; }));
    std::vector<int64_t> gaps;  // intervals of more than one slot, in slots
    for (size_t i = 1; i < 100; ++i) {
      const auto slots = (got[i] - got[i - 1]) / std::chrono::milliseconds(1);
      if (slots != 1) gaps.push_back(slots);
    }
    lock.unlock();
    EXPECT_EQ(monitor.getMouseDevices()[0].droppedReports, overflows ? 1u : 0u);
    if (!overflows) {
      EXPECT_TRUE(gaps.empty());
    } else {
      ASSERT_EQ(gaps.size(), 1u);
      EXPECT_GE(gaps[0], buffer + 2);  // the buffer's reports and the one that overflowed it
      EXPECT_LE(gaps[0], 200 + 1);
    }
  }
}

TEST_F(MonitorTest, EachUnopenedMouseKeepsTheRecordOfItsOwnOpen) {
  monitor.start();
  add(mouse("Busy", refused(EBUSY)));
  add(mouse("Locked", refused(EACCES)));
  add(mouse("Fine"));
  const auto devices = monitor.getMouseDevices();
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(devices[0].openError.message, kExclusiveMessage);
  EXPECT_EQ(devices[0].openError.status, HIDStatus::DeviceError);
  EXPECT_EQ(devices[1].openError.status, HIDStatus::PermissionDenied);
  EXPECT_EQ(devices[2].openError.status, HIDStatus::Ok);
  EXPECT_TRUE(devices[2].openError.message.empty());
  EXPECT_TRUE(devices[2].node.empty());  // virtual mice have no device file
}

// The mice are made before the language is chosen (the window's monitor is
// a global) and take its words when listed.
TEST_F(MonitorTest, WaitForHIDThreadListsTheMicePresentAtStart) {
  HIDMonitor withMice(std::make_shared<VirtualHIDService>(
      std::vector<hidservice::VirtualMouseRate>{{1000, 0}, {8000, 0, 2000}}));
  i18n::initTranslation(i18n::Language::English);
  withMice.start();
  withMice.waitForHIDThread();
  i18n::initTranslation(i18n::Language::Chinese);
  const auto devices = withMice.getMouseDevices();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].displayName(), "Virtual mouse 1000 Hz [Virtual]");
  EXPECT_EQ(devices[1].displayName(), "Virtual mouse 8000 Hz (2000 counts/s) [Virtual]");
  withMice.stop();
  withMice.waitForHIDThread();  // no thread: returns at once
}
