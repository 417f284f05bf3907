#include "app/Shell.h"

#include <imgui.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "analysis/MotionRules.h"
#include "app/ButtonsPageModel.h"
#include "app/PlatformActions.h"
#include "app/ProcessLaunch.h"
#include "app/WindowSave.h"
#include "app/WindowVerdict.h"
#include "cli/DeviceIdentityOf.h"
#include "hid/HIDDebugLog.h"
#include "results/TestRecord.h"

// Constructed in this order and destroyed in reverse, so the analyzer goes
// first; the HID thread, which feeds it, is stopped before that on every
// way out (main's shutdown, or the exit guard).
HIDMonitor g_monitor;
PollingAnalyzer g_analyzer;
TestState g_testState = TestState::Idle;
bool g_quitRequested = false;
PermissionStatus g_permission = PermissionStatus::Unknown;
double g_lastPermissionCheck = 0.0;

namespace {

constexpr double kDevicePollSeconds = 0.5;
constexpr double kPermissionRefreshSeconds = 1.0;

// The rate's figures take reports only while its test runs; the buttons page
// has reports routed while it is shown, and they must not count as a test.
std::atomic<bool> g_rateRunning{false};

void setState(TestState state) {
  g_testState = state;
  g_rateRunning.store(state == TestState::Running, std::memory_order_relaxed);
  g_monitor.setMonitoring(state == TestState::Running || buttonsPage().isOpen());
}

// The figures and the stamps of the saved result always describe one test.
void resetTest() {
  g_analyzer.reset();
  g_stamps.reset();
  resetWindowVerdict();
}

dashboard::VerdictTone toneOf(results::VerdictKind kind) {
  switch (kind) {
    case results::VerdictKind::Reached:
      return dashboard::VerdictTone::Good;
    case results::VerdictKind::Near:
    case results::VerdictKind::HostLimited:
    case results::VerdictKind::KernelDrops:
      return dashboard::VerdictTone::Warn;
    case results::VerdictKind::Below:
      return dashboard::VerdictTone::Bad;
    case results::VerdictKind::Unknown:
      break;
  }
  return dashboard::VerdictTone::Neutral;
}

// The whole test's verdict so far, and how long the test has run.
void fillVerdict(dashboard::UiState& ui, double now) {
  refreshWindowVerdict(now, g_testState != TestState::Idle);
  if (const std::optional<results::TestVerdict>& v = windowVerdict()) {
    ui.verdictText = v->text;
    ui.verdictTone = toneOf(v->kind);
    ui.handLimited = v->kind == results::VerdictKind::Unknown &&
                     v->unknown == results::UnknownReason::HandTooSlow;
  }
  results::StampRecorder::Tally tally;
  const StampSeries stamps = g_stamps.snapshot(tally);
  if (!stamps.empty()) ui.elapsedSeconds = static_cast<double>(tally.lastNs - stamps[0]) / 1e9;
}

// The motion hints and the rate the mouse is configured for.
void fillMouseFacts(dashboard::UiState& ui) {
  const int sel = ui.selectedDevice;
  if (sel >= 0 && sel < static_cast<int>(ui.devices.size()))
    ui.configuredHz = results::configuredHz(cli::identityOf(ui.devices[static_cast<size_t>(sel)]));
  if (g_testState != TestState::Running) return;
  // The newest second of the recorded reports: cheap, the snapshot shares them.
  const motionrules::RecentMotion m = motionrules::recentMotion(g_stamps.snapshot());
  ui.speedLimited = m.speedLimited;
  ui.deviceLimited = m.deviceLimited;
  ui.handCountsPerS = static_cast<float>(m.countsPerSecond);
  ui.countStep = m.countStep;
  ui.cpi = buttonsPage().measuredCpi();
}

// The second page in place of the dashboard: the selected mouse's buttons.
void drawButtonsPage(const dashboard::UiState& ui) {
  const auto now = std::chrono::steady_clock::now();
  dashboard::ButtonsPageState page = buttonsPage().state(now);
  const int sel = ui.selectedDevice;
  if (sel >= 0 && sel < static_cast<int>(ui.devices.size()))
    page.deviceName = ui.devices[static_cast<size_t>(sel)].displayName();
  const dashboard::ButtonsPageActions actions = dashboard::drawButtonsPage(page);
  buttonsPage().apply(actions, now);
  if (actions.back) toggleButtonsPage();
}

}  // namespace

