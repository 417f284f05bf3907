#include "cli/MeasureRun.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "analysis/MotionRules.h"
#include "analysis/PollingAnalyzer.h"
#include "analysis/PollingRules.h"
#include "cli/DeviceIdentityOf.h"
#include "cli/DeviceListing.h"
#include "cli/Summary.h"
#include "hid/HIDMonitor.h"
#include "i18n/Translate.h"
#include "results/IntervalPlot.h"
#include "results/IntervalsCsv.h"
#include "results/ResultJson.h"
#include "results/StampRecorder.h"
#include "results/TextFormat.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The window's frame period: the analyzer is advanced as often as there.
constexpr auto kUpdatePeriod = std::chrono::microseconds(16'667);
constexpr auto kLiveLinePeriod = 100ms;
constexpr auto kFirstReportPoll = 5ms;
// How long after the test's end a report stamped before it may still arrive
// (the analyzer's activity timeout: a mouse quiet that long is at rest).
constexpr auto kLateReportGrace = 250ms;

constexpr const char* kAccessHint = i18n::trNoop(
    "提示：安装 udev 规则 70-quillmark.rules（给鼠标的 event 节点加 uaccess 标记）或把用户加入 "
    "input 组，然后重新插拔鼠标或运行 udevadm trigger，再试一次。\n");

bool stopRequested(const Console& c) { return c.stopRequested && c.stopRequested(); }

double secondsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// --seconds 0: the test runs until it is stopped (about 70 years).
constexpr int64_t kUntilStoppedNs = int64_t{1} << 61;

bool untilStopped(const MeasureOptions& o) { return o.seconds <= 0.0; }

// The test's length so far, never past the length asked for.
double testSeconds(const MeasureOptions& o, double elapsed) {
  return untilStopped(o) ? elapsed : std::min(elapsed, o.seconds);
}

int64_t toNs(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// Everything the report path feeds, and the device the test is about. The
// test is the reports stamped from the first one for the length asked for:
// a report that arrives late still counts, one stamped after the end does
// not, so the count does not depend on when the main thread wakes up.
struct Session {
  Session(HIDMonitor& m, double seconds)
      : monitor(m),
        lengthNs(seconds > 0.0 ? static_cast<int64_t>(std::llround(seconds * 1e9))
                               : kUntilStoppedNs) {}

  // HID thread.
  void onReport(Clock::time_point t, const ReportMotion& motion) {
    const int64_t ns = toNs(t);
    latestNs.store(ns, std::memory_order_relaxed);
    if (firstNs < 0) {
      firstNs = ns;
      endNs.store(ns + lengthNs, std::memory_order_relaxed);
    }
    if (ns >= endNs.load(std::memory_order_relaxed) ||
        ns >= stopNs.load(std::memory_order_relaxed)) {
      return;
    }
    analyzer.addTimestamp(t);
    recorder.add(t, motion);
  }
  // Same rule as reports: none before the test's first report (the reports
  // lost then were not the test's), after its end or a stop.
  void onKernelDrop() {
    const int64_t ns = latestNs.load(std::memory_order_relaxed);
    if (firstNs < 0 || ns >= endNs.load(std::memory_order_relaxed) ||
        stopNs.load(std::memory_order_relaxed) != INT64_MAX) {
      return;
    }
    analyzer.noteKernelDrop();
    recorder.noteKernelDrop();
  }
  // The measured mouse can no longer be read.
  void onReportError(const HIDError& error) {
    std::lock_guard lock(errorMutex);
    if (readError.empty()) readError = error.message.empty() ? "read failed" : error.message;
    readFailed.store(true, std::memory_order_release);
  }
  std::string readErrorText() {
    std::lock_guard lock(errorMutex);
    return readError;
  }

  HIDMonitor& monitor;
  PollingAnalyzer analyzer;
  results::StampRecorder recorder;
  HIDDeviceInfo device;
  const int64_t lengthNs;
  int64_t firstNs = -1;  // HID thread only
  std::atomic<int64_t> endNs{INT64_MAX};
  std::atomic<int64_t> latestNs{INT64_MIN};  // the newest stamp, in the test or not
  std::atomic<int64_t> stopNs{INT64_MAX};    // set on the main thread by a stop
  std::atomic<bool> readFailed{false};
  std::mutex errorMutex;
  std::string readError;  // guarded by errorMutex
};

// The mouse's name as a terminal line shows it.
std::string shownName(const HIDDeviceInfo& d) { return results::plainText(d.displayName()); }

// Digits are an index; a user who typed part of a name ("8000") learns which
// names hold it.
void printIndexMissing(const Console& c, const std::string& wanted,
                       const std::vector<HIDDeviceInfo>& devices) {
  std::fprintf(c.err, i18n::tr("找不到序号为 %s 的鼠标：纯数字是 list 的序号（现有 0–%zu）。\n"),
               results::shownValue(wanted).c_str(), devices.size() - 1);
  for (const int i : devicesNamed(wanted, devices)) {
    std::fprintf(c.err, i18n::tr("名称含「%s」的鼠标：序号 %d  %s\n"),
                 results::shownValue(wanted).c_str(), i,
                 shownName(devices[static_cast<std::size_t>(i)]).c_str());
  }
  std::fputs(i18n::tr("现有的鼠标：\n"), c.err);
}

void printDeviceMissing(const Console& c, const std::string& wanted,
                        const std::vector<HIDDeviceInfo>& devices, int autoChoice) {
  if (devices.empty()) {
    std::fputs(i18n::tr("没有找到鼠标。\n"), c.err);
    return;
  }
  if (wanted.empty()) {
    std::fputs(i18n::tr("没有可以自动选择的鼠标。\n"), c.err);
  } else if (isIndexText(wanted)) {
    printIndexMissing(c, wanted, devices);
  } else {
    std::fprintf(c.err, i18n::tr("找不到设备「%s」。现有的鼠标：\n"),
                 results::shownValue(wanted).c_str());
  }
  std::fputs(deviceTable(devices, autoChoice).c_str(), c.err);
}

void printDeviceAmbiguous(const Console& c, const std::string& wanted,
                          const std::vector<HIDDeviceInfo>& devices,
                          const std::vector<int>& matches) {
  std::fprintf(c.err, i18n::tr("「%s」对应 %zu 只鼠标，请用序号或节点指明其中一只：\n"),
               results::shownValue(wanted).c_str(), matches.size());
  for (const int i : matches) {
    const HIDDeviceInfo& d = devices[static_cast<std::size_t>(i)];
    std::fprintf(c.err, "  %-5d %-20s %s\n", i, d.node.empty() ? "-" : d.node.c_str(),
                 shownName(d).c_str());
  }
}

}  // namespace

std::optional<int> pickMouse(HIDMonitor& monitor, const std::string& wanted, const Console& c,
                             HIDDeviceInfo& chosen) {
  monitor.waitForHIDThread();
  // One read: a mouse plugged in between two would shift the indexes.
  const HIDMonitor::DeviceSelection listed = monitor.getDevicesAndSelection();
  const std::vector<HIDDeviceInfo>& devices = listed.devices;
  const int autoChoice = listed.selected;
  const std::vector<int> matches = chooseDevice(wanted, devices, autoChoice);
  if (matches.size() > 1) {
    printDeviceAmbiguous(c, wanted, devices, matches);
    return kExitNoMouse;
  }
  if (matches.empty()) {
    printDeviceMissing(c, wanted, devices, autoChoice);
    const HIDError error = monitor.getLastError();
    if (error.status == HIDStatus::ManagerError) std::fprintf(c.err, "%s\n", error.message.c_str());
    return kExitNoMouse;
  }
  const int index = matches.front();
  chosen = devices[static_cast<std::size_t>(index)];
  if (!chosen.opened) {
    std::fprintf(c.err, i18n::tr("无法读取 %s：%s\n"), shownName(chosen).c_str(),
                 chosen.openError.message.c_str());
    if (chosen.openError.status == HIDStatus::PermissionDenied)
      std::fputs(i18n::tr(kAccessHint), c.err);
    return kExitNoAccess;
  }
  // The test is this mouse's: another one plugged in must not take over.
  monitor.holdSelection(true);
  monitor.setSelectedDeviceIndex(index);
  return std::nullopt;
}

namespace {

// Picks the mouse; an exit status when it cannot be measured.
std::optional<int> selectDevice(Session& s, const MeasureOptions& o, const Console& c) {
  return pickMouse(s.monitor, o.device, c, s.device);
}

// Still there? The selection is held, so it empties only when the measured
// mouse goes away, and no other mouse's reports can join the test.
bool stillSelected(const Session& s) { return s.monitor.getSelectedDeviceIndex() >= 0; }

// The stamp of the first report, or nullopt (and `status`) after the wait,
// a stop, the mouse's removal or a read error.
std::optional<Clock::time_point> awaitFirstReport(Session& s, const MeasureOptions& o,
                                                  const Console& c, int& status) {
  status = kExitNoReports;
  std::fprintf(c.err, i18n::tr("正在测量 %s，请移动鼠标…\n"), shownName(s.device).c_str());
  std::fflush(c.err);
  const Clock::time_point deadline =
      Clock::now() +
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.waitSeconds));
  while (s.recorder.count() == 0) {
    if (stopRequested(c)) {
      std::fputs(i18n::tr("测试在收到第一个报告之前被中断。\n"), c.err);
      return std::nullopt;
    }
    if (!stillSelected(s)) {
      std::fprintf(c.err, i18n::tr("%s 已断开。\n"), shownName(s.device).c_str());
      status = kExitNoMouse;
      return std::nullopt;
    }
    if (s.readFailed.load(std::memory_order_acquire)) {
      std::fprintf(c.err, i18n::tr("读取 %s 出错：%s\n"), shownName(s.device).c_str(),
                   results::plainText(s.readErrorText()).c_str());
      status = kExitDeviceError;
      return std::nullopt;
    }
    if (Clock::now() >= deadline) {
      std::fprintf(
          c.err,
          i18n::tr("%g 秒内没有收到 %s 的报告：鼠标只在移动时发送报告，请在测试开始后移动它。\n"),
          o.waitSeconds, shownName(s.device).c_str());
      return std::nullopt;
    }
    std::this_thread::sleep_for(kFirstReportPoll);
  }
  return Clock::time_point(std::chrono::nanoseconds(s.recorder.snapshot()[0]));
}

