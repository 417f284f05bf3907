#pragma once

#include <string>

#include "cli/MeasureRun.h"

// `quillmark cpi`: the sensor's resolution from strokes along a ruler. The
// user moves the mouse a known distance three times, each after a
// countdown; a stroke starts with the first motion after a rest and ends
// when the mouse has been still for a moment.
namespace cli {

struct CpiOptions {
  std::string device;
  double distanceMm = 0;
  std::string distanceText;  // as given, for the prompts ("10cm")
  int countdownSeconds = 3;
  double strokeWaitSeconds = 60;  // for each stroke to start and end
  bool json = false;
};

// Main thread; `monitor` not started yet (started and stopped here).
int runCpi(const CpiOptions& options, HIDMonitor& monitor, const Console& console);

}  // namespace cli
