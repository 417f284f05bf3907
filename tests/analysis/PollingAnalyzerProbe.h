#pragma once

#include <mutex>
#include <vector>

#include "analysis/PollingAnalyzer.h"

// Reads the analyzer's internal buffers and runs the diagnostics step on
// chosen intervals; for tests and benchmarks only.
struct PollingAnalyzerProbe {
  static std::size_t windowSize(const PollingAnalyzer& a) {
    std::lock_guard lock(a.mutex);
    return a.timestamps.size();
  }

  static std::vector<PollingAnalyzer::TimePoint> window(const PollingAnalyzer& a) {
    std::lock_guard lock(a.mutex);
    return {a.timestamps.begin(), a.timestamps.end()};
  }

  static std::vector<float> intervals(const PollingAnalyzer& a) {
    std::lock_guard lock(a.mutex);
    return {a.intervalsUs.begin(), a.intervalsUs.end()};
  }

  static const uint32_t* histogramStorage(const PollingAnalyzer& a) {
    std::lock_guard lock(a.mutex);
    return a.histogram.data();
  }

  // Restarts the diagnostics period so the next update() skips them.
  static void deferDiagnostics(PollingAnalyzer& a) {
    std::lock_guard lock(a.mutex);
    a.lastDiagnostics = a.nowFn();
  }

  // As update() would after copying the interval buffer.
  static void runDiagnostics(PollingAnalyzer& a, const std::vector<float>& intervalsUs) {
    a.scratch.assign(intervalsUs.begin(), intervalsUs.end());
    a.recomputeDiagnostics();
  }
};
