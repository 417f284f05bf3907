#pragma once

#include <optional>
#include "dashboard/Dashboard.h"
#include "dashboard/PngWriter.h"

#include "results/StampRecorder.h"
#include "results/TestRecord.h"

// Saving the running test from the window: the 保存结果 button and the E
// key ask for it; after the frame is drawn the frame loop reads the window
// back and calls saveWindowResult(). Main thread, apart from g_stamps.add(),
// which the HID thread calls through the report callback.

// The stamp of every report of the current test (reset with the analyzer),
// each with the serial of the mouse it came from.
extern results::StampRecorder g_stamps;

// The test as it stands: the analyzer's figures and every stamp so far, and
// the target the user picked (nullopt while it follows the mouse); for
// results::completeRecord(record, picked, TargetSource::Window). Main thread.
struct PendingRecord {
  results::TestRecord record;
  std::optional<float> picked;
};
PendingRecord pendingRecord();

// A test has figures to save: one was started and a rate was measured
// (stats: the analyzer's, as this frame shows them).
bool canSaveResult(const PollingStats& stats);
bool canSaveResult();
// Asks for a save after this frame. Without figures it asks for nothing and
// the notice says why (no test yet, too early, just reset); the rule is
// checked again when the save runs.
void requestSave();
// The running test was reset (its figures are gone until new reports come).
void noteTestReset();
// True once per request; the frame loop then reads the window back.
bool takeSaveRequest();

// Writes the result folder with `window` as dashboard.png under the
// documents folder, writes one console line and sets the notice. A test
// without figures by now (reset since the request) writes nothing, and only
// the notice says why.
void saveWindowResult(const PixelImage& window);

// The notice to show at ImGui time `now`: the last save's, for a while.
dashboard::Notice currentNotice(double now);
// ImGui time at which the shown notice goes away; a huge number when none does.
double noticeEndsAt();

// Forgets a pending request and the notice (tests).
void resetWindowSave();
