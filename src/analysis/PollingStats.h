#pragma once

#include <cstdint>
#include <vector>

// One snapshot of the analyzer, taken once per frame and passed by value.
struct PollingStats {
  float currentHz = 0.0f;
  float maxHz = 0.0f;  // 0 while !statsValid
  float minHz = 0.0f;  // 0 while !statsValid
  float avgHz = 0.0f;  // 0 until a rate was accepted
  bool statsValid = false;
  std::vector<float> history;  // Hz, oldest first, at most 600 samples (50 ms apart)

  // Interval diagnostics over the newest accepted intervals.
  std::vector<uint32_t> histogram;  // 25 bins or empty
  float binWidthUs = 0.0f;
  float baselineUs = 0.0f;  // median interval
  float baselineHz = 0.0f;
  float jitterUs = 0.0f;   // population standard deviation of retained intervals
  float stability = 0.0f;  // 0..1
  int32_t anomalyCount = 0;
  float anomalyRatio = 0.0f;  // fraction, not percent

  // The whole test since the last reset.
  int64_t reportCount = 0;           // reports received
  float longestIntervalUs = 0.0f;    // longest gap while the mouse kept reporting (0: none yet)
  int64_t kernelDrops = 0;           // kernel buffer overflows (SYN_DROPPED) of the selected mouse
  int64_t kernelDroppedReports = 0;  // reports they cost, estimated from each gap
  // Nothing received for more than 250 ms (since the last report, or since
  // the reset when none came yet); mice only report while they move.
  bool mouseQuiet = false;
};
