#include "app/WindowSave.h"

#include <imgui.h>

#include <cstdio>

#include "app/DocumentsFolder.h"
#include "app/SaveResult.h"
#include "app/Shell.h"
#include "dashboard/DashboardState.h"
#include "dashboard/Palette.h"
#include "results/DeviceIdentityOf.h"

results::StampRecorder g_stamps;

namespace {

constexpr double kNoticeSeconds = 10.0;

bool s_saveRequested = false;
dashboard::Notice s_notice;
double s_noticeAt = -1.0;

results::DeviceIdentity selectedDevice() {
  const std::vector<HIDDeviceInfo> devices = g_monitor.getMouseDevices();
  const int sel = g_monitor.getSelectedDeviceIndex();
  if (sel < 0 || sel >= static_cast<int>(devices.size())) return {};
  return results::identityOf(devices[static_cast<size_t>(sel)]);
}

// The test as it stands: the analyzer's figures and every stamp so far.
results::TestRecord currentRecord() {
  results::TestRecord r;
  r.device = selectedDevice();
  r.stats = g_analyzer.getStats();
  r.stamps = g_stamps.snapshot();
  r.stampLimit = g_stamps.limit();
  r.targetHz = dashboard::kTargetRates[dashboard::dashboardState().targetIndex];
  r.end = results::TestEnd::Interrupted;  // saved while it runs or pauses
  r.start = std::chrono::system_clock::now();
  if (!r.stamps.empty()) {
    const int64_t first = r.stamps[0];
    const int64_t last = r.stamps[r.stamps.size() - 1];
    r.start = results::wallTimeOf(
        std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(first)));
    r.durationSeconds = static_cast<double>(last - first) / 1e9;
  }
  return r;
}

void setNotice(const SaveOutcome& outcome) {
  s_notice = dashboard::Notice{};
  if (outcome.ok) {
    s_notice.text = "结果已保存（点击打开文件夹）";
    s_notice.detail = outcome.folder;
    s_notice.openPath = outcome.folder;
  } else {
    s_notice.text = "保存失败";
    s_notice.detail = outcome.reason;
    s_notice.failed = true;
  }
  s_noticeAt = ImGui::GetTime();
}

}  // namespace

bool canSaveResult(const PollingStats& stats) {
  return g_testState != TestState::Idle && stats.statsValid;
}

bool canSaveResult() { return canSaveResult(g_analyzer.getStats()); }

void requestSave() {
  if (canSaveResult()) s_saveRequested = true;
}

bool takeSaveRequest() {
  const bool requested = s_saveRequested;
  s_saveRequested = false;
  return requested;
}

void saveWindowResult(const PixelImage& window) {
  const SaveOutcome outcome = saveResultFolder(currentRecord(), window, documentsFolder(),
                                               std::chrono::system_clock::now());
  if (outcome.ok)
    std::fprintf(stderr, "[导出] 已保存 -> %s\n", outcome.folder.c_str());
  else
    std::fprintf(stderr, "[导出] 保存失败：%s\n", outcome.reason.c_str());
  setNotice(outcome);
}

dashboard::Notice currentNotice(double now) {
  if (s_noticeAt < 0.0 || now - s_noticeAt > kNoticeSeconds) return {};
  return s_notice;
}

void resetWindowSave() {
  s_saveRequested = false;
  s_notice = dashboard::Notice{};
  s_noticeAt = -1.0;
}
