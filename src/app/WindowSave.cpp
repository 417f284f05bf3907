#include "app/WindowSave.h"

#include <imgui.h>

#include <cstdio>
#include <optional>
#include <string>

#include "app/DocumentsFolder.h"
#include "app/SaveResult.h"
#include "app/Shell.h"
#include "cli/DeviceIdentityOf.h"
#include "dashboard/DashboardState.h"
#include "dashboard/Palette.h"
#include "i18n/Translate.h"
#include "results/MouseStamps.h"

results::StampRecorder g_stamps;

namespace {

constexpr double kNoticeSeconds = 10.0;
constexpr double kNoticeUnshown = -2.0;

bool s_saveRequested = false;
dashboard::Notice s_notice;
double s_noticeAt = -1.0;

// Set by a reset of the running test; a start from idle begins afresh.
bool s_testWasReset = false;

results::DeviceIdentity selectedDevice() {
  const HIDMonitor::DeviceSelection s = g_monitor.getDevicesAndSelection();
  if (s.selected < 0 || s.selected >= static_cast<int>(s.devices.size())) return {};
  return cli::identityOf(s.devices[static_cast<size_t>(s.selected)]);
}

// The identity of a mouse the test's reports came from; a report without a
// known mouse (serial 0) is the selected one's.
results::DeviceIdentity identityOfSource(uint64_t serial) {
  if (serial == 0) return selectedDevice();
  const std::optional<HIDDeviceInfo> info = g_monitor.findDevice(serial);
  return info ? cli::identityOf(*info) : results::DeviceIdentity{};
}

// Each mouse of a test that changed mouse gets its own reports (and so its
// own figures); the whole test's are those of the one with the most reports.
void splitByMouse(results::TestRecord& r, const results::StampRecorder::Tally& tally, size_t most) {
  for (size_t i = 0; i < r.devices.size(); ++i)
    r.devices[i].stamps = results::mouseStamps(r.stamps, tally.runs, i);
  r.wholeDevice = most;
  r.mouseChanges = results::mouseChanges(tally.runs);
}

// The mouse with the most reports is the result's; all of them are listed
// when there were several.
void nameDevices(results::TestRecord& r, const results::StampRecorder::Tally& tally) {
  size_t most = 0;
  for (const results::StampRecorder::SourceCount& s : tally.sources) {
    r.devices.push_back({identityOfSource(s.source), static_cast<int64_t>(s.reports), {}, {}});
    if (s.reports > tally.sources[most].reports) most = r.devices.size() - 1;
  }
  r.device = r.devices.empty() ? selectedDevice() : r.devices[most].device;
  if (r.devices.size() < 2) {
    r.devices.clear();
    return;
  }
  splitByMouse(r, tally, most);
}

}  // namespace

PendingRecord pendingRecord() {
  results::TestRecord r;
  results::StampRecorder::Tally tally;
  r.stats = g_analyzer.getStats();
  // A paused test keeps the last rate it ran at, as the window shows it.
  if (g_testState == TestState::Paused) r.stats.currentHz = dashboard::dashboardState().held.lastHz;
  r.stamps = g_stamps.snapshot(tally);
  nameDevices(r, tally);
  r.stampLimit = g_stamps.limit();
  r.end = results::TestEnd::Interrupted;  // saved while it runs or pauses
  r.start = std::chrono::system_clock::now();
  if (!r.stamps.empty()) {
    const int64_t first = r.stamps[0];
    r.start = results::wallTimeOf(
        std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(first)));
    // To the newest report, also past the stamps kept.
    r.durationSeconds = static_cast<double>(tally.lastNs - first) / 1e9;
  }
  // The automatic target follows the mouse: the test is held against the
  // rate its mouse is polled at, and in a test that changed mouse each
  // mouse against its own.
  const dashboard::DashboardState& ui = dashboard::dashboardState();
  r.targetFollowsMouse = !ui.targetPicked;
  std::optional<float> picked;
  if (!r.targetFollowsMouse) picked = dashboard::kTargetRates[ui.targetIndex];
  return {std::move(r), picked};
}

