// measure in this process on the virtual service, where the test can pull
// the measured mouse out in the middle of a test.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "QuillmarkProcess.h"
#include "cli/MeasureRun.h"
#include "hid/HIDMonitor.h"
#include "hid/service/VirtualHIDService.h"

namespace fs = std::filesystem;

TEST(MeasureRunTest, AMouseUnpluggedMidTestEndsItWithoutTakingAnotherMouse) {
  auto service = std::make_shared<hidservice::VirtualHIDService>(
      std::vector<hidservice::VirtualMouseRate>{{1000, 0}, {8000, 0}});
  HIDMonitor monitor(service);
  const fs::path dir =
      fs::path(::testing::TempDir()) / ("quillmark-unplug-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string errPath = (dir / "err").string();
  cli::Console console;
  console.out = std::fopen((dir / "out").c_str(), "w");
  console.err = std::fopen(errPath.c_str(), "w");
  cli::MeasureOptions options;
  options.device = "8000 Hz";
  options.seconds = 30;
  options.json = true;

  std::thread unplug([&] {
    while (readFile(errPath).find("请移动鼠标") == std::string::npos) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (const HIDDeviceInfo& d : monitor.getMouseDevices()) {
      if (d.product == "虚拟鼠标 8000 Hz") {
        service->removeDevice(static_cast<hidservice::VirtualDevice*>(d.device));
      }
    }
  });
  const int status = cli::runMeasure(options, monitor, console);
  unplug.join();
  std::fclose(console.out);
  std::fclose(console.err);

  EXPECT_EQ(status, 4);
  const auto j = nlohmann::json::parse(readFile((dir / "out").string()));
  EXPECT_EQ(j["test"]["ended"], "device_lost");
  EXPECT_LT(j["test"]["duration_s"].get<double>(), 10.0);
  // Only the 8000 Hz mouse's reports: none of the 1000 Hz one it gave way to.
  EXPECT_NEAR(j["interval"]["baseline_us"].get<double>(), 125.0, 1.0);
  EXPECT_LT(j["interval"]["anomaly_count"].get<int>(), 5);
  EXPECT_NE(readFile(errPath).find("在测试中断开"), std::string::npos);
  fs::remove_all(dir);
}
