#include "cli/CpiRun.h"

#include <atomic>
#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "analysis/CpiMeasure.h"
#include "hid/HIDMonitor.h"
#include "i18n/Translate.h"
#include "results/TextFormat.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kPoll = 10ms;

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

// The counts summed on the HID thread, read on the main thread.
struct Motion {
  void add(Clock::time_point t, const ReportMotion& m) {
    if (m.dx == 0 && m.dy == 0) return;
    x.fetch_add(m.dx, std::memory_order_relaxed);
    y.fetch_add(m.dy, std::memory_order_relaxed);
    lastNs.store(std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count(),
                 std::memory_order_release);
  }
  std::atomic<int64_t> x{0}, y{0};
  std::atomic<int64_t> lastNs{0};
};

bool stopAsked(const Console& c) { return c.stopRequested && c.stopRequested(); }

// A countdown on the console (one line per second when it is not a
// terminal); false when stopped.
bool countdown(const CpiOptions& o, const Console& c, int stroke) {
  const char* again = c.liveLine ? "\r" : "";
  const char* end = c.liveLine ? "\033[K" : "\n";
  for (int left = o.countdownSeconds; left > 0; --left) {
    std::fputs(again, c.err);
    std::fprintf(c.err, i18n::tr("第 %d/%d 次：把鼠标放在尺子的起点，%d 秒后开始…"), stroke,
                 cpi::kStrokes, left);
    std::fputs(end, c.err);
    std::fflush(c.err);
    for (int i = 0; i < 100; ++i) {
      if (stopAsked(c)) return false;
      std::this_thread::sleep_for(kPoll);
    }
  }
  std::fputs(again, c.err);
  std::fprintf(c.err, i18n::tr("第 %d/%d 次：沿尺子移动 %s，到终点后停住。"), stroke, cpi::kStrokes,
               o.distanceText.c_str());
  std::fputs(c.liveLine ? "\033[K\n" : "\n", c.err);
  std::fflush(c.err);
  return true;
}

// One stroke's counts, or nullopt (and `status`) on a stop, a timeout or the
// mouse gone.
std::optional<cpi::Stroke> stroke(HIDMonitor& monitor, const Motion& m, const CpiOptions& o,
                                  const Console& c, int& status) {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(o.strokeWaitSeconds));
  cpi::StrokeTracker tracker;
  for (;; std::this_thread::sleep_for(kPoll)) {
    if (stopAsked(c)) return std::nullopt;
    if (monitor.getSelectedDeviceIndex() < 0) return status = kExitNoMouse, std::nullopt;
    if (Clock::now() >= deadline) return status = kExitNoReports, std::nullopt;
    const std::optional<cpi::Stroke> done =
        tracker.step(nowNs(), m.x.load(), m.y.load(), m.lastNs.load(std::memory_order_acquire));
    if (c.liveLine && tracker.phase() == cpi::StrokeTracker::Phase::Moving) {
      std::fprintf(c.err, "\r  X %+lld  Y %+lld\033[K", static_cast<long long>(tracker.live().x),
                   static_cast<long long>(tracker.live().y));
    }
    if (done) {
      if (c.liveLine) std::fputs("\r\033[K", c.err);
      return done;
    }
  }
}

std::string resultText(const cpi::CpiResult& r, const std::string& name, const CpiOptions& o) {
  std::string out;
  results::appendFormat(out, i18n::tr("鼠标：%s\n距离：%s（%.3f 英寸）\n"),
                        results::plainText(name).c_str(), o.distanceText.c_str(), r.inches);
  int n = 0;
  for (const cpi::StrokeFigures& s : r.strokes) {
    results::appendFormat(
        out, i18n::tr("第 %d 次：%c 轴 %lld counts，偏离轴向 %.1f %%，%.0f CPI%s\n"), ++n,
        s.axis == 'y' ? 'Y' : 'X', static_cast<long long>(s.mainCounts), s.offAxisShare * 100,
        s.cpi, s.crooked() ? i18n::tr("（划歪了，结果偏小）") : "");
  }
  results::appendFormat(
      out,
      i18n::tr("CPI：%.0f（%c 轴，%d 次相差 %.1f %%），最接近的常用档位 %d（相差 %+.1f %%）\n"),
      r.cpi, r.axis == 'y' ? 'Y' : 'X', static_cast<int>(r.strokes.size()), r.spreadPct,
      r.nearestSetting, r.offSettingPct);
  return out;
}

std::string resultJson(const cpi::CpiResult& r, const std::string& name) {
  nlohmann::ordered_json j;
  j["schema"] = "quillmark-cpi";
  j["schema_version"] = 1;
  j["device"] = {{"name", name}};
  j["distance_mm"] = r.inches * cpi::kCmPerInch * 10;
  j["strokes"] = nlohmann::ordered_json::array();
  for (const cpi::StrokeFigures& s : r.strokes) {
    j["strokes"].push_back({{"axis", std::string(1, s.axis)},
                            {"counts", s.mainCounts},
                            {"off_axis_share", s.offAxisShare},
                            {"cpi", s.cpi}});
  }
  j["axis"] = std::string(1, r.axis);
  j["cpi"] = r.cpi;
  j["spread_pct"] = r.spreadPct;
  j["nearest_setting"] = r.nearestSetting;
  return j.dump(2) + "\n";
}

int cpiStarted(HIDMonitor& monitor, const Motion& m, const CpiOptions& o, const Console& c) {
  HIDDeviceInfo device;
  if (const std::optional<int> status = pickMouse(monitor, o.device, c, device)) return *status;
  monitor.setMonitoring(true);
  std::vector<cpi::Stroke> strokes;
  int status = kExitOk;
  for (int i = 1; i <= cpi::kStrokes; ++i) {
    std::optional<cpi::Stroke> s;
    if (countdown(o, c, i)) s = stroke(monitor, m, o, c, status);
    if (!s) {
      std::fputs(
          status == kExitOk ? i18n::tr("\n测量被中断。\n") : i18n::tr("\n没有测到完整的划动。\n"),
          c.err);
      return status == kExitOk ? kExitNoReports : status;
    }
    strokes.push_back(*s);
  }
  monitor.setMonitoring(false);
  const cpi::CpiResult r = cpi::measureCpi(strokes, o.distanceMm / (cpi::kCmPerInch * 10));
  const std::string name = device.displayName();
  return writeOut(c, o.json ? resultJson(r, name) : resultText(r, name, o)) ? kExitOk
                                                                            : kExitFileError;
}

}  // namespace

int runCpi(const CpiOptions& o, HIDMonitor& monitor, const Console& c) {
  Motion motion;
  monitor.setReportCallback(
      [&motion](Clock::time_point t, const ReportMotion& m) { motion.add(t, m); });
  if (!startHIDThread(monitor, c)) return kExitNoMouse;
  const int status = cpiStarted(monitor, motion, o, c);
  monitor.stop();
  return status;
}

}  // namespace cli
