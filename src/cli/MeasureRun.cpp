#include "cli/MeasureRun.h"

#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

#include "analysis/PollingAnalyzer.h"
#include "cli/DeviceListing.h"
#include "cli/Summary.h"
#include "hid/HIDMonitor.h"
#include "results/IntervalPlot.h"
#include "results/IntervalsCsv.h"
#include "results/ResultJson.h"
#include "results/StampRecorder.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The window's frame period: the analyzer is advanced as often as there.
constexpr auto kUpdatePeriod = std::chrono::microseconds(16'667);
constexpr auto kLiveLinePeriod = 100ms;
constexpr auto kFirstReportPoll = 5ms;

constexpr const char* kAccessHint =
    "提示：安装 udev 规则 70-quillmark.rules（给鼠标的 event 节点加 uaccess 标记）或把用户加入 "
    "input 组，然后重新插拔鼠标或运行 udevadm trigger，再试一次。\n";

bool stopRequested(const Console& c) { return c.stopRequested && c.stopRequested(); }

double secondsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Everything the report path feeds, and the device the test is about.
struct Session {
  explicit Session(HIDMonitor& m) : monitor(m) {}
  HIDMonitor& monitor;
  PollingAnalyzer analyzer;
  results::StampRecorder recorder;
  HIDDeviceInfo device;
};

void printDeviceMissing(const Console& c, const std::string& wanted,
                        const std::vector<HIDDeviceInfo>& devices, int autoChoice) {
  if (devices.empty()) {
    std::fputs("没有找到鼠标。\n", c.err);
    return;
  }
  if (wanted.empty()) {
    std::fputs("没有可以自动选择的鼠标。\n", c.err);
  } else {
    std::fprintf(c.err, "找不到设备「%s」。现有的鼠标：\n", wanted.c_str());
  }
  std::fputs(deviceTable(devices, autoChoice).c_str(), c.err);
}

// Picks the mouse; an exit status when it cannot be measured.
std::optional<int> selectDevice(Session& s, const MeasureOptions& o, const Console& c) {
  s.monitor.waitForHidThread();
  const std::vector<HIDDeviceInfo> devices = s.monitor.getMouseDevices();
  const int autoChoice = s.monitor.getSelectedDeviceIndex();
  const std::optional<int> index = chooseDevice(o.device, devices, autoChoice);
  if (!index) {
    printDeviceMissing(c, o.device, devices, autoChoice);
    return kExitNoMouse;
  }
  s.device = devices[static_cast<std::size_t>(*index)];
  if (!s.device.opened) {
    std::fprintf(c.err, "无法读取 %s：%s\n", s.device.displayName().c_str(),
                 s.device.openError.message.c_str());
    if (s.device.openError.status == HIDStatus::PermissionDenied) std::fputs(kAccessHint, c.err);
    return kExitNoAccess;
  }
  s.monitor.setSelectedDeviceIndex(*index);
  return std::nullopt;
}

// The stamp of the first report, or nullopt after the wait or a stop.
std::optional<Clock::time_point> awaitFirstReport(Session& s, const MeasureOptions& o,
                                                  const Console& c) {
  std::fprintf(c.err, "正在测量 %s，请移动鼠标…\n", s.device.displayName().c_str());
  std::fflush(c.err);
  const Clock::time_point deadline =
      Clock::now() +
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.waitSeconds));
  while (s.recorder.count() == 0) {
    if (stopRequested(c)) {
      std::fputs("测试在收到第一个报告之前被中断。\n", c.err);
      return std::nullopt;
    }
    if (Clock::now() >= deadline) {
      std::fprintf(c.err,
                   "%.0f 秒内没有收到 %s 的报告：鼠标只在移动时发送报告，请在测试开始后移动它。\n",
                   o.waitSeconds, s.device.displayName().c_str());
      return std::nullopt;
    }
    std::this_thread::sleep_for(kFirstReportPoll);
  }
  return Clock::time_point(std::chrono::nanoseconds(s.recorder.snapshot()[0]));
}

void showLiveLine(Session& s, const Console& c, double elapsed, double total) {
  const PollingStats stats = s.analyzer.getStats();
  std::fprintf(
      c.err, "\r%s\033[K",
      liveLineText(stats.currentHz, stats.reportCount, elapsed, total, stats.kernelDrops).c_str());
  std::fflush(c.err);
}

