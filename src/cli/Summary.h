#pragma once

#include <string>

#include "results/TestRecord.h"

// What the terminal prints about a test. Plain functions; any thread.
namespace cli {

// The summary after a test: the verdict and its cause first, then one
// figure per line; with `details` the count step, the speed bands and the
// grid too.
// `cpi`, when the user gave the mouse's measured CPI, adds the hand's speed in cm/s.
std::string summaryText(const results::TestRecord& record, bool details = false, double cpi = 0);

// Counts per second as centimetres per second at `cpi` counts per inch.
double cmPerSecond(double countsPerS, double cpi);

// --brief: "reached|near|below|unknown <judged Hz|-> <target Hz> <cause kind>"
// and a line break; the same words in every language.
std::string briefLine(const results::TestRecord& record);

// A label (already in the language shown) padded to the summary's label
// column, and the two spaces before its value.
std::string summaryLabel(const char* label);

// What the line refreshed while a test runs shows.
struct LiveLine {
  float currentHz = 0;  // 0: none yet, or the mouse at rest
  float targetHz = 0;
  int64_t reports = 0;
  double elapsedSeconds = 0, totalSeconds = 0;  // total 0: until Ctrl-C
  int64_t kernelDrops = 0;
  bool handSlow = false;  // the last second's reports say the hand is the limit
  double handCountsPerS = 0, neededCountsPerS = 0;
  double cpi = 0;  // --cpi: the speeds in cm/s too; 0 when not given
};
// The line (no line break, no control codes).
std::string liveLineText(const LiveLine& line);

}  // namespace cli
