#include "hid/intake/ReportRouter.h"

#include "hid/HIDDebugLog.h"
#include "hid/intake/ReportCapture.h"
#include "hid/service/MotionDecoder.h"

namespace {

int64_t toNs(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

}  // namespace

ReportCapture* ReportRouter::processCapture() { return &ReportCapture::instance(); }

ReportRouter::Clock::time_point ReportRouter::steadyNow() { return Clock::now(); }

void ReportRouter::route(const void* context, unsigned int reportId, const unsigned char* report,
                         size_t length, std::chrono::steady_clock::time_point timestamp) {
  if (!monitoring.load(std::memory_order_relaxed)) return;

  if (!isSelected(context)) {
    if (hidDebugLogEnabled() && dropLines.allow()) {
      hidDebugLog("报告被丢弃: 来自 ctx=%p，当前选中 ctx=%p", context,
                  selectedContext.load(std::memory_order_acquire));
    }
    return;
  }

  if (capture->recording) {
    // The file names the mouse whose reports it holds, not the first one found.
    if (capture->samples.empty() && contextName != nullptr)
      capture->deviceName = contextName(context);
    capture->add(reportId, report, length);
  }

  if (hidDebugLogEnabled()) {
    const Clock::time_point now = clock();
    if (latencyLines.allow(now)) {
      hidDebugLog("ts: 交付延迟=%.3fms", static_cast<double>(toNs(now) - toNs(timestamp)) / 1e6);
    }
  }

  const ReportMotion motion = hidservice::decodeMotion(report, length);
  if (reportCallback) reportCallback(timestamp, motion);
  if (motion.buttonChanges != 0 && buttonCallback) {
    hidservice::forEachButtonEdge(report, length, [&](uint16_t code, int32_t value) {
      buttonCallback(timestamp, code, value);
    });
  }
}

void ReportRouter::routeKernelDrop(const void* context) {
  if (!monitoring.load(std::memory_order_relaxed) || !isSelected(context)) return;
  if (kernelDropCallback) kernelDropCallback();
}

// With nothing selected nothing passes, not even a report without a context.
bool ReportRouter::isSelected(const void* context) const {
  const void* selected = selectedContext.load(std::memory_order_acquire);
  return selected != nullptr && selected == context;
}
