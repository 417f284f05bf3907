#include "intake/ReportRouter.h"

#include "hid/HidDebugLog.h"
#include "intake/ReportCapture.h"

namespace {

constexpr int32_t kMaxDropLines = 5;
constexpr int64_t kLatencyLogPeriodNs = 2'000'000'000;

int64_t toNs(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

}  // namespace

ReportCapture* ReportRouter::processCapture() { return &ReportCapture::instance(); }

ReportRouter::Clock::time_point ReportRouter::steadyNow() { return Clock::now(); }

void ReportRouter::route(const void* context, unsigned int reportId, const unsigned char* report,
                         size_t length, std::chrono::steady_clock::time_point timestamp) {
  if (!monitoring.load(std::memory_order_relaxed)) return;

  const void* selected = selectedContext.load(std::memory_order_acquire);
  // With nothing selected every report is dropped, even one without a context.
  if (selected == nullptr || selected != context) {
    // The relaxed check keeps the counter from wrapping round to the lines
    // again after billions of drops.
    if (hidDebugLogEnabled() && droppedLogCount.load(std::memory_order_relaxed) < kMaxDropLines &&
        droppedLogCount.fetch_add(1) < kMaxDropLines) {
      hidDebugLog("报告被丢弃: 来自 ctx=%p，当前选中 ctx=%p", context,
                  selectedContext.load(std::memory_order_acquire));
    }
    return;
  }

  if (capture->recording) capture->add(reportId, report, length);

  if (hidDebugLogEnabled()) {
    const Clock::time_point now = clock();
    const int64_t nowNs = toNs(now);
    int64_t next = nextLatencyLogNs.load(std::memory_order_relaxed);
    if ((next == 0 || nowNs >= next) &&
        nextLatencyLogNs.compare_exchange_strong(next, nowNs + kLatencyLogPeriodNs)) {
      hidDebugLog("ts: 交付延迟=%.3fms", static_cast<double>(nowNs - toNs(timestamp)) / 1e6);
    }
  }

  if (reportCallback) reportCallback(timestamp);
}

void ReportRouter::routeKernelDrop(const void* context) {
  if (!monitoring.load(std::memory_order_relaxed)) return;
  const void* selected = selectedContext.load(std::memory_order_acquire);
  if (selected == nullptr || selected != context) return;
  if (kernelDropCallback) kernelDropCallback();
}