void showLiveLine(Session& s, const MeasureOptions& o, const Console& c, double elapsed) {
  const PollingStats stats = s.analyzer.getStats();
  LiveLine l;
  l.currentHz = stats.currentHz;
  // The target the summary will hold the test against, as far as known now.
  const float configured = results::configuredHz(identityOf(s.device));
  l.targetHz =
      o.targetHz.value_or(configured > 0 ? configured : results::nearestTargetHz(stats.baselineHz));
  l.reports = stats.reportCount;
  l.elapsedSeconds = elapsed;
  l.totalSeconds = o.seconds;
  l.kernelDrops = stats.kernelDrops;
  const motionrules::RecentMotion m = motionrules::recentMotion(s.recorder.snapshot());
  l.handSlow = m.speedLimited && stats.currentHz < pollingrules::kTargetReachedRatio * l.targetHz;
  l.handCountsPerS = m.countsPerSecond;
  l.neededCountsPerS = static_cast<double>(l.targetHz) * m.countStep;
  l.cpi = o.cpi;
  std::fprintf(c.err, "\r%s\033[K", liveLineText(l).c_str());
  std::fflush(c.err);
}

// How a test ended early: when, and why.
struct EarlyEnd {
  Clock::time_point at;
  results::TestEnd end = results::TestEnd::Interrupted;
  std::string error;  // for a device error
};

