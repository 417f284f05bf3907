// The linux HID service for real, on udev and evdev mocked by umockdev: the
// test runs with libumockdev's preload library, which redirects /sys, /dev
// and the udev netlink socket into a testbed built here.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <umockdev.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EvdevEvents.h"
#include "WithoutFileOverride.h"
#include "hid/HIDMonitor.h"
#include "hid/service/LinuxHIDService.h"

using Clock = std::chrono::steady_clock;

// The preload library comes before the sanitizer runtime; that is fine here.
extern "C" const char* __asan_default_options() { return "verify_asan_link_order=0"; }

namespace {

constexpr const char* kMouseSyspath =
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:1234:ABCD.0001/input/input7/event7";

constexpr const char* kBluetoothSyspath =
    "/sys/devices/virtual/misc/uhid/0005:046D:B02B.0003/input/input20/event20";

std::string dataFile(const char* name) { return std::string(QUILLMARK_HID_TEST_DATA) + "/" + name; }

// Waits for something the HID thread does in reaction to a mocked device.
template <typename Pred>
bool eventually(Pred pred) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (!pred()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// An evemu stream of motion frames at rateHz, stamped on the realtime clock
// from about now. Two quirks of umockdev's replay are avoided: it reads
// "0.001000" as octal, so microseconds have no leading zeros; and it drops
// a leading space byte of an event, so no second whose low byte is 0x20 is
// used (the first byte of every event is that of its second).
std::string writeMotionEvents(int frames, int rateHz) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  int64_t startUs = now.tv_sec * 1000000LL + now.tv_nsec / 1000;
  const int64_t spanUs = static_cast<int64_t>(frames) * 1000000 / rateHz;
  const auto touchesSpace = [&](int64_t from) {
    for (int64_t sec = from / 1000000; sec <= (from + spanUs) / 1000000; ++sec) {
      if ((sec & 0xFF) == 0x20) return true;
    }
    return false;
  };
  while (touchesSpace(startUs)) startUs += 1000000;
  // Tests run in parallel processes: each stream gets a file of its own.
  std::string path = ::testing::TempDir() + "quillmark-motion-" + std::to_string(getpid()) + "-" +
                     std::to_string(rateHz) + ".events";
  std::FILE* f = std::fopen(path.c_str(), "w");
  for (int i = 0; i < frames; ++i) {
    const int64_t us = startUs + static_cast<int64_t>(i) * 1000000 / rateHz;
    const long sec = static_cast<long>(us / 1000000);
    const long usec = static_cast<long>(us % 1000000);
    std::fprintf(f, "E: %ld.%ld 0002 0000 1\nE: %ld.%ld 0002 0001 -1\nE: %ld.%ld 0000 0000 0\n",
                 sec, usec, sec, usec, sec, usec);
  }
  std::fclose(f);
  return path;
}

constexpr const char* kReadsAnyFile =
    "this process reads files whatever their mode (capabilities kept)";

bool readable(const std::string& node) {
  const int fd = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

class UmockdevTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "umockdev-preload") == nullptr) {
      GTEST_SKIP() << "needs LD_PRELOAD=libumockdev-preload.so.0 (ctest sets it)";
    }
    testbed = umockdev_testbed_new();
  }
  void TearDown() override {
    monitor.reset();
    if (testbed != nullptr) g_object_unref(testbed);
  }

  void addFile(const char* name) {
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_file(testbed, dataFile(name).c_str(), &error))
        << (error ? error->message : "");
  }
  // The replay runs from the moment it is loaded, so monitoring is switched
  // on before the first frame can be read.
  void startMonitor(bool monitoring = false) {
    monitor = std::make_unique<HIDMonitor>(std::make_shared<hidservice::LinuxHIDService>());
    monitor->setMonitoring(monitoring);
    monitor->setReportCallback([this](Clock::time_point t, const ReportMotion&) {
      std::lock_guard<std::mutex> lock(mutex);
      reports.push_back(t);
    });
    monitor->start();
  }
  size_t deviceCount() { return monitor->getMouseDevices().size(); }
  size_t reportCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return reports.size();
  }
  std::string devPath(const char* node) {
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    std::string path = std::string(root) + node;
    g_free(root);
    return path;
  }

  // Replays frames of motion at rateHz on the mouse's node and checks
  // every one reaches the callback with its interval.
  void replay(int frames, int rateHz);

  UMockdevTestbed* testbed = nullptr;
  std::unique_ptr<HIDMonitor> monitor;
  std::mutex mutex;
  std::vector<Clock::time_point> reports;
};

}  // namespace

