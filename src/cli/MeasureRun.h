#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

class HIDMonitor;

// `quillmark measure`: one test of one mouse through the window's measuring
// path (HIDMonitor, its router, PollingAnalyzer) with no display.
namespace cli {

// Exit statuses of the terminal commands.
enum ExitStatus : int {
  kExitOk = 0,
  kExitFileError = 1,  // a result file could not be written
  kExitUsage = 2,
  kExitNoAccess = 3,
  kExitNoMouse = 4,
  kExitNoReports = 5,
  kExitBadRecording = 6,  // `analyze`: the file cannot be read as a recording
};

struct MeasureOptions {
  std::string device;  // index, node or part of the name; empty: automatic choice
  double seconds = 10.0;
  std::optional<float> targetHz;  // default: the standard rate nearest the baseline
  double waitSeconds = 30.0;      // for the first report
  bool json = false;
  std::string intervalsPath;
  std::string plotPath;
};

// Where the commands write, and how they learn that the user wants to stop.
struct Console {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool liveLine = false;                // refresh a status line on err
  std::function<bool()> stopRequested;  // polled on the calling thread; may be empty
  // Called once the HID thread runs (it keeps the signal mask it started with).
  std::function<void()> hidThreadStarted;
};

// Starts the monitor's HID thread and tells the console's hidThreadStarted;
// false, after one console line, when the thread cannot be created.
bool startHIDThread(HIDMonitor& monitor, const Console& console);

// Runs the test on `monitor` (not started yet; started and stopped here).
// Main thread.
int runMeasure(const MeasureOptions& options, HIDMonitor& monitor, const Console& console);

}  // namespace cli