// A stop ends a test without a length the way its length ends the others.
std::optional<EarlyEnd> checkEarlyEnd(Session& s, const Console& c) {
  const bool failed = s.readFailed.load(std::memory_order_acquire);
  const bool lost = !stillSelected(s);
  if (!failed && !lost && !stopRequested(c)) return std::nullopt;
  const results::TestEnd stop =
      s.lengthNs == kUntilStoppedNs ? results::TestEnd::Completed : results::TestEnd::Interrupted;
  const EarlyEnd end{Clock::now(),
                     failed ? results::TestEnd::DeviceError
                     : lost ? results::TestEnd::DeviceLost
                            : stop,
                     failed ? s.readErrorText() : std::string()};
  s.stopNs.store(toNs(end.at), std::memory_order_relaxed);
  return end;
}

// Runs until the reports of the test's length are in (a report stamped at
// or after the end has arrived, or the mouse has been quiet since), a stop
// or the mouse's removal; nullopt when the test ran its length.
std::optional<EarlyEnd> runTest(Session& s, const MeasureOptions& o, const Console& c,
                                Clock::time_point first) {
  const Clock::time_point end = first + std::chrono::nanoseconds(s.lengthNs);
  const Clock::time_point wait = end + kLateReportGrace;
  Clock::time_point nextLine = Clock::now();
  Clock::time_point tick = Clock::now();
  std::optional<EarlyEnd> stopped;
  while (Clock::now() < wait && s.latestNs.load(std::memory_order_relaxed) < toNs(end)) {
    if ((stopped = checkEarlyEnd(s, c))) break;
    s.analyzer.update();
    if (c.liveLine && Clock::now() >= nextLine) {
      showLiveLine(s, o, c, testSeconds(o, secondsBetween(first, Clock::now())));
      nextLine += kLiveLinePeriod;
    }
    tick += kUpdatePeriod;
    std::this_thread::sleep_until(std::min(tick, wait));
  }
  if (c.liveLine) std::fputs("\r\033[K", c.err);
  return stopped;
}

