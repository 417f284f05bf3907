#include "cli/ButtonsRun.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "cli/ButtonsReport.h"
#include "hid/HIDMonitor.h"
#include "i18n/Translate.h"
#include "results/FileWriter.h"
#include "results/TextFormat.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kPoll = 20ms;
constexpr auto kLivePeriod = 200ms;

int64_t toNs(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// What the HID thread hands over: the edges, a read failure.
struct Edges {
  void add(Clock::time_point t, uint16_t code, int32_t value) {
    std::lock_guard lock(mutex);
    edges.push_back({toNs(t), code, value == 1});
  }
  std::vector<buttons::ButtonEdge> snapshot() {
    std::lock_guard lock(mutex);
    return edges;
  }
  std::mutex mutex;
  std::vector<buttons::ButtonEdge> edges;  // guarded by mutex
  std::atomic<bool> readFailed{false};
};

bool stopAsked(const Console& c) { return c.stopRequested && c.stopRequested(); }

// Redraws the lines of the buttons seen so far in place; returns how many.
size_t showLive(const buttons::ButtonSummary& s, size_t shown, const Console& c) {
  for (size_t i = 0; i < shown; ++i) std::fputs("\033[A", c.err);
  for (const buttons::ButtonFigures& f : s.buttons) {
    std::fprintf(c.err, "\r\033[K%s  %s\n", buttonLiveLine(f).c_str(),
                 buttons::buttonVerdict(f).c_str());
  }
  std::fflush(c.err);
  return s.buttons.size();
}

// Watches until the length, a stop, the mouse's removal or a read error;
// the status of how it ended. The live lines go once it ends: the summary
// follows.
int watch(HIDMonitor& monitor, Edges& edges, const ButtonsOptions& o, const Console& c,
          Clock::time_point start) {
  Clock::time_point nextLine = start;
  size_t shown = 0;
  int status = kExitOk;
  for (;; std::this_thread::sleep_for(kPoll)) {
    const Clock::time_point now = Clock::now();
    if (o.seconds > 0 && now - start >= std::chrono::duration<double>(o.seconds)) break;
    if (stopAsked(c)) break;
    if (monitor.getSelectedDeviceIndex() < 0) status = kExitNoMouse;
    if (edges.readFailed.load()) status = kExitDeviceError;
    if (status != kExitOk) break;
    if (c.liveLine && now >= nextLine) {
      shown = showLive(buttons::summarizeButtons(edges.snapshot(), o.chatterMs), shown, c);
      nextLine += kLivePeriod;
    }
  }
  for (size_t i = 0; i < shown; ++i) std::fputs("\033[A\r\033[K", c.err);
  return status;
}

int writeOutputs(const ButtonTest& t, const ButtonsOptions& o, const Console& c) {
  const std::string text = o.json ? buttonJson(t) : buttonSummaryText(t);
  int status = kExitOk;
  if (o.eventsPath == "-") {
    std::fputs(text.c_str(), c.err);
  } else if (!writeOut(c, text)) {
    status = kExitFileError;
  }
  if (o.eventsPath.empty()) return status;
  const results::WriteResult w = results::writeFileAtomically(o.eventsPath, buttonEventsCsv(t));
  if (!w) {
    std::fprintf(c.err, "%s\n", w.error.c_str());
    return kExitFileError;
  }
  std::fprintf(
      c.err, i18n::tr("已写入 %s\n"),
      o.eventsPath == "-" ? i18n::tr("标准输出") : results::pathText(o.eventsPath).c_str());
  return status;
}

int buttonsStarted(HIDMonitor& monitor, Edges& edges, const ButtonsOptions& o, const Console& c) {
  HIDDeviceInfo device;
  if (const std::optional<int> status = pickMouse(monitor, o.device, c, device)) return *status;
  std::fprintf(c.err, i18n::tr("正在记录 %s 的按键，请点击（按 Ctrl-C 结束）…\n"),
               results::plainText(device.displayName()).c_str());
  std::fflush(c.err);
  const Clock::time_point start = Clock::now();
  monitor.setMonitoring(true);
  const int ended = watch(monitor, edges, o, c, start);
  monitor.setMonitoring(false);
  ButtonTest t;
  t.deviceName = device.displayName();
  t.node = device.node;
  t.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  t.startNs = toNs(start);
  t.edges = edges.snapshot();
  t.summary = buttons::summarizeButtons(t.edges, o.chatterMs);
  if (ended == kExitNoMouse) std::fputs(i18n::tr("鼠标已断开，测试提前结束。\n"), c.err);
  if (ended == kExitDeviceError) std::fputs(i18n::tr("读取鼠标出错，测试提前结束。\n"), c.err);
  const int written = writeOutputs(t, o, c);
  if (written != kExitOk) return written;
  if (ended != kExitOk) return ended;
  if (o.requireClean && t.summary.buttons.empty()) return kExitNoReports;
  return o.requireClean && !t.summary.chatter.empty() ? kExitChatter : kExitOk;
}

}  // namespace

int runButtons(const ButtonsOptions& o, HIDMonitor& monitor, const Console& c) {
  if (!o.eventsPath.empty()) {
    const results::WriteResult w = results::checkWritable(o.eventsPath);
    if (!w) {
      std::fprintf(c.err, "%s\n", w.error.c_str());
      return kExitFileError;
    }
  }
  Edges edges;
  monitor.setButtonCallback(
      [&edges](Clock::time_point t, uint16_t code, int32_t value) { edges.add(t, code, value); });
  monitor.setReportErrorCallback([&edges](const HIDError&) { edges.readFailed.store(true); });
  if (!startHIDThread(monitor, c)) return kExitNoMouse;
  const int status = buttonsStarted(monitor, edges, o, c);
  monitor.stop();  // the HID thread feeds `edges`: it ends first
  return status;
}

}  // namespace cli
