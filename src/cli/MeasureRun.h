#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class HIDMonitor;
struct HIDDeviceInfo;
namespace results {
struct TestRecord;
}

// `quillmark measure`: one test of one mouse through the window's measuring
// path (HIDMonitor, its router, PollingAnalyzer) with no display.
namespace cli {

// Exit statuses of the terminal commands (--help, the manual page and the
// README say the same). When a test ended badly and an output also failed,
// the status is 1: a result that was not written is the worse news, and the
// summary still says how the test ended.
enum ExitStatus : int {
  kExitOk = 0,
  kExitFileError = 1,     // a result file or standard output could not be written
  kExitUsage = 2,         // bad options; nothing was measured
  kExitNoAccess = 3,      // the mouse cannot be opened (no read access, or another error)
  kExitNoMouse = 4,       // no mouse, none matching --device, or it went away during the test
  kExitNoReports = 5,     // no report within --wait seconds
  kExitTargetMissed = 6,  // --require-target, and the verdict is not "reached"
  kExitDeviceError = 7,   // reading the mouse failed during the test
  kExitBadRecording = 8,  // analyze, compare: a file cannot be read as a recording or a result
  kExitChatter = 9,       // buttons --require-clean: a button chattered
};

struct MeasureOptions {
  std::string device;  // index, node or part of the name; empty: automatic choice
  double seconds = 10.0;
  std::optional<float> targetHz;  // default: the rate the host polls at (see completeRecord)
  double waitSeconds = 30.0;      // for the first report
  bool json = false;
  bool details = false;        // the summary with every figure
  bool brief = false;          // one line for scripts instead of the summary
  bool requireTarget = false;  // status 6 unless the target is reached
  double cpi = 0;  // --cpi: the mouse's counts per inch, for speeds in cm/s; 0: not given
  std::string intervalsPath;  // "-": standard output
  std::string plotPath;
  // --out, --repeat, --label: each test's result folder under `outDir`
  // ("." when only --repeat or --label asks for folders).
  std::optional<std::string> outDir;
  int repeat = 1;
  std::string label;  // the setup the tests belong to; starts each folder's name
  bool savesFolders() const { return outDir || repeat > 1 || !label.empty(); }
};

// Where the commands write, and how they learn that the user wants to stop.
struct Console {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool outClosed = false;               // standard output was closed at start: writes to `out` fail
  bool liveLine = false;                // refresh a status line on err
  std::function<bool()> stopRequested;  // polled on the calling thread; may be empty
  // Called once the HID thread runs (it keeps the signal mask it started with).
  std::function<void()> hidThreadStarted;
  // While the result files are written: a line naming the ones not written
  // yet, for a second stop request to print as it ends the program at once,
  // and the line once the file now being written is in place (the stop may
  // land between its rename and the next notice); empty once they are all
  // written. May be empty.
  std::function<void(const std::string& line, const std::string& onceWritten)> urgentStopNotice;
  // For the commands that read files: from now on a stop request ends the
  // program at once, with one line and no half-written file. May be empty.
  std::function<void()> endOnStopRequest;
};

// Writes `text` to the console's standard output and flushes it; on failure
// (a full disk, a broken pipe, a closed descriptor) one line on err and false.
bool writeOut(const Console& console, const std::string& text);

// Whether the files asked for (an empty path: not asked) can be written, as
// results::checkWritable() tells, before any work: false after one line per
// file that cannot.
bool resultFilesWritable(const std::string& intervalsPath, const std::string& plotPath,
                         const Console& console);

// Writes a record's intervals CSV and plot where asked (an empty path: not
// asked), one console line each; 0, or kExitFileError when any failed.
int writeResultFiles(const results::TestRecord& record, const std::string& intervalsPath,
                     const std::string& plotPath, const Console& console);

// Starts the monitor's HID thread and tells the console's hidThreadStarted;
// false, after one console line, when the thread cannot be created.
bool startHIDThread(HIDMonitor& monitor, const Console& console);

// Called with the test's record once its summary is out; its status joins the run's.
using RecordSaver = std::function<int(const results::TestRecord& record)>;
// Picks the mouse `wanted` names (an index, a node or part of a name; empty:
// the automatic choice) on a started monitor and holds the selection on it;
// an exit status, after the console lines saying why, when it cannot be read.
std::optional<int> pickMouse(HIDMonitor& monitor, const std::string& wanted, const Console& console,
                             HIDDeviceInfo& chosen);

// Runs the test on `monitor` (not started yet; started and stopped here).
// Main thread.
int runMeasure(const MeasureOptions& options, HIDMonitor& monitor, const Console& console,
               const RecordSaver& save = {});

// --out/--repeat/--label: `options.repeat` tests one after another, each on a
// monitor of its own, with a countdown between them; each test that ran its
// length is saved as a result folder. A stop keeps the folders saved so far
// and saves nothing of the test it cut short. Main thread.
int runMeasureSeries(const MeasureOptions& options,
                     const std::function<std::unique_ptr<HIDMonitor>()>& makeMonitor,
                     const Console& console);

}  // namespace cli
