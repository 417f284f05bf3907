// The terminal commands on the real udev + evdev path, mocked by umockdev
// (the test runs with its preload library): a mock USB mouse whose node
// receives generated motion frames, each written at its stamp's instant.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <umockdev.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "QuillmarkProcess.h"
#include "cli/Cli.h"
#include "hid/EvdevEvents.h"
#include "hid/HIDMonitor.h"
#include "hid/WithoutFileOverride.h"

namespace fs = std::filesystem;
using nlohmann::json;

// The preload library comes before the sanitizer runtime; that is fine here.
extern "C" const char* __asan_default_options() { return "verify_asan_link_order=0"; }

namespace {

constexpr const char* kNode = "/dev/input/event7";

int64_t realtimeUs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return ts.tv_sec * 1'000'000LL + ts.tv_nsec / 1000;
}

// One frame to write: when (µs after the stream's start) and its motion; a
// frame with `dropped` set is the kernel's SYN_DROPPED instead.
struct Frame {
  int64_t us = 0;
  int dx = 1, dy = -1;
  bool dropped = false;
  std::vector<std::pair<uint16_t, int32_t>> keys = {};  // EV_KEY code and value
};

// The frames of an evemu recording, with its stamps from the first event on.
std::vector<Frame> evemuFrames(const std::string& text) {
  std::vector<Frame> out;
  Frame frame{0, 0, 0};
  int64_t first = -1;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    long sec = 0, usec = 0;
    unsigned type = 0, code = 0;
    int value = 0;
    if (std::sscanf(line.c_str(), "E: %ld.%ld %x %x %d", &sec, &usec, &type, &code, &value) != 5)
      continue;
    const int64_t us = sec * 1'000'000 + usec;
    if (first < 0) first = us;
    if (type == EV_REL && code == REL_X) frame.dx += value;
    if (type == EV_KEY) frame.keys.emplace_back(code, value);
    if (type == EV_SYN && code == SYN_REPORT) {
      frame.us = us - first;
      out.push_back(frame);
      frame = Frame{0, 0, 0};
    }
  }
  return out;
}

// `frames` frames at rateHz, each moving one count on both axes.
std::vector<Frame> steadyFrames(int frames, int rateHz) {
  std::vector<Frame> out;
  for (int i = 0; i < frames; ++i) out.push_back({int64_t{i} * 1'000'000 / rateHz});
  return out;
}

// A sensor on an 8000 Hz grid that reports only in slots where a whole count
// has built up, moved at each stage's speed (counts/s) for its time (s).
std::vector<Frame> sensorFrames(const std::vector<std::pair<double, double>>& stages) {
  std::vector<Frame> out;
  double built = 0.0;
  int64_t slot = 0;
  for (const auto& [countsPerS, seconds] : stages) {
    for (const int64_t end = slot + std::llround(seconds * 8000); slot < end; ++slot) {
      built += countsPerS / 8000.0;
      if (built < 1.0) continue;
      const int dx = static_cast<int>(built);
      built -= dx;
      out.push_back({slot * 125, dx, 0});
    }
  }
  return out;
}

