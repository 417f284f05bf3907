#pragma once

#include <optional>
#include <string>

#include "cli/ButtonsReport.h"
#include "cli/MeasureRun.h"
#include "recordings/Recording.h"
#include "results/TestRecord.h"

// `quillmark analyze`: the figures of a recording the user already has, as
// `measure` gives them for a live test.
namespace cli {

struct AnalyzeOptions {
  std::string file;
  std::optional<int> device;      // index among the file's devices
  std::optional<float> targetHz;  // default: the rate the host polls at (see completeRecord)
  bool json = false;
  bool details = false;  // the summary with every figure
  bool brief = false;    // one line for scripts instead of the summary
  std::string intervalsPath;
  std::string plotPath;
};

// A recording read and replayed: the record `measure` would have made of
// its reports, and the file's description (its reports moved into the record).
struct AnalyzedFile {
  results::TestRecord record;
  recordings::Recording source;
  // The result JSON the device, the environment and the start were taken
  // from (the reports are its intervals file); empty when there is none.
  std::string resultFile;
  // The switch test of the file's button events; nullopt when it has none.
  std::optional<ButtonTest> buttons;
};

// Reads and replays `options.file`; nullopt after one line on the console's
// err, with the exit status in `status`. Main thread.
std::optional<AnalyzedFile> analyzeFile(const AnalyzeOptions& options, const Console& console,
                                        int& status);
// The result document of a recording: measure's, with a `source` object.
std::string analyzedJson(const AnalyzedFile& analyzed, const std::string& file);

// Reads the file, replays its reports through the live analyzer on a clock
// of its own and prints and writes what `measure` would. Main thread (the
// replay clock is the process's one).
int runAnalyze(const AnalyzeOptions& options, const Console& console);

}  // namespace cli
