#pragma once

#include <string>

#include "analysis/ButtonAnalysis.h"
#include "cli/MeasureRun.h"

// `quillmark buttons`: the switch test. Every press and release of the chosen
// mouse's buttons, through the same reader and router as the rate's reports,
// until Ctrl-C or --seconds; figures per button and the chatter found.
namespace cli {

struct ButtonsOptions {
  std::string device;
  double seconds = 0;  // 0: until Ctrl-C
  double chatterMs = buttons::kDefaultChatterMs;
  bool json = false;
  bool requireClean = false;  // status 9 when a button chattered
  std::string eventsPath;     // CSV of every edge; "-": standard output
};

// Main thread; `monitor` not started yet (started and stopped here).
int runButtons(const ButtonsOptions& options, HIDMonitor& monitor, const Console& console);

}  // namespace cli