// Writes the frames into the mock node, each when the realtime clock reaches
// its stamp, so no stamp is stale or from the future.
void writeFramesOnTime(int fd, const std::vector<Frame>& frames) {
  const int64_t start = realtimeUs() + 20'000;
  for (std::size_t i = 0; i < frames.size();) {
    std::vector<input_event> batch;
    const int64_t now = realtimeUs();
    for (; i < frames.size(); ++i) {
      const int64_t us = start + frames[i].us;
      if (us > now) break;
      if (frames[i].dropped) {
        batch.push_back(ev(EV_SYN, SYN_DROPPED, 0, us));
        continue;
      }
      if (frames[i].dx != 0 || frames[i].keys.empty())
        batch.push_back(ev(EV_REL, REL_X, frames[i].dx, us));
      for (const auto& [code, value] : frames[i].keys) batch.push_back(ev(EV_KEY, code, value, us));
      if (frames[i].dy != 0) batch.push_back(ev(EV_REL, REL_Y, frames[i].dy, us));
      batch.push_back(ev(EV_SYN, SYN_REPORT, 0, us));
    }
    const auto bytes = batch.size() * sizeof(input_event);
    if (bytes > 0) {
      ASSERT_EQ(write(fd, batch.data(), bytes), static_cast<ssize_t>(bytes));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
}

struct Output {
  int status = -1;
  std::string out;
  std::string err;
};

class CliUmockdevTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "umockdev-preload") == nullptr) {
      GTEST_SKIP() << "needs LD_PRELOAD=libumockdev-preload.so.0 (ctest sets it)";
    }
    unsetenv("TAVO_VIRTUAL_MICE");
    testbed = umockdev_testbed_new();
    scratch =
        fs::path(::testing::TempDir()) / ("quillmark-cli-umockdev-" + std::to_string(getpid()));
    fs::create_directories(scratch);
  }
  void TearDown() override {
    if (testbed != nullptr) g_object_unref(testbed);
    fs::remove_all(scratch);
  }

  void addMouse() {
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_file(
        testbed, (std::string(QUILLMARK_HID_TEST_DATA) + "/usb-mouse.umockdev").c_str(), &error))
        << (error ? error->message : "");
  }

  // The same mouse on a high-speed link (bInterval 1: 125 us, 8000 Hz), below
  // an xHCI host controller and its root hub.
  void addHighSpeedMouse() {
    std::string description =
        readFile(std::string(QUILLMARK_HID_TEST_DATA) + "/usb-mouse.umockdev");
    description.replace(description.find("A: speed=12"), 11, "A: speed=480");
    description =
        "P: /devices/pci0000:00/0000:00:14.0\nE: SUBSYSTEM=pci\nE: DRIVER=xhci_hcd\n"
        "L: driver=../../../bus/pci/drivers/xhci_hcd\n\n"
        "P: /devices/pci0000:00/0000:00:14.0/usb1\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
        "A: speed=480\n\n" +
        description;
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_string(testbed, description.c_str(), &error))
        << (error ? error->message : "");
  }

  // Runs the command in this process, where the testbed is. `whileRunning`
  // gets the stderr file's path and runs beside it.
  template <typename Fn>
  Output runCli(std::vector<std::string> args, Fn&& whileRunning) {
    const std::string outPath = (scratch / "out").string();
    const std::string errPath = (scratch / "err").string();
    cli::Console console;
    console.out = std::fopen(outPath.c_str(), "w");
    console.err = std::fopen(errPath.c_str(), "w");
    args.insert(args.begin(), "quillmark");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    Output o;
    std::thread side([&] { whileRunning(errPath); });
    o.status = cli::run(static_cast<int>(argv.size()), argv.data(), console);
    side.join();
    std::fclose(console.out);
    std::fclose(console.err);
    o.out = readFile(outPath);
    o.err = readFile(errPath);
    return o;
  }
  Output runCli(std::vector<std::string> args) {
    return runCli(std::move(args), [](const std::string&) {});
  }

  // measure on a generated stream; the frames start once the test waits
  // for the first report.
  json measureStream(int frames, int rateHz, double seconds, const std::string& csv,
                     const std::string& option = "--json", int status = 0) {
    return measureFrames(steadyFrames(frames, rateHz), seconds, csv, option, status);
  }
  json measureFrames(const std::vector<Frame>& frames, double seconds, const std::string& csv,
                     const std::string& option = "--json", int status = 0) {
    const int fd = umockdev_testbed_get_dev_fd(testbed, kNode);
    EXPECT_GE(fd, 0);
    const Output o = runCli(
        {"measure", "--seconds", std::to_string(seconds), "--json", "--intervals", csv, option},
        [&](const std::string& errPath) {
          const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
          while (readFile(errPath).find("请移动鼠标") == std::string::npos &&
                 std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
          writeFramesOnTime(fd, frames);
        });
    EXPECT_EQ(o.status, status) << o.err;
    return json::parse(o.out);
  }

  UMockdevTestbed* testbed = nullptr;
  fs::path scratch;
};

}  // namespace

TEST_F(CliUmockdevTest, ListShowsTheMockMouseWithItsProperties) {
  addMouse();
  const Output text = runCli({"list"});
  ASSERT_EQ(text.status, 0) << text.err;
  for (const char* expected :
       {kNode, "1234:abcd", "USB", "1000 µs", "Acme Pro Mouse [USB]", "是"}) {
    EXPECT_NE(text.out.find(expected), std::string::npos) << expected << "\n" << text.out;
  }
  const Output j = runCli({"list", "--json"});
  ASSERT_EQ(j.status, 0) << j.err;
  const json doc = json::parse(j.out);
  ASSERT_EQ(doc["devices"].size(), 1u);
  EXPECT_EQ(doc["devices"][0]["node"], kNode);
  EXPECT_EQ(doc["devices"][0]["endpoint_interval_us"], 1000);
  EXPECT_EQ(doc["devices"][0]["readable"], true);
  EXPECT_EQ(doc["permission"], "Granted");
}