void requestStart() {
  switch (g_testState) {
    case TestState::Idle:
      resetTest();
      setState(TestState::Running);
      break;
    case TestState::Paused:
      setState(TestState::Running);
      break;
    case TestState::Running:
      break;
  }
}

void requestPause() {
  if (g_testState == TestState::Running) setState(TestState::Paused);
}

void requestReset() {
  if (g_testState == TestState::Idle) return;
  resetTest();
  noteTestReset();
}

void toggleButtonsPage() {
  if (buttonsPage().isOpen()) {
    buttonsPage().close();
  } else {
    buttonsPage().open(std::chrono::steady_clock::now());
  }
  setState(g_testState);
}

void applyActions(const dashboard::UiActions& actions, const PlatformAlert& alert) {
  if (actions.startPressed) requestStart();
  if (actions.pausePressed) requestPause();
  if (actions.resetPressed) requestReset();
  if (actions.selectDevice >= 0) g_monitor.setSelectedDeviceIndex(actions.selectDevice);
  if (!actions.openUrl.empty()) openLink(actions.openUrl);
  if (actions.alertAction >= 0 && static_cast<size_t>(actions.alertAction) < alert.actions.size()) {
    performPlatformAction(alert.actions[static_cast<size_t>(actions.alertAction)]);
  }
  if (actions.savePressed) requestSave();
  if (!actions.openFolder.empty()) openLink(fileUrl(actions.openFolder));
  if (actions.showButtonsPage) toggleButtonsPage();
}

void drawUI() {
  static double s_lastDevicePoll = -1.0;
  static HIDMonitor::DeviceSelection s_devices;

  dashboard::UiState ui;
  ui.stats = g_analyzer.getStats();
  ui.testState = static_cast<int32_t>(g_testState);

  const double now = ImGui::GetTime();
  if (now - s_lastDevicePoll >= kDevicePollSeconds) {
    s_lastDevicePoll = now;
    // The list and the selection in one read: an arrival or removal between
    // two reads would mark the wrong mouse as selected.
    s_devices = g_monitor.getDevicesAndSelection();
    // The permission is refreshed only alongside a device poll.
    if (now - g_lastPermissionCheck >= kPermissionRefreshSeconds) {
      g_lastPermissionCheck = now;
      g_permission = HIDMonitor::permissionStatus();
      // Tagged while a test runs: only then is the window drawn at 60 frames
      // a second; idle, it draws about once a second.
      hidDebugLog("fps=%.1f%s", static_cast<double>(ImGui::GetIO().Framerate),
                  g_testState == TestState::Running ? " running" : "");
    }
    reapChildren();
  }
  ui.devices = s_devices.devices;
  ui.selectedDevice = s_devices.selected;
  const PlatformAlert alert = makePlatformAlert(g_permission, g_monitor.getLastError());
  ui.alert = alert;
  ui.canSave = canSaveResult(ui.stats);
  ui.notice = currentNotice(now);
  fillMouseFacts(ui);
  fillVerdict(ui, now);

  if (buttonsPage().isOpen()) {
    drawButtonsPage(ui);
    g_analyzer.update();
    return;
  }
  const dashboard::UiActions actions = dashboard::draw(ui);
  applyActions(actions, alert);
  // The user's own choice shows in the next frame.
  if (actions.selectDevice >= 0) s_lastDevicePoll = -1.0;
  g_analyzer.update();
}

void advanceWithoutFrame() { g_analyzer.update(); }

void connectMonitor() {
  g_monitor.setReportCallback(
      [](std::chrono::steady_clock::time_point t, const ReportMotion& motion) {
        buttonsPage().onMotion(t, motion);
        if (!g_rateRunning.load(std::memory_order_relaxed)) return;
        g_analyzer.addTimestamp(t);
        g_stamps.add(t, motion, g_monitor.deliveringDeviceSerial());
      });
  g_monitor.setButtonCallback([](std::chrono::steady_clock::time_point t, uint16_t code,
                                 int32_t value) { buttonsPage().onButton(t, code, value); });
  g_monitor.setKernelDropCallback([] {
    g_analyzer.noteKernelDrop();
    g_stamps.noteKernelDrop();
  });
}

void stopMonitorBeforeExit() { g_monitor.stop(); }

void installExitGuard() {
  static std::once_flag once;
  std::call_once(once, [] { std::atexit(stopMonitorBeforeExit); });
}