results::TestRecord makeRecord(Session& s, const MeasureOptions& o, Clock::time_point first,
                               std::optional<EarlyEnd> stopped) {
  results::TestRecord r;
  r.device = identityOf(s.device);
  r.start = results::wallTimeOf(first);
  r.durationSeconds = stopped ? testSeconds(o, secondsBetween(first, stopped->at)) : o.seconds;
  r.end = stopped ? stopped->end : results::TestEnd::Completed;
  if (stopped) r.endError = stopped->error;
  r.stats = s.analyzer.getStats();
  r.stamps = s.recorder.snapshot();
  r.stampLimit = s.recorder.limit();
  r.label = o.label;
  results::completeRecord(r, o.targetHz);
  return r;
}

bool usesStandardOutput(const MeasureOptions& o) {
  return o.intervalsPath == "-" || o.plotPath == "-";
}

// A file asked for, and its writer.
struct Output {
  const std::string& path;
  results::WriteResult (*write)(const results::TestRecord&, const std::string&);
};

std::vector<Output> outputsOf(const std::string& intervalsPath, const std::string& plotPath) {
  std::vector<Output> out;
  if (!intervalsPath.empty()) out.push_back({intervalsPath, results::writeIntervalsCsv});
  if (!plotPath.empty()) out.push_back({plotPath, results::writeIntervalPlot});
  return out;
}

// What a second stop would leave unwritten, from outputs[from] on.
std::string unwrittenLine(const std::vector<Output>& outputs, std::size_t from) {
  std::string line;
  for (std::size_t i = from; i < outputs.size(); ++i) {
    line += (i == from ? i18n::tr("quillmark: 再次中断，立即退出；没有写入：") : i18n::tr("、")) +
            outputs[i].path;
  }
  return line.empty() ? line : line + "\n";
}

// Before outputs[from] is written: what a second stop says while it is
// written, and once it is in place.
void noticeUnwritten(const Console& c, const std::vector<Output>& outputs, std::size_t from) {
  if (!c.urgentStopNotice) return;
  c.urgentStopNotice(unwrittenLine(outputs, from), unwrittenLine(outputs, from + 1));
}

// Prints the summary (text or JSON) and writes the files asked for; 0, or 1
// when any of them (standard output included) could not be written.
int report(const results::TestRecord& r, const MeasureOptions& o, const Console& c) {
  const std::string text = o.json    ? results::resultJson(r)
                           : o.brief ? briefLine(r)
                                     : summaryText(r, o.details, o.cpi);
  int status = kExitOk;
  // A file on standard output leaves the text summary to the console lines.
  if (usesStandardOutput(o)) {
    std::fputs(text.c_str(), c.err);
  } else if (!writeOut(c, text)) {
    status = kExitFileError;
  }
  const int files = writeResultFiles(r, o.intervalsPath, o.plotPath, c);
  return status != kExitOk ? status : files;
}

// The one place --require-target reads the verdict: the test's one, as the
// summary and --brief show it; the rate must have reached the target (a
// host-limited test passes when the host's rate is the target). One that
// cannot be told says why on the console.
bool targetReached(const results::TestRecord& r, const Console& c) {
  const results::TestVerdict& v = results::derivedOf(r).whole.test;
  if (v.kind == results::VerdictKind::Unknown) {
    std::fprintf(c.err, i18n::tr("quillmark: 无法判断是否达到 %.0f Hz：%s\n"), r.targetHz,
                 v.text.c_str());
  }
  return std::string_view(results::briefWord(v)) == "reached";
}

// How the test went, as a status; an output that failed goes before it.
int testStatus(const results::TestRecord& r, const MeasureOptions& o, const Console& c) {
  if (r.end == results::TestEnd::DeviceLost) return kExitNoMouse;
  if (r.end == results::TestEnd::DeviceError) return kExitDeviceError;
  if (o.requireTarget && !targetReached(r, c)) return kExitTargetMissed;
  return kExitOk;
}