namespace {

// Judged as the window's verdict line was: by completeRecord, once for
// every file written from it.
results::TestRecord currentRecord() {
  PendingRecord p = pendingRecord();
  results::completeRecord(p.record, p.picked, results::TargetSource::Window);
  return std::move(p.record);
}

// Why the test has nothing to save yet; "" when it has.
std::string saveBlockedReason(const PollingStats& stats) {
  if (g_testState == TestState::Idle) return i18n::tr("还没有开始测试，按 S 开始");
  if (stats.statsValid) return "";
  if (s_testWasReset) return i18n::tr("测试刚重置，还没有新的数据");
  return i18n::tr("测试刚开始，还没有测出回报率，请移动鼠标");
}

// The notice takes its time when first drawn: a key can ask outside a frame.
void showNotice(dashboard::Notice notice) {
  s_notice = std::move(notice);
  s_noticeAt = kNoticeUnshown;
}

// Only the notice: nothing was tried, so the console stays quiet.
void setBlockedNotice(const std::string& reason) {
  dashboard::Notice n;
  n.text = i18n::tr("无法保存");
  n.detail = reason;
  n.failed = true;  // a warning, not a success
  showNotice(std::move(n));
}

void setNotice(const SaveOutcome& outcome) {
  s_notice = dashboard::Notice{};
  if (outcome.ok) {
    s_notice.text = i18n::tr("结果已保存（点击打开文件夹）");
    s_notice.detail = outcome.folder;
    s_notice.openPath = outcome.folder;
  } else {
    s_notice.text = i18n::tr("保存失败");
    s_notice.detail = outcome.reason;
    s_notice.failed = true;
  }
  s_noticeAt = ImGui::GetTime();
}

}  // namespace

bool canSaveResult(const PollingStats& stats) { return saveBlockedReason(stats).empty(); }

bool canSaveResult() { return canSaveResult(g_analyzer.getStats()); }

void requestSave() {
  const std::string reason = saveBlockedReason(g_analyzer.getStats());
  if (reason.empty())
    s_saveRequested = true;
  else
    setBlockedNotice(reason);
}

void noteTestReset() { s_testWasReset = true; }

bool takeSaveRequest() {
  const bool requested = s_saveRequested;
  s_saveRequested = false;
  return requested;
}

void saveWindowResult(const PixelImage& window) {
  // The rule again: a reset in the same frame as the request leaves nothing.
  const std::string reason = saveBlockedReason(g_analyzer.getStats());
  if (!reason.empty()) {
    setBlockedNotice(reason);
    return;
  }
  const SaveOutcome outcome = saveResultFolder(currentRecord(), window, documentsFolder(),
                                               std::chrono::system_clock::now());
  if (outcome.ok)
    std::fprintf(stderr, i18n::tr("[导出] 已保存 -> %s\n"), outcome.folder.c_str());
  else
    std::fprintf(stderr, i18n::tr("[导出] 保存失败：%s\n"), outcome.reason.c_str());
  setNotice(outcome);
}

dashboard::Notice currentNotice(double now) {
  if (s_noticeAt == kNoticeUnshown) s_noticeAt = now;
  if (s_noticeAt < 0.0 || now - s_noticeAt > kNoticeSeconds) return {};
  return s_notice;
}

double noticeEndsAt() {
  if (s_notice.text.empty() || s_noticeAt == -1.0) return 1e300;
  // Not drawn yet: due at once.
  if (s_noticeAt == kNoticeUnshown) return 0.0;
  // Just after its end, so the frame then no longer shows it; once a frame
  // has, nothing more is due.
  const double end = s_noticeAt + kNoticeSeconds + 0.01;
  return ImGui::GetTime() > end ? 1e300 : end;
}

void resetWindowSave() {
  s_saveRequested = false;
  s_notice = dashboard::Notice{};
  s_noticeAt = -1.0;
  s_testWasReset = false;
}
