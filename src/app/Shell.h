#pragma once

#include "analysis/PollingAnalyzer.h"
#include "app/TestState.h"
#include "dashboard/Dashboard.h"
#include "dashboard/PlatformAlert.h"
#include "hid/HIDMonitor.h"
#include "hid/Permission.h"

// The process-wide objects and flags of the shell. The monitor is constructed
// first and the analyzer second (one translation unit, in that order). All of
// it is used on the main thread only, apart from the analyzer's
// addTimestamp(), which the HID thread calls through the report callback.
extern HIDMonitor g_monitor;
extern PollingAnalyzer g_analyzer;
extern TestState g_testState;
extern bool g_quitRequested;
extern PermissionStatus g_permission;
extern double g_lastPermissionCheck;  // seconds of Dear ImGui time

// The test controls, shared by the dashboard's buttons and the keys. The
// monitor's monitoring flag is on exactly while g_testState is Running.
void requestStart();  // start, or continue a paused test
void requestPause();
void requestReset();
// Between the rate dashboard and the buttons and CPI page (key B, or a click
// on either page). The buttons are recorded while their page is shown.
void toggleButtonsPage();

// Applies one frame's actions in the order start, pause, reset, device,
// link, alert button, then save and the notice's folder; `alert` is the
// alert drawn in the same frame.
void applyActions(const dashboard::UiActions& actions, const PlatformAlert& alert);

// Installs the monitor's report and kernel-drop callbacks, which feed the
// analyzer and the window's stamps. Once, before g_monitor.start().
void connectMonitor();

// One frame of the shell: snapshot, device poll and permission refresh,
// dashboard, actions, analyzer update. Between ImGui::NewFrame and Render.
void drawUI();

// Between frames of an idle window: the analyzer's update alone, so the
// rate history takes a sample every period whether or not a frame is drawn.
void advanceWithoutFrame();

// Stops the monitor (joining the HID thread and writing a running capture)
// before the analyzer goes away, whichever way the process ends: called by
// main's shutdown, and registered with atexit for exit() from anywhere else.
void stopMonitorBeforeExit();
void installExitGuard();
