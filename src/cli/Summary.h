#pragma once

#include <string>

#include "results/TestRecord.h"

// What the terminal prints about a test. Plain functions; any thread.
namespace cli {

// The summary after a test: one figure per line, the labels of the window.
std::string summaryText(const results::TestRecord& record);

// A label (already in the language shown) padded to the summary's label
// column, and the two spaces before its value.
std::string summaryLabel(const char* label);

// The line refreshed while a test runs (no line break, no control codes).
std::string liveLineText(float currentHz, int64_t reports, double elapsedSeconds,
                         double totalSeconds, int64_t kernelDrops);

}  // namespace cli