TEST_F(UmockdevTest, ListsTheUsbMouseWithItsPropertiesAndIgnoresTheKeyboard) {
  addFile("usb-keyboard.umockdev");
  addFile("usb-mouse.umockdev");
  startMonitor();
  ASSERT_TRUE(eventually([&] { return deviceCount() >= 1; }));
  const auto devices = monitor->getMouseDevices();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].product, "Pro Mouse");
  EXPECT_EQ(devices[0].manufacturer, "Acme");
  EXPECT_EQ(devices[0].transport, "USB");
  EXPECT_EQ(devices[0].vendorId, 0x1234);
  EXPECT_EQ(devices[0].productId, 0xABCD);
  EXPECT_EQ(devices[0].reportIntervalUs, 1000);
  EXPECT_TRUE(devices[0].opened);
  EXPECT_EQ(monitor->getSelectedDeviceIndex(), 0);
  EXPECT_EQ(monitor->getLastError().status, HIDStatus::Ok);
}

TEST_F(UmockdevTest, MouseWithoutUdevPropertiesIsFoundByItsCapabilities) {
  addFile("ps2-mouse.umockdev");
  startMonitor();
  ASSERT_TRUE(eventually([&] { return deviceCount() >= 1; }));
  const HIDDeviceInfo mouse = monitor->getMouseDevices()[0];
  EXPECT_EQ(mouse.displayName(), "PS/2 Generic Mouse [PS/2]");
  EXPECT_EQ(mouse.reportIntervalUs, 0);
}

// The kernel's buffer overflowed: the frame in progress is lost, the mouse's
// drop count says so, and the frames around it still arrive.
TEST_F(UmockdevTest, SynDroppedOnTheNodeIsCountedForItsMouse) {
  addFile("usb-mouse.umockdev");
  startMonitor(/*monitoring=*/true);
  ASSERT_TRUE(eventually([&] { return deviceCount() == 1; }));
  const int node = umockdev_testbed_get_dev_fd(testbed, "/dev/input/event7");
  ASSERT_GE(node, 0);
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const int64_t us = now.tv_sec * 1000000LL + now.tv_nsec / 1000;
  const input_event events[] = {
      ev(EV_REL, REL_X, 1, us),        ev(EV_SYN, SYN_REPORT, 0, us),
      ev(EV_REL, REL_X, 1, us + 1000), ev(EV_SYN, SYN_DROPPED, 0, us + 1000),
      ev(EV_REL, REL_Y, 1, us + 2000), ev(EV_SYN, SYN_REPORT, 0, us + 2000),
      ev(EV_REL, REL_X, 1, us + 3000), ev(EV_SYN, SYN_REPORT, 0, us + 3000)};
  ASSERT_EQ(write(node, events, sizeof events), static_cast<ssize_t>(sizeof events));
  ASSERT_TRUE(eventually([&] { return monitor->getMouseDevices()[0].droppedReports == 1; }));
  ASSERT_TRUE(eventually([&] { return reportCount() == 2; })) << reportCount() << " reports";
  EXPECT_EQ(monitor->getLastError().status, HIDStatus::Ok);
}

// udev's event socket cannot be made (here: every name the testbed would
// bind it to is taken), so no arrival or removal would ever be seen: the
// banner must say so.
TEST_F(UmockdevTest, AUdevMonitorThatCannotBeCreatedIsAManagerError) {
  addFile("usb-mouse.umockdev");
  gchar* root = umockdev_testbed_get_root_dir(testbed);
  const std::string rootDir = root;
  g_free(root);
  for (int fd = 0; fd < 1024; ++fd)
    ASSERT_EQ(mkdir((rootDir + "/event" + std::to_string(fd)).c_str(), 0755), 0);
  startMonitor();
  EXPECT_EQ(monitor->getLastError().status, HIDStatus::ManagerError)
      << monitor->getLastError().message;
}

void UmockdevTest::replay(int frames, int rateHz) {
  addFile("usb-mouse.umockdev");
  GError* error = nullptr;
  const std::string events = writeMotionEvents(frames, rateHz);
  ASSERT_TRUE(
      umockdev_testbed_load_evemu_events(testbed, "/dev/input/event7", events.c_str(), &error))
      << (error ? error->message : "");
  std::remove(events.c_str());  // loaded into the testbed's script by now
  startMonitor(/*monitoring=*/true);
  ASSERT_TRUE(eventually([&] { return reportCount() >= static_cast<size_t>(frames); }))
      << reportCount() << " reports";
  monitor->stop();
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(reports.size(), static_cast<size_t>(frames));
  const double intervalUs = 1e6 / rateHz;
  for (size_t i = 1; i < reports.size(); ++i) {
    const auto us = std::chrono::duration<double, std::micro>(reports[i] - reports[i - 1]).count();
    EXPECT_NEAR(us, intervalUs, 5.0) << "interval " << i;
  }
  // Realtime stamps moved to the steady clock land near the present.
  EXPECT_LT(std::chrono::abs(reports.front() - Clock::now()), std::chrono::seconds(30));
  EXPECT_EQ(monitor->getMouseDevices().size(), 0u);
}