// The rate the host really polls at, read from a sysfs tree per row: the
// endpoint's bInterval at the bus's speed, usbhid's mousepoll below the host
// controller's driver, a PS/2 port's sample rate.
TEST_F(CliUmockdevTest, ListShowsTheRateTheHostPollsAt) {
  struct Row {
    const char* name;
    const char* speed;  // nullptr: the PS/2 mouse
    const char* bInterval;
    const char* hostDriver;
    const char* mousepoll;  // nullptr: usbhid not loaded
    const char* column;
    const char* note;  // nullptr: no note line
    double configuredHz, requestedHz;
    const char* reason;
  };
  const Row rows[] = {
      {"full speed, bInterval 10", "12", "0a", "xhci_hcd", nullptr, "125 Hz",
       "        设定回报率：125 Hz（主机按 2 的幂毫秒轮询；鼠标要求 100 Hz）\n", 125, 100,
       "interval_rounding"},
      {"full speed, bInterval 3", "12", "03", "xhci_hcd", "0", "500 Hz",
       "        设定回报率：500 Hz（主机按 2 的幂毫秒轮询；鼠标要求 333 Hz）\n", 500, 1e6 / 3000,
       "interval_rounding"},
      {"high speed, bInterval 1", "480", "01", "xhci_hcd", nullptr, "8000 Hz", nullptr, 8000, 8000,
       nullptr},
      {"mousepoll=8 below EHCI", "12", "01", "ehci-pci", "8", "125 Hz",
       "        设定回报率：125 Hz（内核 usbhid.mousepoll=8；鼠标要求 1000 Hz）\n", 125, 1000,
       "usbhid_mousepoll"},
      {"mousepoll=8 below xHCI", "12", "01", "xhci_hcd", "8", "1000 Hz", nullptr, 1000, 1000,
       nullptr},
      {"PS/2 at 100 reports a second", nullptr, nullptr, nullptr, nullptr, "100 Hz", nullptr, 100,
       0, "ps2_sample_rate"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    g_object_unref(testbed);
    testbed = umockdev_testbed_new();
    std::string description;
    if (r.speed == nullptr) {
      description = "P: /devices/platform/i8042/serio1\nE: SUBSYSTEM=serio\nA: rate=100\n\n" +
                    readFile(std::string(QUILLMARK_HID_TEST_DATA) + "/ps2-mouse.umockdev");
    } else {
      description = readFile(std::string(QUILLMARK_HID_TEST_DATA) + "/usb-mouse.umockdev");
      description.replace(description.find("A: speed=12"), 11, std::string("A: speed=") + r.speed);
      description.replace(description.find("A: bInterval=01"), 15,
                          std::string("A: bInterval=") + r.bInterval);
      description = std::string("P: /devices/pci0000:00/0000:00:14.0\nE: SUBSYSTEM=pci\n") +
                    "L: driver=../../../bus/pci/drivers/" + r.hostDriver + "\n\n" + description;
    }
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_string(testbed, description.c_str(), &error))
        << (error ? error->message : "");
    if (r.mousepoll != nullptr) {
      gchar* root = umockdev_testbed_get_root_dir(testbed);
      const fs::path parameters = fs::path(root) / "sys/module/usbhid/parameters";
      g_free(root);
      fs::create_directories(parameters);
      writeFile(parameters / "mousepoll", std::string(r.mousepoll) + "\n");
    }

    const Output text = runCli({"list"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find(std::string(r.column) + " "), std::string::npos) << text.out;
    if (r.note != nullptr) {
      EXPECT_NE(text.out.find(std::string("\n") + r.note), std::string::npos) << text.out;
    } else {
      EXPECT_EQ(text.out.find("鼠标要求"), std::string::npos) << text.out;
    }
    const json device = json::parse(runCli({"list", "--json"}).out)["devices"][0];
    EXPECT_EQ(device["configured_hz"], r.configuredHz);
    if (r.requestedHz > 0) {
      EXPECT_NEAR(device["requested_hz"].get<double>(), r.requestedHz, 0.01);
    } else {
      EXPECT_TRUE(device["requested_hz"].is_null()) << device;
    }
    EXPECT_EQ(device["configured_reason"], r.reason ? json(r.reason) : json(nullptr));
  }
}

TEST_F(CliUmockdevTest, NoMouseIsExitStatus4) {
  EXPECT_EQ(runCli({"list"}).status, 4);
  const Output o = runCli({"measure"});
  EXPECT_EQ(o.status, 4);
  EXPECT_NE(o.err.find("没有找到鼠标"), std::string::npos) << o.err;
}

TEST_F(CliUmockdevTest, UnreadableNodeIsExplainedAndIsExitStatus3) {
  addMouse();
  gchar* root = umockdev_testbed_get_root_dir(testbed);
  const std::string node = std::string(root) + kNode;
  g_free(root);
  ASSERT_EQ(chmod(node.c_str(), 0), 0);
  WithoutFileOverride unprivileged;
  const int fd = open(node.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd >= 0) {
    close(fd);
    GTEST_SKIP() << "this process reads files whatever their mode";
  }
  // The reason is the HID layer's own record of the refused open.
  HIDMonitor monitor;
  monitor.start();
  monitor.waitForHIDThread();
  const std::string reason = monitor.getLastError().message;
  monitor.stop();
  ASSERT_FALSE(reason.empty());

  const Output list = runCli({"list"});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("无法读取：" + reason), std::string::npos) << list.out;
  const json doc = json::parse(runCli({"list", "--json"}).out);
  EXPECT_EQ(doc["devices"][0]["status"], "permission_denied");
  EXPECT_EQ(doc["devices"][0]["error"], reason);

  const Output measure = runCli({"measure", "--device", kNode});
  EXPECT_EQ(measure.status, 3);
  EXPECT_NE(measure.err.find(reason), std::string::npos) << measure.err;
  EXPECT_NE(measure.err.find("udev 规则"), std::string::npos) << measure.err;
}

