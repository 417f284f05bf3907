// measure in this process on the virtual service, where the test can pull
// the measured mouse out in the middle of a test.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include <sys/stat.h>

#include "QuillmarkProcess.h"
#include "cli/MeasureRun.h"
#include "hid/HIDMonitor.h"
#include "hid/service/ErrnoResult.h"
#include "hid/service/VirtualHIDService.h"

namespace fs = std::filesystem;

namespace {

struct MeasureOutcome {
  int status = -1;
  nlohmann::json result;
  std::string console;
};

using Meddler = std::function<void(hidservice::VirtualHIDService&, HIDMonitor&)>;

struct Extras {
  std::string device = "8000 Hz";
  std::function<void(hidservice::VirtualHIDService&)> before;  // adds mice
  std::string plotPath;
};

// Measures the 8000 Hz one of a 1000 Hz and an 8000 Hz virtual mouse (or the
// mouse named in `extras` that its `before` adds) for `seconds`; `during`
// runs 0.5 s into the test, on another thread.
MeasureOutcome measureWhile(double seconds, const Meddler& during, const Extras& extras = {}) {
  auto service = std::make_shared<hidservice::VirtualHIDService>(
      std::vector<hidservice::VirtualMouseRate>{{1000, 0}, {8000, 0}});
  if (extras.before) extras.before(*service);
  HIDMonitor monitor(service);
  const TempDir tmp;
  const fs::path dir{tmp.path()};
  const std::string errPath = (dir / "err").string();
  cli::Console console;
  console.out = std::fopen((dir / "out").c_str(), "w");
  console.err = std::fopen(errPath.c_str(), "w");
  cli::MeasureOptions options;
  options.device = extras.device;
  options.plotPath = extras.plotPath;
  options.seconds = seconds;
  options.json = true;

  std::thread meddler([&] {
    while (readFile(errPath).find("请移动鼠标") == std::string::npos) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    during(*service, monitor);
  });
  MeasureOutcome outcome;
  outcome.status = cli::runMeasure(options, monitor, console);
  meddler.join();
  std::fclose(console.out);
  std::fclose(console.err);
  outcome.result = nlohmann::json::parse(readFile((dir / "out").string()));
  outcome.console = readFile(errPath);
  return outcome;
}

}  // namespace

const Meddler kUnplug = [](hidservice::VirtualHIDService& service, HIDMonitor& monitor) {
  for (const HIDDeviceInfo& d : monitor.getMouseDevices()) {
    if (d.product == "虚拟鼠标 8000 Hz") {
      service.removeDevice(static_cast<hidservice::VirtualDevice*>(d.device));
    }
  }
};

TEST(MeasureRunTest, AMouseUnpluggedMidTestEndsItWithoutTakingAnotherMouse) {
  const MeasureOutcome m = measureWhile(30, kUnplug);
  EXPECT_EQ(m.status, 4);
  EXPECT_EQ(m.result["test"]["ended"], "device_lost");
  EXPECT_LT(m.result["test"]["duration_s"].get<double>(), 10.0);
  // Only the 8000 Hz mouse's reports: none of the 1000 Hz one it gave way to.
  EXPECT_NEAR(m.result["interval"]["baseline_us"].get<double>(), 125.0, 1.0);
  EXPECT_LT(m.result["interval"]["anomaly_count"].get<int>(), 5);
  EXPECT_NE(m.console.find("在测试中断开"), std::string::npos);
}

// The plot goes to a FIFO nobody reads (it passes the check before the test,
// its write fails after): the status says the file was lost, the summary
// how the test ended.
TEST(MeasureRunTest, AFileNotWrittenIsNotHiddenByAnUnplug) {
  const TempDir tmp;
  const std::string fifo = tmp.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const MeasureOutcome m = measureWhile(30, kUnplug, {"8000 Hz", {}, fifo});
  EXPECT_EQ(m.status, 1);
  EXPECT_EQ(m.result["test"]["ended"], "device_lost");
  EXPECT_NE(m.console.find("ENXIO"), std::string::npos) << m.console;
}

// An arrival makes the window's automatic choice again; the terminal's test
// stays with the mouse it measures.
TEST(MeasureRunTest, AMousePluggedInMidTestDoesNotEndItNorJoinIt) {
  const MeasureOutcome m = measureWhile(2, [](hidservice::VirtualHIDService& service, HIDMonitor&) {
    hidservice::VirtualDeviceSetup setup;
    setup.properties.product = "Plugged Mouse";
    service.addDevice(setup);
    service.sync();
  });
  EXPECT_EQ(m.status, 0) << m.console;
  EXPECT_EQ(m.result["test"]["ended"], "completed");
  EXPECT_EQ(m.result["reports"]["count"].get<int>(), 16000);
  EXPECT_NEAR(m.result["interval"]["baseline_us"].get<double>(), 125.0, 1.0);
}

static hidservice::VirtualDevice* mouseNamed(HIDMonitor& monitor, const std::string& product) {
  for (const HIDDeviceInfo& d : monitor.getMouseDevices()) {
    if (d.product == product) return static_cast<hidservice::VirtualDevice*>(d.device);
  }
  return nullptr;
}

TEST(MeasureRunTest, AReadErrorEndsTheTestAsADeviceErrorWithItsOwnStatus) {
  const MeasureOutcome m =
      measureWhile(30, [](hidservice::VirtualHIDService& service, HIDMonitor& monitor) {
        service.deliverReport(mouseNamed(monitor, "虚拟鼠标 8000 Hz"),
                              hidservice::errnoResult("read /dev/input/event9", EIO),
                              service.hostTime());
      });
  EXPECT_EQ(m.status, 7);
  EXPECT_EQ(m.result["test"]["ended"], "device_error");
  EXPECT_NE(m.result["test"]["error"].get<std::string>().find("read /dev/input/event9 failed: EIO"),
            std::string::npos);
  EXPECT_LT(m.result["test"]["duration_s"].get<double>(), 10.0);
  EXPECT_NE(m.console.find("出错，测试提前结束"), std::string::npos) << m.console;
}

// The kernel lost reports of the mouse before the test's first one: they
// were not the test's.
TEST(MeasureRunTest, AKernelDropBeforeTheFirstReportIsNotTheTests) {
  hidservice::VirtualDevice* mouse = nullptr;
  const MeasureOutcome m = measureWhile(
      0.5,
      [&mouse](hidservice::VirtualHIDService& service, HIDMonitor&) {
        service.deliverReport(mouse,
                              hidservice::Result::failure(hidservice::ResultKind::Overrun, 0, ""),
                              service.hostTime());
        // Then a report every millisecond, stamped as it is sent, past the end.
        for (int i = 0; i < 700; ++i) {
          service.deliverReport(mouse, hidservice::successResult(), service.hostTime());
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
      },
      {"Hand Mouse",
       [&mouse](hidservice::VirtualHIDService& service) {
         hidservice::VirtualDeviceSetup setup;
         setup.properties.product = "Hand Mouse";
         mouse = service.addDevice(setup);
       },
       ""});
  EXPECT_EQ(m.status, 0) << m.console;
  EXPECT_GT(m.result["reports"]["count"].get<int>(), 100);
  EXPECT_EQ(m.result["reports"]["kernel_drops"].get<int>(), 0);
}