TEST_F(UmockdevTest, ReplayedThousandHertzStreamReachesTheCallback) { replay(200, 1000); }

TEST_F(UmockdevTest, ReplayedEightThousandHertzStreamReachesTheCallback) { replay(800, 8000); }

TEST_F(UmockdevTest, HotplugUpdatesTheListAndTheSelection) {
  startMonitor();
  EXPECT_EQ(monitor->getSelectedDeviceIndex(), -1);
  addFile("usb-mouse.umockdev");
  umockdev_testbed_uevent(testbed, kMouseSyspath, "add");
  ASSERT_TRUE(eventually([&] { return deviceCount() == 1; }));
  EXPECT_EQ(monitor->getSelectedDeviceIndex(), 0);

  addFile("ps2-mouse.umockdev");
  umockdev_testbed_uevent(testbed, "/sys/devices/platform/i8042/serio1/input/input3/event3", "add");
  ASSERT_TRUE(eventually([&] { return deviceCount() == 2; }));
  monitor->setSelectedDeviceIndex(1);

  umockdev_testbed_uevent(testbed, kMouseSyspath, "remove");
  ASSERT_TRUE(eventually([&] { return deviceCount() == 1; }));
  EXPECT_EQ(monitor->getSelectedDeviceIndex(), 0);
  EXPECT_EQ(monitor->getMouseDevices()[0].transport, "PS/2");
}