TEST_F(CliUmockdevTest, SilentMouseIsExitStatus5) {
  addMouse();
  const Output o = runCli({"measure", "--wait", "0.3"});
  EXPECT_EQ(o.status, 5);
  EXPECT_NE(o.err.find("鼠标只在移动时发送报告"), std::string::npos) << o.err;
  EXPECT_TRUE(o.out.empty()) << o.out;
}

TEST_F(CliUmockdevTest, EightThousandHertzStreamIsCountedExactly) {
  addMouse();
  const std::string csv = (scratch / "8000.csv").string();
  const json j = measureStream(16'000, 8000, 2.5, csv);
  EXPECT_EQ(j["reports"]["count"], 16'000);
  EXPECT_EQ(j["reports"]["kernel_drops"], 0);
  EXPECT_NEAR(j["rate"]["avg_hz"].get<double>(), 8000.0, 0.8);
  EXPECT_NEAR(j["interval"]["baseline_hz"].get<double>(), 8000.0, 0.8);
  EXPECT_EQ(j["device"]["node"], kNode);
  const std::string lines = readFile(csv);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 16'001);
  EXPECT_NE(lines.find("\n125.000,125.000,1,-1,\n"), std::string::npos);  // the frames' motion
}

TEST_F(CliUmockdevTest, ThousandHertzStreamIsCountedExactly) {
  addMouse();
  const json j = measureStream(2'000, 1000, 2.5, (scratch / "1000.csv").string());
  EXPECT_EQ(j["reports"]["count"], 2'000);
  EXPECT_NEAR(j["rate"]["avg_hz"].get<double>(), 1000.0, 0.1);
  EXPECT_NEAR(j["interval"]["baseline_hz"].get<double>(), 1000.0, 0.1);
  EXPECT_EQ(j["target"]["hz"], 1000.0);
  EXPECT_EQ(j["device"]["configured_hz"], 1000.0);
  EXPECT_EQ(j["environment"]["usb_port_path"], "1-2");
  EXPECT_EQ(j["environment"]["bus_speed_mbps"], 12.0);
  EXPECT_EQ(j["environment"]["hub_depth"], 0);
}

// A mouse that asks for 8000 Hz and delivers 4000 reports of one count each:
// held against its own rate without any --target, but a hand at 4000 counts/s
// cannot show whether it reaches 8000 Hz.
TEST_F(CliUmockdevTest, HighSpeedMouseIsMeasuredAgainstTheRateItAsksFor) {
  addHighSpeedMouse();
  const Output list = runCli({"list"});
  EXPECT_NE(list.out.find("8000 Hz"), std::string::npos) << list.out;
  const json j = measureStream(4'000, 4000, 1.5, (scratch / "4000.csv").string(),
                               "--require-target", 6);  // the target was not reached
  EXPECT_EQ(j["device"]["configured_hz"], 8000.0);
  EXPECT_EQ(j["environment"]["host_controller_driver"], "xhci_hcd");
  EXPECT_EQ(j["environment"]["bus_speed_mbps"], 480.0);
  const json& target = j["whole_test"]["target"];
  EXPECT_EQ(target["source"], "configured");
  EXPECT_EQ(target["ratio"], nullptr);
  EXPECT_EQ(target["verdict"], "unknown");
  EXPECT_EQ(target["reason"], "手速不足以判断：需约 8000 counts/s");
  EXPECT_EQ(j["whole_test"]["moving_rate_hz"], 4000.0);
}

// Streams with known motion on a mouse that asks for 8000 Hz: each cause
// from a stream that has it, and a sweep from slow to fast whose rate reaches
// 8000 Hz at one count per slot, 8000 counts/s (in the band from 4096 or the
// next one up).
TEST_F(CliUmockdevTest, MotionTellsWhyTheRateFallsShort) {
  addHighSpeedMouse();
  std::vector<Frame> drops = sensorFrames({{24000, 1.0}});
  for (std::size_t i = 200; i + 30 < drops.size(); i += 400) {
    drops[i].dropped = true;
    drops.erase(drops.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                drops.begin() + static_cast<std::ptrdiff_t>(i) + 31);
  }
  std::vector<Frame> fiveCounts = steadyFrames(4000, 4000);
  for (Frame& f : fiveCounts) f.dx = 5;
  const struct {
    const char* name;
    std::vector<Frame> frames;
    const char* cause;
  } cases[] = {
      {"fast hand", sensorFrames({{24000, 1.0}}), "reached"},
      {"slow hand", sensorFrames({{2000, 1.0}}), "speed_limited"},
      {"mouse at 4000 Hz", fiveCounts, "device_limited"},
      {"kernel drops", drops, "kernel_drops"},
      // The slow stages hold the moving rate down, but where the hand allowed
      // 8000 Hz the mouse delivered it: the mouse is judged there.
      {"sweep",
       sensorFrames({{500, 0.4}, {1000, 0.4}, {2000, 0.4}, {4000, 0.4}, {8000, 0.4}, {16000, 0.4}}),
       "reached"},
  };
  for (const auto& c : cases) {
    const double seconds = c.frames.back().us / 1e6 + 0.5;
    const json j = measureFrames(c.frames, seconds, (scratch / "m.csv").string());
    EXPECT_EQ(j["whole_test"]["cause"]["kind"], c.cause) << c.name << "\n" << j["whole_test"];
    if (std::string(c.name) != "sweep") continue;
    const double saturation = j["whole_test"]["motion"]["saturation_counts_per_s"];
    EXPECT_TRUE(saturation == 4096 || saturation == 8192) << saturation;
  }
}

// A recorded mouse with clicks (bounces, autorepeat, two buttons at once,
// side buttons) replayed through the real node: `buttons` gives the figures
// and chatter that `analyze` reads from the same recording.
TEST_F(CliUmockdevTest, ButtonsOnTheReplayedRecordingAgreeWithAnalyze) {
  addMouse();
  const std::string file = std::string(QUILLMARK_RECORDINGS_DATA) + "/clicks.evemu";
  const int fd = umockdev_testbed_get_dev_fd(testbed, kNode);
  ASSERT_GE(fd, 0);
  const Output live = runCli({"buttons", "--seconds", "5", "--json"}, [&](const std::string& err) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (readFile(err).find("请点击") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    writeFramesOnTime(fd, evemuFrames(readFile(file)));
  });
  ASSERT_EQ(live.status, 0) << live.err;
  const Output analyzed = runCli({"analyze", file, "--json"});
  ASSERT_EQ(analyzed.status, 0) << analyzed.err;
  const json fromNode = json::parse(live.out);
  const json fromFile = json::parse(analyzed.out)["buttons"];
  // Counts exactly; times to 0.05 ms: the node's realtime stamps are moved
  // onto the monotonic clock by an offset measured once a second.
  const auto same = [](const json& a, const json& b) {
    for (const auto& [key, value] : a.items()) {
      if (key.ends_with("_ms") && value.is_number() && b[key].is_number()) {
        EXPECT_NEAR(value.get<double>(), b[key].get<double>(), 0.05) << key;
      } else {
        EXPECT_EQ(value, b[key]) << key;
      }
    }
  };
  ASSERT_EQ(fromNode["buttons"].size(), fromFile["buttons"].size());
  for (size_t i = 0; i < fromFile["buttons"].size(); ++i)
    same(fromNode["buttons"][i], fromFile["buttons"][i]);
  ASSERT_EQ(fromNode["chatter"].size(), 3u);
  ASSERT_EQ(fromFile["chatter"].size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    json node = fromNode["chatter"][i], file = fromFile["chatter"][i];
    node.erase("time_s");
    file.erase("time_s");
    same(node, file);
  }
  EXPECT_EQ(fromFile["buttons"][0]["presses"], 13);  // the autorepeat is no press
  EXPECT_EQ(fromFile["buttons"][0]["fastest_presses_per_s"], 11);
  EXPECT_EQ(fromFile["chatter"][1]["gap_ms"], 8.0);
}
