#pragma once

#include <optional>
#include <string>

#include "cli/MeasureRun.h"

// `quillmark analyze`: the figures of a recording the user already has, as
// `measure` gives them for a live test.
namespace cli {

struct AnalyzeOptions {
  std::string file;
  std::optional<int> device;      // index among the file's devices
  std::optional<float> targetHz;  // default: the standard rate nearest the baseline
  bool json = false;
  std::string intervalsPath;
  std::string plotPath;
};

// Reads the file, replays its reports through the live analyzer on a clock
// of its own and prints and writes what `measure` would. Main thread (the
// replay clock is the process's one).
int runAnalyze(const AnalyzeOptions& options, const Console& console);

}  // namespace cli
