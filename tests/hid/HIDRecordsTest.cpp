// What the monitor's records say to the user: the name a mouse is listed
// under, the permission names of the console line, and the raw capture that
// a stop of the monitor writes out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "TestFiles.h"
#include "hid/HIDDeviceInfo.h"
#include "hid/HIDMonitor.h"
#include "hid/Permission.h"
#include "hid/service/VirtualHIDService.h"

namespace {

TEST(DeviceName, AManufacturerWithoutAProductIsNamedByItsIds) {
  HIDDeviceInfo d;
  d.manufacturer = "Acme";
  d.vendorId = 0x046d;
  d.productId = 0xc077;
  d.transport = "USB";
  EXPECT_EQ(d.displayName(), "VID:046d PID:c077 [USB]");
  d.transport.clear();
  EXPECT_EQ(d.displayName(), "VID:046d PID:c077");
}

TEST(PermissionNames, ValuesOutsideTheFourReadUnknown) {
  EXPECT_STREQ(permissionStatusName(static_cast<PermissionStatus>(4)), "Unknown");
  EXPECT_STREQ(permissionStatusName(static_cast<PermissionStatus>(-1)), "Unknown");
  EXPECT_STREQ(permissionStatusName(PermissionStatus::Denied), "Denied");
}

// The capture starts when a mouse arrives with TAVO_CAPTURE set (once per
// process) and is written out when the monitor stops, not before.
TEST(MonitorStop, EndsARunningCaptureAndWritesIt) {
  TempDir dir;
  const std::string file = dir.file("capture.csv");
  setenv("TAVO_CAPTURE", file.c_str(), 1);
  setenv("TAVO_CAPTURE_SECONDS", "120", 1);

  auto service = std::make_shared<hidservice::VirtualHIDService>();
  HIDMonitor monitor(service);
  monitor.setMonitoring(true);
  monitor.start();
  hidservice::VirtualDevice* mouse = service->addDevice({});
  service->sync();
  for (uint64_t t : {1'000'000u, 2'000'000u, 3'000'000u})
    service->deliverReport(mouse, hidservice::Result::success(), t);
  service->sync();
  EXPECT_EQ(access(file.c_str(), F_OK), -1) << "written only when the capture ends";

  testing::internal::CaptureStderr();
  monitor.stop();
  const std::string console = testing::internal::GetCapturedStderr();
  const std::string text = readFile(file);
  EXPECT_NE(text.find("# samples=3\n"), std::string::npos) << text;
  EXPECT_NE(console.find("[采集] 已写出 3 条报告"), std::string::npos) << console;
  unsetenv("TAVO_CAPTURE");
}

}  // namespace
