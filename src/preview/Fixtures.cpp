#include "Fixtures.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "app/PlatformActions.h"
#include "hid/service/ErrnoResult.h"
#include "i18n/Translate.h"
#include "results/FileWriter.h"

namespace dashboard {
namespace {

// Deterministic noise so every preview run draws the same pictures.
class Noise {
 public:
  float next() {  // -1 .. 1
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<float>(state_ >> 8) / static_cast<float>(1u << 23) - 1.0f;
  }

 private:
  uint32_t state_ = 12345u;
};

std::vector<HIDDeviceInfo> twoMice() {
  HIDDeviceInfo wireless;
  wireless.manufacturer = "Halden";
  wireless.product = "Corvid Pro Wireless";
  wireless.transport = "USB";
  wireless.opened = true;
  HIDDeviceInfo touchpad;
  touchpad.product = "SYNA2B31:00 06CB:CE7D Touchpad";
  touchpad.transport = "I2C";
  touchpad.opened = false;
  return {wireless, touchpad};
}

// 25 bins around the baseline: a narrow peak with a small tail of late reports.
void fillDiagnostics(PollingStats& s, float rateHz, Noise& noise) {
  const float baselineUs = 1e6f / rateHz;
  const float b = baselineUs / 10.0f;
  const float ladder[] = {10, 20, 50, 100, 200, 500, 1000};
  s.binWidthUs = 2000;
  for (float w : ladder) {
    if (w >= b) {
      s.binWidthUs = w;
      break;
    }
  }
  s.histogram.assign(25, 0);
  const int centre = static_cast<int>(baselineUs / s.binWidthUs);
  s.histogram[centre] = 3400;
  s.histogram[centre - 1] = 310;
  s.histogram[centre + 1] = 280;
  s.histogram[centre - 2] = 12;
  s.histogram[centre + 2] = 25;
  s.histogram[std::min(centre + 6, 24)] = 9;
  s.histogram[std::min(centre + 10, 24)] = 3;
  s.baselineUs = baselineUs;
  s.baselineHz = rateHz;
  s.jitterUs = baselineUs * (0.035f + 0.005f * noise.next());
  s.stability = 1.0f - s.jitterUs / baselineUs;
  s.anomalyCount = 12;
  s.anomalyRatio = 12.0f / 4096.0f;
}

UiState idleNoMouse() { return UiState{}; }

UiState idleWithMouse() {
  UiState ui;
  ui.devices = twoMice();
  ui.selectedDevice = 0;
  ui.stats.history.assign(600, 0.0f);
  return ui;
}

UiState paused() {
  UiState ui = runningState(1000);
  ui.testState = 2;
  ui.stats.currentHz = 0;
  return ui;
}

// Paused, then saved: the picture keeps the rate it ran at.
UiState pausedAndSaved() {
  UiState ui = paused();
  ui.notice.text = i18n::tr("结果已保存（点击打开文件夹）");
  ui.notice.detail =
      "/home/user/Documents/Quillmark/2026-12-07_103205_Halden_Corvid_Pro_Wireless_USB_3-1.4";
  ui.notice.openPath = ui.notice.detail;
  return ui;
}

// Two receivers of one model, told apart by their USB ports.
UiState twoIdenticalMice() {
  UiState ui = runningState(1000);
  ui.devices = {ui.devices[0], ui.devices[0]};
  ui.devices[0].portPath = "3-1.4";
  ui.devices[1].portPath = "3-2";
  ui.selectedDevice = 1;
  return ui;
}

// An 8000 Hz mouse under a hand that gives about 2000 counts/s.
UiState slowHandAt8k() {
  UiState ui = runningState(8000);
  ui.configuredHz = 8000;
  ui.stats.currentHz = 1990;
  ui.speedLimited = true;
  ui.handCountsPerS = 1994;
  char verdict[128];
  std::snprintf(verdict, sizeof verdict, i18n::tr("手速不足以判断：需约 %.0f counts/s"), 8000.0);
  ui.verdictText = verdict;
  ui.verdictTone = VerdictTone::Neutral;
  ui.handLimited = true;
  return ui;
}

// A fast hand, several counts per report, and the rate stays at half.
UiState deviceLimitedAt8k() {
  UiState ui = runningState(8000);
  ui.configuredHz = 8000;
  ui.stats.currentHz = 4010;
  ui.deviceLimited = true;
  ui.handCountsPerS = 24000;
  ui.verdictText = i18n::tr("鼠标或其连接未达到目标");
  ui.verdictTone = VerdictTone::Bad;
  return ui;
}

// The banners come from the shell's own alert rules and the linux service's
// own error text, so the pictures show what a user would read.
PlatformAlert permissionAlert() { return makePlatformAlert(PermissionStatus::Denied, HIDError{}); }

PlatformAlert busyDeviceAlert() {
  const hidservice::Result busy = hidservice::errnoResult("open /dev/input/event7", EBUSY);
  return makePlatformAlert(PermissionStatus::Granted,
                           HIDError{HIDStatus::DeviceError, busy.code, busy.text});
}

// The mouse keeps 1000 Hz on average but reports slower right now: the
// verdict line follows the whole test.
UiState belowTarget() {
  UiState ui = runningState(1000);
  ui.stats.currentHz = 780;
  ui.verdictText = i18n::tr("达到目标");
  ui.verdictTone = VerdictTone::Good;
  return ui;
}

// An 8000 Hz mouse that the host polls at 1000 Hz.
UiState hostLimitedAt8k() {
  UiState ui = runningState(1000);
  ui.configuredHz = 8000;
  char verdict[128];
  std::snprintf(verdict, sizeof verdict, i18n::tr("主机把回报率限制在 %.0f Hz"), 1000.0);
  ui.verdictText = verdict;
  ui.verdictTone = VerdictTone::Warn;
  return ui;
}

UiState permissionBanner() {
  UiState ui;
  ui.devices = twoMice();
  ui.devices[0].opened = false;
  ui.selectedDevice = 0;
  ui.alert = permissionAlert();
  return ui;
}

UiState errorBanner() {
  UiState ui = runningState(1000);
  ui.alert = busyDeviceAlert();
  return ui;
}

// Kernel buffer overflows and a stall during the test, right after a save.
UiState dropsAndSaved() {
  UiState ui = runningState(1000);
  ui.stats.kernelDrops = 2;
  ui.stats.kernelDroppedReports = 37;
  ui.stats.longestIntervalUs = 31250;
  ui.canSave = true;
  ui.notice.text = i18n::tr("结果已保存（点击打开文件夹）");
  ui.notice.detail = "/home/user/Documents/Quillmark/2026-12-07_103205_Halden_Corvid_Pro_Wireless";
  ui.notice.openPath = ui.notice.detail;
  return ui;
}

// The test runs but the mouse lies still.
UiState mouseQuiet() {
  UiState ui = runningState(1000);
  ui.stats.currentHz = 0;
  ui.stats.mouseQuiet = true;
  return ui;
}

UiState saveFailed() {
  UiState ui = runningState(1000);
  ui.canSave = true;
  ui.notice.text = i18n::tr("保存失败");
  ui.notice.detail = "mkdir /home/user/Documents/Quillmark failed: " + results::errnoText(EACCES);
  ui.notice.failed = true;
  return ui;
}

}  // namespace

UiState runningState(float rateHz) {
  UiState ui;
  ui.devices = twoMice();
  ui.selectedDevice = 0;
  ui.testState = 1;
  Noise noise;
  PollingStats& s = ui.stats;
  s.history.resize(600);
  for (size_t i = 0; i < s.history.size(); ++i) {
    float v = rateHz * (1.0f + 0.004f * noise.next());
    if (i == 180 || i == 181)
      v = rateHz * 0.86f;  // a short dip, as when the mouse stops for a moment
    s.history[i] = v;
  }
  s.currentHz = s.history.back();
  s.maxHz = rateHz * 1.012f;
  s.minHz = rateHz * 0.86f;
  s.avgHz = rateHz * 0.998f;
  s.statsValid = true;
  s.reportCount = static_cast<int64_t>(rateHz * 30);
  s.longestIntervalUs = 1.9e6f / rateHz;
  fillDiagnostics(s, rateHz, noise);
  ui.canSave = true;
  ui.elapsedSeconds = 30.0;
  return ui;
}

// A left button that bounced twice and is held, a clean right one and a
// side button; a CPI measurement done.
ButtonsPageState chatteringSwitch() {
  std::vector<buttons::ButtonEdge> e;
  const auto at = [&e](double ms, uint16_t code, bool down) {
    e.push_back({static_cast<int64_t>(ms * 1e6), code, down});
  };
  for (int i = 0; i < 12; ++i) {
    at(100 + 125 * i, 0x110, true);
    at(160 + 125 * i, 0x110, false);
    if (i == 3 || i == 8) {
      at(162 + 125 * i, 0x110, true);
      at(165 + 125 * i, 0x110, false);
    }
  }
  at(1700, 0x111, true);
  at(1790, 0x111, false);
  at(1900, 0x113, true);
  at(1980, 0x113, false);
  at(2100, 0x110, true);
  std::sort(e.begin(), e.end(), [](auto& a, auto& b) { return a.ns < b.ns; });
  ButtonsPageState page;
  page.deviceName = "Halden Corvid Pro Wireless [USB]";
  page.summary = buttons::summarizeButtons(e);
  page.held = 1u;
  page.cpi.step = CpiView::Step::Done;
  page.cpi.result = cpi::measureCpi({{3162, 41}, {3139, -12}, {3151, 5}}, 10 / cpi::kCmPerInch);
  return page;
}

std::vector<Fixture> previewFixtures() {
  const ImVec2 size(1280, 820);
  return {
      {"idle-no-mouse", size, idleNoMouse()},
      {"running-1000hz", size, runningState(1000)},
      {"running-8000hz", size, runningState(8000)},
      {"running-below-target", size, belowTarget()},
      {"paused", size, paused(), 1000},
      {"idle-with-mouse", size, idleWithMouse()},
      {"paused-and-saved", size, pausedAndSaved(), 1000},
      {"two-identical-mice", size, twoIdenticalMice()},
      {"slow-hand-8000hz", size, slowHandAt8k()},
      {"slow-hand-cpi-800-900x640", ImVec2(900, 640),
       [] {
         UiState ui = slowHandAt8k();
         ui.cpi = 800;  // measured on the buttons page
         return ui;
       }()},
      {"device-limited-8000hz", size, deviceLimitedAt8k()},
      {"host-limited-8000hz", size, hostLimitedAt8k()},
      {"permission-banner", size, permissionBanner()},
      {"error-banner", size, errorBanner()},
      {"too-small", ImVec2(700, 480), runningState(1000)},
      {"drops-and-saved-900x640", ImVec2(900, 640), dropsAndSaved()},
      {"drops-and-saved", ImVec2(1180, 820), dropsAndSaved()},
      {"mouse-quiet-900x640", ImVec2(900, 640), mouseQuiet()},
      {"save-failed", ImVec2(1180, 820), saveFailed()},
      {"buttons-chatter", size, idleWithMouse(), 0, chatteringSwitch()},
      {"buttons-chatter-900x640", ImVec2(900, 640), idleWithMouse(), 0, chatteringSwitch()},
  };
}

}  // namespace dashboard
