#include "results/TestRecord.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "analysis/PollingRules.h"
#include "i18n/Translate.h"

namespace results {

double exactIntervalUs(const DeviceIdentity& device) {
  return device.reportIntervalNs > 0 ? static_cast<double>(device.reportIntervalNs) / 1000.0
                                     : device.reportIntervalUs;
}

namespace {
bool polled(const DeviceIdentity& device) {
  return device.transport == "USB" || device.transport == "Virtual" || device.transport == "PS/2";
}
}  // namespace

float configuredHz(const DeviceIdentity& device) {
  const double us = exactIntervalUs(device);
  return polled(device) && us > 0 ? static_cast<float>(1e6 / us) : 0.0f;
}

float requestedHz(const DeviceIdentity& device) {
  return device.requestedIntervalUs > 0 ? 1e6f / static_cast<float>(device.requestedIntervalUs)
                                        : 0.0f;
}

const char* targetSourceKey(TargetSource source) {
  switch (source) {
    case TargetSource::Option:
      return "option";
    case TargetSource::Configured:
      return "configured";
    case TargetSource::NearestStandard:
      return "nearest_standard";
    case TargetSource::Estimated:
      return "estimated";
    case TargetSource::Window:
      break;
  }
  return "window";
}

WholeTestOptions wholeTestOptions(const DeviceIdentity& device) {
  // Exact: a period rounded to whole µs (63 for 62.5) spreads the reports
  // over the grid.
  return {polled(device) ? exactIntervalUs(device) : 0.0};
}

WholeTestOptions wholeTestOptions(const TestRecord& record) {
  return wholeTestOptions(record.device);
}

float defaultTargetHz(const DeviceIdentity& device, const WholeTestFigures& whole,
                      TargetSource& source) {
  if (const float asked = configuredHz(device); asked > 0.0f) {
    source = TargetSource::Configured;
    return asked;
  }
  // The grid the reports fell on; a mouse moved slowly still reports in its
  // own slots, so the median interval stands in when there is no grid.
  const double periodUs = whole.grid.periodUs > 0.0 ? whole.grid.periodUs : whole.intervalUs.p50;
  float gridHz = periodUs > 0.0 ? static_cast<float>(1e6 / periodUs) : 0.0f;
  // A batched link's deliveries are not its reports' slots: an 8 kHz mouse
  // delivered in pairs is judged against 8000 Hz, and a Bluetooth mouse
  // against no rate above its reports' own.
  if (whole.grid.status == GridStatus::Batched)
    gridHz = static_cast<float>(whole.movingRateHz.value_or(0));
  if (device.transport == "USB" || device.transport == "Virtual") {
    source = TargetSource::NearestStandard;
    return nearestTargetHz(gridHz);
  }
  // Bluetooth, PS/2, I2C and unknown links keep rates of their own.
  source = TargetSource::Estimated;
  return std::round(gridHz * 10.0f) / 10.0f;
}

WholeTestVerdict wholeTestVerdict(const WholeTestFigures& whole, float targetHz) {
  const JudgedMouse j = judgeMouse(whole, targetHz);
  WholeTestVerdict v;
  v.comparedHz = static_cast<float>(j.comparedHz);
  v.ratio = static_cast<float>(j.ratio);
  v.reason = j.reason;
  switch (j.verdict) {
    case MouseVerdict::Reached:
      v.verdict = TargetVerdict::Reached;
      break;
    case MouseVerdict::Near:
      v.verdict = TargetVerdict::Near;
      break;
    case MouseVerdict::Below:
      v.verdict = TargetVerdict::Below;
      break;
    case MouseVerdict::Unknown:
      v.verdict = TargetVerdict::Unknown;
      break;
  }
  return v;
}

TestRecord plottedRecord(const TestRecord& record) {
  TestRecord r = record;
  if (!record.wholeDevice || *record.wholeDevice >= record.devices.size()) return r;
  const DeviceReports& top = record.devices[*record.wholeDevice];
  r.stamps = top.stamps;
  r.whole = top.whole;
  return r;
}

int hubDepth(const std::string& portPath) {
  if (portPath.find('-') == std::string::npos) return 0;
  return static_cast<int>(std::count(portPath.begin(), portPath.end(), '.'));
}

std::chrono::system_clock::time_point wallTimeOf(std::chrono::steady_clock::time_point t) {
  const auto steadyNow = std::chrono::steady_clock::now();
  const auto wallNow = std::chrono::system_clock::now();
  return wallNow - std::chrono::duration_cast<std::chrono::system_clock::duration>(steadyNow - t);
}

const char* testEndKey(TestEnd end) {
  switch (end) {
    case TestEnd::Interrupted:
      return "interrupted";
    case TestEnd::DeviceLost:
      return "device_lost";
    case TestEnd::DeviceError:
      return "device_error";
    case TestEnd::Completed:
      break;
  }
  return "completed";
}

TargetVerdict targetVerdict(float rateHz, float targetHz) {
  if (rateHz <= 0.0f || targetHz <= 0.0f) return TargetVerdict::Unknown;
  const float ratio = rateHz / targetHz;
  if (ratio < pollingrules::kTargetNearRatio) return TargetVerdict::Below;
  if (ratio < pollingrules::kTargetReachedRatio) return TargetVerdict::Near;
  return TargetVerdict::Reached;
}

const char* targetVerdictText(TargetVerdict verdict) {
  switch (verdict) {
    case TargetVerdict::Reached:
      return i18n::tr("达到目标");
    case TargetVerdict::Near:
      return i18n::tr("略低于目标");
    case TargetVerdict::Below:
      return i18n::tr("远低于目标");
    case TargetVerdict::Unknown:
      break;
  }
  return i18n::tr("无数据");
}

const char* targetVerdictKey(TargetVerdict verdict) {
  switch (verdict) {
    case TargetVerdict::Reached:
      return "reached";
    case TargetVerdict::Near:
      return "near";
    case TargetVerdict::Below:
      return "below";
    case TargetVerdict::Unknown:
      break;
  }
  return "unknown";
}

float verdictRateHz(const PollingStats& stats) {
  return stats.avgHz > 0.0f ? stats.avgHz : stats.baselineHz;
}

float nearestTargetHz(float rateHz) {
  if (rateHz <= 0.0f) return 1000.0f;
  float best = kTargetRatesHz[0];
  for (float t : kTargetRatesHz) {
    if (std::fabs(t - rateHz) < std::fabs(best - rateHz)) best = t;
  }
  return best;
}

std::string vidPidText(int32_t vendorId, int32_t productId) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04x:%04x", static_cast<unsigned>(vendorId) & 0xFFFFu,
                static_cast<unsigned>(productId) & 0xFFFFu);
  return buf;
}

}  // namespace results
