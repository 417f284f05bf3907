#pragma once

#include "cli/MeasureRun.h"

// The terminal side of the program: `quillmark list`, `quillmark measure`,
// --help and --version. None of it needs a display.
namespace cli {

// Parses argv (argc > 1) and runs the command; returns the exit status.
// Main thread; `console.stopRequested` is polled during a test.
int run(int argc, char** argv, const Console& console);

// Lists the mice of `monitor` (not started yet). Main thread.
int runList(bool json, HIDMonitor& monitor, const Console& console);

}  // namespace cli
