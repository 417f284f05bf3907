#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "analysis/ReportMotion.h"
#include "hid/TraceRateLimit.h"

class ReportCapture;

// A passed report's stamp and the motion decoded from its bytes.
using ReportCallback =
    std::function<void(std::chrono::steady_clock::time_point, const ReportMotion&)>;
// One button edge of a passed report: its stamp, the EV_KEY code and 1 for a
// press, 0 for a release (autorepeat, value 2, never comes here).
using ButtonCallback =
    std::function<void(std::chrono::steady_clock::time_point, uint16_t code, int32_t value)>;

// Passes the reports of the selected mouse, while a test runs, to the raw
// capture and, with the motion decoded from its bytes, the report callback. Runs on the HID thread;
// the monitor's implementation object begins with it.
class ReportRouter {
 public:
  using Clock = std::chrono::steady_clock;
  // The reads of the latency trace line go through this; tests replace it.
  using ClockFn = Clock::time_point (*)();

  void route(const void* context, unsigned int reportId, const unsigned char* report, size_t length,
             std::chrono::steady_clock::time_point timestamp);
  // The kernel lost reports of `context`: passed on to the drop callback
  // under the same rule as route() (a test runs and it is the selected mouse).
  void routeKernelDrop(const void* context);

  // Written by the main thread, read per report without ordering.
  std::atomic<bool> monitoring{false};
  // Written by the monitor under its mutex (release or stronger); read with acquire.
  std::atomic<const void*> selectedContext{nullptr};
  // Trace lines: five dropped reports in all, one delivery latency every 2 s.
  TraceRateLimit dropLines{TraceRateLimit::kForever, 5};
  TraceRateLimit latencyLines{std::chrono::seconds(2), 1};
  // Installed before the HID thread starts; not changed while it runs.
  ReportCallback reportCallback;
  // Called after the report callback for each button edge of a report that
  // has any; a report without one costs a single comparison.
  ButtonCallback buttonCallback;
  std::function<void()> kernelDropCallback;

  // The capture that selected reports go to: the process-wide one unless a
  // test points the router at its own.
  ReportCapture* capture = processCapture();
  // The name of a context's mouse, for the capture's header; set by the
  // monitor before the HID thread starts (null: the name given at start).
  std::string (*contextName)(const void* context) = nullptr;
  // Read only while tracing is on.
  ClockFn clock = steadyNow;

  static ReportCapture* processCapture();
  static Clock::time_point steadyNow();

 private:
  bool isSelected(const void* context) const;
};