// Runs until the time is up or a stop; true when stopped early.
bool runTest(Session& s, const MeasureOptions& o, const Console& c, Clock::time_point first) {
  const auto length =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
  const Clock::time_point end = first + length;
  Clock::time_point nextLine = Clock::now();
  Clock::time_point tick = Clock::now();
  bool stopped = false;
  while (Clock::now() < end) {
    if (stopRequested(c)) {
      stopped = true;
      break;
    }
    s.analyzer.update();
    if (c.liveLine && Clock::now() >= nextLine) {
      showLiveLine(s, c, std::min(secondsBetween(first, Clock::now()), o.seconds), o.seconds);
      nextLine += kLiveLinePeriod;
    }
    tick += kUpdatePeriod;
    std::this_thread::sleep_until(std::min(tick, end));
  }
  if (c.liveLine) std::fputs("\r\033[K", c.err);
  return stopped;
}

results::TestRecord makeRecord(Session& s, const MeasureOptions& o, Clock::time_point first,
                               bool stopped) {
  results::TestRecord r;
  const HIDDeviceInfo& d = s.device;
  r.device = {d.displayName(), d.product,   d.manufacturer,     d.transport,
              d.vendorId,      d.productId, d.reportIntervalUs, d.node};
  r.start = results::wallTimeOf(first);
  r.durationSeconds = std::min(secondsBetween(first, Clock::now()), o.seconds);
  r.end = stopped ? results::TestEnd::Interrupted : results::TestEnd::Completed;
  r.stats = s.analyzer.getStats();
  r.targetHz = o.targetHz.value_or(results::nearestTargetHz(r.stats.baselineHz));
  r.stamps = s.recorder.snapshot();
  r.stampLimit = s.recorder.limit();
  return r;
}

// Prints the summary (text or JSON) and writes the files asked for.
int report(const results::TestRecord& r, const MeasureOptions& o, const Console& c) {
  const std::string text = o.json ? results::resultJson(r) : summaryText(r);
  std::fputs(text.c_str(), c.out);
  std::fflush(c.out);
  int status = kExitOk;
  const auto note = [&](const results::WriteResult& w, const std::string& path) {
    if (w) {
      std::fprintf(c.err, "已写入 %s\n", path.c_str());
    } else {
      std::fprintf(c.err, "%s\n", w.error.c_str());
      status = kExitFileError;
    }
  };
  if (!o.intervalsPath.empty())
    note(results::writeIntervalsCsv(r, o.intervalsPath), o.intervalsPath);
  if (!o.plotPath.empty()) note(results::writeIntervalPlot(r, o.plotPath), o.plotPath);
  if (r.stamps.truncated()) {
    std::fprintf(c.err, "间隔文件只保留了前 %zu 个报告。\n", r.stampLimit);
  }
  return status;
}

int measureStarted(Session& s, const MeasureOptions& o, const Console& c) {
  if (const std::optional<int> status = selectDevice(s, o, c)) return *status;
  s.analyzer.reset();
  s.recorder.reset();
  s.monitor.setMonitoring(true);
  const std::optional<Clock::time_point> first = awaitFirstReport(s, o, c);
  if (!first) return kExitNoReports;
  const bool stopped = runTest(s, o, c, *first);
  s.monitor.setMonitoring(false);
  s.analyzer.update();
  return report(makeRecord(s, o, *first, stopped), o, c);
}

}  // namespace

int runMeasure(const MeasureOptions& options, HIDMonitor& monitor, const Console& console) {
  Session session(monitor);
  monitor.setReportCallback([&session](Clock::time_point t) {
    session.analyzer.addTimestamp(t);
    session.recorder.add(t);
  });
  monitor.setKernelDropCallback([&session] { session.analyzer.noteKernelDrop(); });
  try {
    monitor.start();
  } catch (const std::system_error& e) {
    std::fprintf(console.err, "[HID] 无法启动 HID 线程：%s\n", e.what());
    return kExitNoMouse;
  }
  if (console.hidThreadStarted) console.hidThreadStarted();
  const int status = measureStarted(session, options, console);
  // The HID thread feeds the session: it ends before the session goes.
  monitor.stop();
  return status;
}

}  // namespace cli
