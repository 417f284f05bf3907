#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/PollingRules.h"
#include "analysis/PollingStats.h"
#include "analysis/RateCause.h"
#include "analysis/WholeTestAnalysis.h"
#include "results/StampRecorder.h"
#include "results/TestVerdict.h"

namespace results {

// Who was measured; filled from the monitor's device record.
struct DeviceIdentity {
  std::string name;  // as the device list shows it
  std::string product;
  std::string manufacturer;
  std::string transport;
  int32_t vendorId = 0;  // -1 (both) when not known: a recording that does not say
  int32_t productId = 0;
  int32_t reportIntervalUs = 0;  // the interval the host polls at; 0 when unknown
  int64_t reportIntervalNs = 0;  // the same, exact (62.5 µs is 62500); 0: whole µs only
  // The interval the mouse's endpoint descriptor asks for, before the host's
  // rounding; 0 when unknown.
  int32_t requestedIntervalUs = 0;
  // Why the two differ: "" | "interval_rounding" | "usbhid_mousepoll" | "ps2_sample_rate".
  std::string configuredReason;
  int usbhidMousepollMs = -1;  // usbhid's mousepoll parameter; -1 when the module is not loaded
  std::string node;            // event node, empty for virtual mice
  double busSpeedMbps = 0.0;   // 0 when unknown
  std::string portPath;        // USB port path ("3-1.4"), empty when not USB
  std::string hostDriver;      // the USB host controller's driver
};

// The rate the host polls the mouse at: on USB after the host's rounding
// and usbhid's mousepoll, on PS/2 the sample rate, the virtual mice's own;
// 0 when unknown, e.g. over Bluetooth.
float configuredHz(const DeviceIdentity& device);
// The host's interval (µs) to the nanosecond; 0 when unknown.
double exactIntervalUs(const DeviceIdentity& device);
// The rate the mouse asks for, from its endpoint descriptor; 0 when unknown.
float requestedHz(const DeviceIdentity& device);
// Hubs between the mouse and its root port: "3-1.4" is behind one hub.
int hubDepth(const std::string& portPath);

enum class TestEnd {
  Completed,    // ran for the time asked for
  Interrupted,  // ended early by the user (Ctrl-C, the window's controls)
  DeviceLost,   // the mouse went away during the test
  DeviceError,  // reading the mouse failed during the test
};
// "completed", "interrupted", "device_lost" or "device_error".
const char* testEndKey(TestEnd end);

// One mouse's share of a test's reports.
struct DeviceReports {
  DeviceIdentity device;
  int64_t reports = 0;
  StampSeries stamps;                     // its kept reports (see mouseStamps)
  std::optional<WholeTestFigures> whole;  // their figures; empty when not analyzed
};

// Where a test's target rate came from.
enum class TargetSource {
  Window,           // chosen in the window
  Option,           // given with --target
  Configured,       // the rate the host polls the mouse at
  NearestStandard,  // a USB mouse: the standard rate nearest the estimated grid's
  Estimated,        // other links: the estimated grid's own rate
};
// "window", "option", "configured", "nearest_standard" or "estimated".
const char* targetSourceKey(TargetSource source);

// How a rate compares to the target, by the dashboard's colour bands.
enum class TargetVerdict { Unknown, Below, Near, Reached };
TargetVerdict targetVerdict(float rateHz, float targetHz);
// "达到目标", "略低于目标", "远低于目标" or "无数据".
const char* targetVerdictText(TargetVerdict verdict);
// "reached", "near", "below" or "unknown": the JSON word.
const char* targetVerdictKey(TargetVerdict verdict);
// The rate the verdict is about: the test's average, or the baseline rate
// while there is no average yet.
float verdictRateHz(const PollingStats& stats);

// The whole test against its target: the rate while moving, compared.
struct WholeTestVerdict {
  std::string reason;  // why the verdict is unknown, in words; empty otherwise
  float comparedHz = 0.0f;
  float ratio = 0.0f;  // 0 without a target
  TargetVerdict verdict = TargetVerdict::Unknown;
};
WholeTestVerdict wholeTestVerdict(const WholeTestFigures& whole, float targetHz);

// Whole-test figures held against their target: the verdict on the mouse
// and the cause of a shortfall, judged once for every writer.
struct WholeJudgement {
  float targetHz = 0.0f;
  TargetSource targetSource = TargetSource::Window;
  WholeTestVerdict verdict;
  bool comparedCapability = false;  // the verdict compared the capability, else the moving rate
  // Why the rate while moving fell short, against the target (the verdict's
  // yardstick); nullopt when there is nothing to judge.
  std::optional<RateCause> cause;
  double kernelDroppedShare = 0.0;  // reports the kernel dropped, of those recorded
  // The test's one verdict (TestVerdict.h): what every surface shows.
  TestVerdict test;
};

// The analyzer's average against the target: the verdict the window shows.
struct LiveVerdict {
  float comparedHz = 0.0f;  // verdictRateHz
  float ratio = 0.0f;       // 0 without a target
  double intervalUs = 0.0;  // the target's interval; 0 without a target
  TargetVerdict verdict = TargetVerdict::Unknown;
};

// A mouse's rates as the host and the mouse state them; 0 when unknown.
struct DeviceRates {
  float configuredHz = 0.0f;
  float requestedHz = 0.0f;
};

// One mouse of a test that changed mouse: its rates and, when its reports
// were analyzed, its judgement.
struct DeviceJudgement {
  DeviceRates rates;
  std::optional<WholeJudgement> whole;
};

// Everything completeRecord derives from the rest of the record; the
// writers read these and compute nothing of their own.
struct DerivedFigures {
  DeviceRates rates;  // of TestRecord::device
  WholeJudgement whole;
  LiveVerdict live;
  std::vector<DeviceJudgement> devices;  // one per TestRecord::devices
  // The kernel the reports came through; nullopt when not known.
  std::optional<std::string> kernelRelease;
  std::optional<int> hubDepth;  // nullopt when the mouse is not on USB
  const char* endKey = "completed";
};

// One finished (or stopped) test: everything the result files are written
// from. A plain value; build it on the main thread, pass it anywhere.
struct TestRecord {
  DeviceIdentity device;  // the mouse measured; of several, the one with the most reports
  // Every mouse whose reports the test holds, in the order of their first
  // report, when there was more than one (the window's selection can change
  // during a test); empty otherwise.
  std::vector<DeviceReports> devices;
  // With several devices: which one `whole` is about (the one with the most
  // reports), and the report indexes at which another mouse's begin.
  std::optional<std::size_t> wholeDevice;
  std::vector<std::size_t> mouseChanges;
  // The first report; nullopt when not known (a recording without wall-clock stamps).
  std::optional<std::chrono::system_clock::time_point> start;
  // The kernel the reports came through, as `uname -r` gives it: nullopt for
  // a test on this machine (the result files ask it); for a recording, the
  // one the file names, else empty.
  std::optional<std::string> kernelRelease;
  double durationSeconds = 0.0;  // first report to the end of the test
  float targetHz = 0.0f;
  TargetSource targetSource = TargetSource::Window;
  // The target is each mouse's own (the window's automatic target), not one
  // chosen for the test: each mouse of devices[] is held against its own.
  bool targetFollowsMouse = false;
  TestEnd end = TestEnd::Completed;
  std::string endError;  // what failed, for TestEnd::DeviceError; empty otherwise
  // The setup the test belongs to (`measure --label`): runs that share it are
  // repeats of one setup for `compare`; empty when not given.
  std::string label;
  PollingStats stats;  // the analyzer's snapshot at the end
  StampSeries stamps;  // per report, for the intervals file and the plot
  std::size_t stampLimit = StampRecorder::kDefaultLimit;
  // The figures of every recorded report (of the mouse `wholeDevice` names),
  // judged against the target; filled once by completeRecord (analyzing ten
  // minutes at 8000 Hz takes a while), or before it by whoever built them.
  std::optional<WholeTestFigures> whole;
  // Filled by completeRecord; every writer needs it.
  std::optional<DerivedFigures> derived;
};

// The record as its plot draws it: of a test that changed mouse, the
// reports and figures of the mouse `whole` is about; else the record.
TestRecord plottedRecord(const TestRecord& record);

// The host's interval for the grid, when the device says what it is.
WholeTestOptions wholeTestOptions(const DeviceIdentity& device);
WholeTestOptions wholeTestOptions(const TestRecord& record);

// The one step between a recording and the writers. Analyzes the stamps
// (each mouse's, of a test that changed mouse) unless already done, sets the
// target (the one given, with its source, else defaultTargetHz()), judges
// the capability against it and fills `derived`: verdicts, cause, rates and
// environment. For a record of a finished test or a recording.
void completeRecord(TestRecord& record, std::optional<float> givenTargetHz,
                    TargetSource givenSource = TargetSource::Option);

// The derived figures of a completed record. A record handed to a writer
// before completeRecord is a fault in the program: it stops here.
const DerivedFigures& derivedOf(const TestRecord& record);

// Without a target given: the rate the host polls the mouse at when known, else the
// standard rate nearest the median interval's rate (a mouse moved slowly
// still reports in its own slots, so the median shows its rate).
float defaultTargetHz(const DeviceIdentity& device, const WholeTestFigures& whole,
                      TargetSource& source);

// The wall-clock time of a steady-clock stamp, read against both clocks now.
std::chrono::system_clock::time_point wallTimeOf(std::chrono::steady_clock::time_point t);

// The window's target rates, and the one nearest to a rate (the lower wins a
// tie; 1000 Hz when there is no rate).
using pollingrules::kTargetRatesHz;
float nearestTargetHz(float rateHz);

// "046d:c077": vendor and product id as four hex digits each.
std::string vidPidText(int32_t vendorId, int32_t productId);

}  // namespace results