// Any package install may run `udevadm trigger`: the mouse under test, open
// and delivering, keeps its entry, the user's choice and every report.
TEST_F(UmockdevTest, AChangeEventLeavesAnOpenMouseItsSelectionAndItsReports) {
  constexpr const char* kPs2Syspath = "/sys/devices/platform/i8042/serio1/input/input3/event3";
  constexpr int kFrames = 1500;
  addFile("usb-mouse.umockdev");
  addFile("ps2-mouse.umockdev");
  startMonitor(/*monitoring=*/true);
  ASSERT_TRUE(eventually([&] { return deviceCount() == 2; }));
  const std::vector<HIDDeviceInfo> before = monitor->getMouseDevices();
  ASSERT_EQ(before[1].transport, "PS/2");
  ASSERT_TRUE(before[1].opened);
  monitor->setSelectedDeviceIndex(1);  // not the automatic choice

  // The PS/2 mouse moves at 1000 Hz, frames written into its node as they happen.
  const int node = umockdev_testbed_get_dev_fd(testbed, "/dev/input/event3");
  ASSERT_GE(node, 0);
  std::thread mouse([node] {
    for (int i = 0; i < kFrames; ++i) {
      timespec now{};
      clock_gettime(CLOCK_REALTIME, &now);
      const int64_t us = now.tv_sec * 1000000LL + now.tv_nsec / 1000;
      const input_event frame[] = {ev(EV_REL, REL_X, 1, us), ev(EV_REL, REL_Y, -1, us),
                                   ev(EV_SYN, SYN_REPORT, 0, us)};
      if (write(node, frame, sizeof frame) != static_cast<ssize_t>(sizeof frame)) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const bool flowing = eventually([&] { return reportCount() >= kFrames / 4; });
  umockdev_testbed_uevent(testbed, kPs2Syspath, "change");
  // Give the change time to be handled; a mouse that was offered afresh
  // shows as a new entry at once.
  const auto settle = Clock::now() + std::chrono::milliseconds(500);
  while (Clock::now() < settle && monitor->getMouseDevices()[1].device == before[1].device) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  mouse.join();
  ASSERT_TRUE(flowing);

  EXPECT_TRUE(eventually([&] { return reportCount() >= static_cast<size_t>(kFrames); }))
      << reportCount() << " of " << kFrames << " reports";
  const std::vector<HIDDeviceInfo> after = monitor->getMouseDevices();
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].device, before[0].device);
  EXPECT_EQ(after[1].device, before[1].device);
  EXPECT_EQ(monitor->getSelectedDeviceIndex(), 1);
  EXPECT_EQ(reportCount(), static_cast<size_t>(kFrames));
}

TEST_F(UmockdevTest, HotplugLoopLeavesNothingBehind) {
  startMonitor();
  addFile("usb-mouse.umockdev");
  for (int i = 0; i < 200; ++i) {
    umockdev_testbed_uevent(testbed, kMouseSyspath, "add");
    ASSERT_TRUE(eventually([&] { return deviceCount() == 1; })) << i;
    umockdev_testbed_uevent(testbed, kMouseSyspath, "remove");
    ASSERT_TRUE(eventually([&] { return deviceCount() == 0; })) << i;
  }
  EXPECT_EQ(monitor->getSelectedDeviceIndex(), -1);
}

TEST_F(UmockdevTest, UnreadableNodeGivesAPermissionRecord) {
  addFile("usb-mouse.umockdev");
  hidservice::LinuxHIDService service;
  EXPECT_EQ(service.checkAccess(), PermissionStatus::Granted);
  const std::string node = devPath("/dev/input/event7");
  ASSERT_EQ(chmod(node.c_str(), 0), 0);
  WithoutFileOverride unprivileged;
  if (readable(node)) GTEST_SKIP() << kReadsAnyFile;
  EXPECT_EQ(service.checkAccess(), PermissionStatus::Denied);
  startMonitor();
  ASSERT_TRUE(eventually([&] { return deviceCount() == 1; }));
  EXPECT_FALSE(monitor->getMouseDevices()[0].opened);
  const HIDError error = monitor->getLastError();
  EXPECT_EQ(error.status, HIDStatus::PermissionDenied);
  EXPECT_EQ(error.code, EACCES);
  EXPECT_EQ(error.message, "open /dev/input/event7 failed: EACCES（没有读取权限）");

  // Access granted and `udevadm trigger` run: the change event reopens it.
  ASSERT_EQ(chmod(node.c_str(), 0644), 0);
  umockdev_testbed_uevent(testbed, kMouseSyspath, "change");
  ASSERT_TRUE(eventually([&] {
    const auto devices = monitor->getMouseDevices();
    return devices.size() == 1 && devices[0].opened;
  }));
  EXPECT_EQ(monitor->getLastError().status, HIDStatus::Ok);
  EXPECT_EQ(service.checkAccess(), PermissionStatus::Granted);
}

TEST_F(UmockdevTest, MonitorPermissionCallsAskAfresh) {
  addFile("usb-mouse.umockdev");
  EXPECT_EQ(HIDMonitor::permissionStatus(), PermissionStatus::Granted);
  EXPECT_TRUE(HIDMonitor::requestPermission());
  const std::string node = devPath("/dev/input/event7");
  ASSERT_EQ(chmod(node.c_str(), 0), 0);
  WithoutFileOverride unprivileged;
  if (readable(node)) GTEST_SKIP() << kReadsAnyFile;
  EXPECT_EQ(HIDMonitor::permissionStatus(), PermissionStatus::Denied);
  EXPECT_FALSE(HIDMonitor::requestPermission());
}

TEST_F(UmockdevTest, NoMouseMeansThePermissionIsUnknown) {
  addFile("usb-keyboard.umockdev");
  EXPECT_EQ(hidservice::LinuxHIDService().checkAccess(), PermissionStatus::Unknown);
}

// A laptop's own pointing devices are listed but rank below any mouse that
// was plugged in or paired, whatever the order of arrival.
TEST_F(UmockdevTest, BuiltInPointersRankBelowUsbAndBluetoothMice) {
  addFile("i2c-touchpad.umockdev");
  addFile("ps2-mouse.umockdev");
  startMonitor();
  ASSERT_TRUE(eventually([&] { return deviceCount() == 2; }));
  for (const HIDDeviceInfo& d : monitor->getMouseDevices()) {
    EXPECT_EQ(d.priority, -500) << d.displayName();
  }
  const auto selectedName = [&] {
    const int i = monitor->getSelectedDeviceIndex();
    return i < 0 ? std::string() : monitor->getMouseDevices().at(i).displayName();
  };
  EXPECT_EQ(selectedName(), "SYNA2B31:00 06CB:CE7D Touchpad [I2C]");

  addFile("bluetooth-mouse.umockdev");
  umockdev_testbed_uevent(testbed, kBluetoothSyspath, "add");
  ASSERT_TRUE(eventually([&] { return deviceCount() == 3; }));
  EXPECT_EQ(selectedName(), "Acme Travel Mouse [Bluetooth]");

  addFile("usb-mouse.umockdev");
  umockdev_testbed_uevent(testbed, kMouseSyspath, "add");
  ASSERT_TRUE(eventually([&] { return deviceCount() == 4; }));
  EXPECT_EQ(selectedName(), "Acme Travel Mouse [Bluetooth]");  // equal rank: the earlier one

  umockdev_testbed_uevent(testbed, kBluetoothSyspath, "remove");
  ASSERT_TRUE(eventually([&] { return deviceCount() == 3; }));
  EXPECT_EQ(selectedName(), "Acme Pro Mouse [USB]");
  EXPECT_EQ(monitor->getMouseDevices().at(monitor->getSelectedDeviceIndex()).priority, 0);
}