void printEarlyEnd(const Session& s, const EarlyEnd& e, const Console& c) {
  if (e.end == results::TestEnd::DeviceLost) {
    std::fprintf(c.err, i18n::tr("%s 在测试中断开，测试提前结束。\n"), shownName(s.device).c_str());
  } else if (e.end == results::TestEnd::DeviceError) {
    std::fprintf(c.err, i18n::tr("读取 %s 出错，测试提前结束：%s\n"), shownName(s.device).c_str(),
                 results::plainText(e.error).c_str());
  }
}

int measureStarted(Session& s, const MeasureOptions& o, const Console& c, const RecordSaver& save) {
  if (const std::optional<int> status = selectDevice(s, o, c)) return *status;
  // As the window's start does: the warm-up counts from here.
  s.analyzer.reset();
  s.monitor.setMonitoring(true);
  int status = kExitOk;
  const std::optional<Clock::time_point> first = awaitFirstReport(s, o, c, status);
  if (!first) return status;
  const std::optional<EarlyEnd> stopped = runTest(s, o, c, *first);
  s.monitor.setMonitoring(false);
  s.analyzer.update();
  // The window's figures cover the test's last reports too.
  s.analyzer.refreshDiagnostics();
  if (stopped) printEarlyEnd(s, *stopped, c);
  const results::TestRecord record = makeRecord(s, o, *first, stopped);
  status = report(record, o, c);
  if (save) {
    const int saved = save(record);
    if (status == kExitOk) status = saved;
  }
  return status != kExitOk ? status : testStatus(record, o, c);
}

}  // namespace

bool resultFilesWritable(const std::string& intervalsPath, const std::string& plotPath,
                         const Console& c) {
  bool ok = true;
  for (const Output& output : outputsOf(intervalsPath, plotPath)) {
    const results::WriteResult w = results::checkWritable(output.path);
    if (!w) std::fprintf(c.err, "%s\n", w.error.c_str());
    ok = ok && w.ok;
  }
  return ok;
}

int writeResultFiles(const results::TestRecord& r, const std::string& intervalsPath,
                     const std::string& plotPath, const Console& c) {
  int status = kExitOk;
  const std::vector<Output> outputs = outputsOf(intervalsPath, plotPath);
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    noticeUnwritten(c, outputs, i);
    const results::WriteResult w = outputs[i].write(r, outputs[i].path);
    if (w) {
      std::fprintf(c.err, i18n::tr("已写入 %s\n"),
                   outputs[i].path == "-" ? i18n::tr("标准输出")
                                          : results::pathText(outputs[i].path).c_str());
    } else {
      std::fprintf(c.err, "%s\n", w.error.c_str());
      status = kExitFileError;
    }
  }
  noticeUnwritten(c, outputs, outputs.size());
  if (r.stamps.truncated() && !outputs.empty()) {
    std::fprintf(c.err, i18n::tr("间隔文件只保留了前 %zu 个报告。\n"), r.stampLimit);
  }
  return status;
}

bool startHIDThread(HIDMonitor& monitor, const Console& console) {
  try {
    monitor.start();
  } catch (const std::system_error& e) {
    std::fprintf(console.err, i18n::tr("[HID] 无法启动 HID 线程：%s\n"), e.what());
    return false;
  }
  if (console.hidThreadStarted) console.hidThreadStarted();
  return true;
}

bool writeOut(const Console& c, const std::string& text) {
  int err = c.outClosed ? EBADF : 0;
  if (err == 0 && std::fputs(text.c_str(), c.out) == EOF) err = errno;
  if (std::fflush(c.out) != 0 && err == 0) err = errno;
  if (err == 0 && std::ferror(c.out) != 0) err = EIO;
  if (err == 0) return true;
  std::fprintf(c.err, i18n::tr("quillmark: 无法写入标准输出：%s\n"),
               results::errnoText(err).c_str());
  return false;
}

int runMeasure(const MeasureOptions& options, HIDMonitor& monitor, const Console& console,
               const RecordSaver& save) {
  if (!resultFilesWritable(options.intervalsPath, options.plotPath, console)) return kExitFileError;
  Session session(monitor, options.seconds);
  monitor.setReportCallback(
      [&session](Clock::time_point t, const ReportMotion& m) { session.onReport(t, m); });
  monitor.setKernelDropCallback([&session] { session.onKernelDrop(); });
  monitor.setReportErrorCallback([&session](const HIDError& e) { session.onReportError(e); });
  if (!startHIDThread(monitor, console)) return kExitNoMouse;
  const int status = measureStarted(session, options, console, save);
  // The HID thread feeds the session: it ends before the session goes.
  monitor.stop();
  return status;
}

}  // namespace cli
