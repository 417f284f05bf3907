#include "analysis/PollingAnalyzer.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "analysis/PollingRules.h"

using namespace std::chrono_literals;

namespace {

using namespace pollingrules;

constexpr float kUsPerSecond = 1000000.0f;

// Smallest ladder width that is at least a tenth of the baseline, so the
// baseline lands in bin 10 or below and the bins span at least 2.5 baselines.
float binWidthFor(float baselineUs) {
  const float target = baselineUs / 10.0f;
  for (float width : kBinWidthLadder) {
    if (width >= target) return width;
  }
  return kWidestBinUs;
}

}  // namespace

PollingAnalyzer::PollingAnalyzer(NowFn now) : nowFn(now) {
  const TimePoint start = nowFn();
  lastHistorySample = start;
  statsStart = start;
  lastDiagnostics = start;
}

PollingAnalyzer::~PollingAnalyzer() = default;

void PollingAnalyzer::addTimestamp(TimePoint t) {
  // Read before locking so time spent waiting for the lock does not count
  // towards staleness.
  const TimePoint now = nowFn();
  // A stamp replaced here is not the kernel's: no interval ends or starts at it.
  bool kernelStamp = true;
  if (t < now - kStaleLimit || t > now) {
    t = now;
    kernelStamp = false;
  }

  std::lock_guard lock(mutex);
  if (hasLastTimestamp && t < lastTimestamp) {
    t = lastTimestamp;
    kernelStamp = false;
  }
  if (dropGapOpen) {
    closeDropGapLocked(t);
  } else if (hasLastTimestamp) {
    noteIntervalLocked(t, kernelStamp && lastIsKernelStamp);
  }
  ++reportCount;
  lastTimestamp = t;
  lastIsKernelStamp = kernelStamp;
  hasLastTimestamp = true;
  timestamps.push_back(t);
  // Frames that skip update() (hidden window) must not let the window grow
  // without bound. Timestamps never decrease and never exceed a later
  // update()'s clock, so whatever is dropped here update() would drop too.
  while (t - timestamps.front() > kRateWindow) timestamps.pop_front();
}

void PollingAnalyzer::noteIntervalLocked(TimePoint t, bool betweenKernelStamps) {
  const float intervalUs = static_cast<float>((t - lastTimestamp).count()) / 1000.0f;
  if (betweenKernelStamps && intervalUs >= kMinIntervalUs && intervalUs <= kMaxIntervalUs) {
    intervalsUs.push_back(intervalUs);
    if (intervalsUs.size() > kIntervalCapacity) intervalsUs.pop_front();
    lastIntervalUs = intervalUs;
  }
  // A gap longer than the activity timeout is the mouse at rest, not a stall.
  if (t - lastTimestamp <= kActivityTimeout) {
    longestIntervalUs = std::max(longestIntervalUs, intervalUs);
  }
}

// The reports lost in the gap are estimated from the baseline interval (or,
// before there is one, the newest interval).
void PollingAnalyzer::closeDropGapLocked(TimePoint t) {
  dropGapOpen = false;
  const float gapUs = static_cast<float>((t - lastTimestamp).count()) / 1000.0f;
  const float stepUs = baselineUs > 0.0f ? baselineUs : lastIntervalUs;
  if (stepUs <= 0.0f || t - lastTimestamp > kActivityTimeout) return;
  const auto lost = static_cast<int64_t>(std::lround(gapUs / stepUs - 1.0f));
  if (lost > 0) kernelDroppedReports += lost;
}

void PollingAnalyzer::noteKernelDrop() {
  std::lock_guard lock(mutex);
  ++kernelDrops;
  // With no report before it, there is no gap to estimate.
  dropGapOpen = hasLastTimestamp;
}

void PollingAnalyzer::update() {
  std::unique_lock lock(mutex);
  const TimePoint now = nowFn();

  const bool active = hasLastTimestamp && now - lastTimestamp <= kActivityTimeout;
  mouseQuiet = now - (hasLastTimestamp ? lastTimestamp : statsStart) > kActivityTimeout;
  if (active) {
    while (!timestamps.empty() && now - timestamps.front() > kRateWindow) timestamps.pop_front();
    bool rateComputed = false;
    if (timestamps.size() >= kMinRateTimestamps) {
      const float span =
          static_cast<float>((timestamps.back() - timestamps.front()).count()) / 1e9f;
      if (span * 1000.0f >= kMinRateSpanMs) {
        currentHz = static_cast<float>(timestamps.size() - 1) / span;
        rateComputed = true;
      }
    }
    if (rateComputed && now - statsStart >= kWarmUp) {
      statsValid = true;
      if (currentHz > maxHz) maxHz = currentHz;
      if (currentHz < minHz) minHz = currentHz;
      rateSum += static_cast<double>(currentHz);
      ++rateCount;
    }
  } else {
    timestamps.clear();
    currentHz = 0.0f;
  }

  // Sampled whether or not a test runs, so idle stretches show as zeros.
  if (now - lastHistorySample >= kHistoryPeriod) {
    history.push_back(currentHz);
    if (history.size() > kHistoryCapacity) history.erase(history.begin());
    lastHistorySample = now;
  }

  if (now - lastDiagnostics < kDiagnosticsPeriod) return;
  lastDiagnostics = now;
  scratch.assign(intervalsUs.begin(), intervalsUs.end());
  lock.unlock();
  recomputeDiagnostics();
}

void PollingAnalyzer::refreshDiagnostics() {
  {
    std::lock_guard lock(mutex);
    lastDiagnostics = nowFn();
    scratch.assign(intervalsUs.begin(), intervalsUs.end());
  }
  recomputeDiagnostics();
}

void PollingAnalyzer::reset() {
  std::lock_guard lock(mutex);
  timestamps.clear();
  history.clear();
  intervalsUs.clear();
  scratch.clear();
  currentHz = 0.0f;
  maxHz = 0.0f;
  minHz = std::numeric_limits<float>::max();
  rateSum = 0.0;
  rateCount = 0;
  statsValid = false;
  hasLastTimestamp = false;
  reportCount = 0;
  longestIntervalUs = 0.0f;
  lastIntervalUs = 0.0f;
  kernelDrops = 0;
  kernelDroppedReports = 0;
  dropGapOpen = false;
  mouseQuiet = false;
  const TimePoint now = nowFn();
  lastHistorySample = now;
  statsStart = now;
  lastDiagnostics = now;
  clearDiagnosticsLocked();
  binWidthUs = 0.0f;
}

PollingStats PollingAnalyzer::getStats() const {
  std::lock_guard lock(mutex);
  PollingStats stats;
  stats.currentHz = currentHz;
  stats.maxHz = statsValid ? maxHz : 0.0f;
  stats.minHz = statsValid ? minHz : 0.0f;
  stats.avgHz = rateCount >= 1 ? static_cast<float>(rateSum / rateCount) : 0.0f;
  stats.statsValid = statsValid;
  stats.history = history;
  stats.histogram = histogram;
  stats.binWidthUs = binWidthUs;
  stats.baselineUs = baselineUs;
  stats.baselineHz = baselineHz;
  stats.jitterUs = jitterUs;
  stats.stability = stability;
  stats.anomalyCount = anomalyCount;
  stats.anomalyRatio = anomalyRatio;
  stats.reportCount = reportCount;
  stats.longestIntervalUs = longestIntervalUs;
  stats.kernelDrops = kernelDrops;
  stats.kernelDroppedReports = kernelDroppedReports;
  stats.mouseQuiet = mouseQuiet;
  return stats;
}

// Everything but the bin width, which keeps its last value while there are
// too few intervals (it means nothing while the histogram is empty).
void PollingAnalyzer::clearDiagnosticsLocked() {
  baselineUs = 0.0f;
  baselineHz = 0.0f;
  jitterUs = 0.0f;
  stability = 0.0f;
  anomalyCount = 0;
  anomalyRatio = 0.0f;
  histogram.clear();
}

void PollingAnalyzer::recomputeDiagnostics() {
  const std::size_t n = scratch.size();
  if (n < kMinDiagnosticsIntervals) {
    std::lock_guard lock(mutex);
    clearDiagnosticsLocked();
    return;
  }

  // Selection instead of a full sort; for an even count this is the upper middle value.
  const auto middle = scratch.begin() + static_cast<std::ptrdiff_t>(n / 2);
  std::nth_element(scratch.begin(), middle, scratch.end());
  const float median = *middle;

  const float width = binWidthFor(median);
  const float low = kRetainLowFactor * median;
  const float high = kRetainHighFactor * median;
  const float anomalyLimit = kAnomalyFactor * median;

  std::array<uint32_t, kHistogramBins> bins{};
  int32_t retained = 0;
  int32_t anomalies = 0;
  double mean = 0.0;
  double squaredDeviations = 0.0;  // Welford's running sum
  for (const float f : scratch) {
    if (f < low || f > high) continue;
    ++retained;
    const double delta = f - mean;
    mean += delta / retained;
    squaredDeviations += delta * (f - mean);
    if (f > anomalyLimit) ++anomalies;
    const float bin = f / width;
    if (bin > -1.0f && bin < static_cast<float>(kHistogramBins))
      ++bins[static_cast<std::size_t>(bin)];
  }

  const float jitter =
      retained > 0 ? static_cast<float>(std::sqrt(squaredDeviations / retained)) : 0.0f;
  const float steadiness = median > 0.0f ? std::clamp(1.0f - jitter / median, 0.0f, 1.0f) : 0.0f;

  std::lock_guard lock(mutex);
  baselineUs = median;
  baselineHz = median > 0.0f ? kUsPerSecond / median : 0.0f;
  jitterUs = jitter;
  stability = steadiness;
  binWidthUs = width;
  histogram.assign(bins.begin(), bins.end());  // keeps the existing storage
  anomalyCount = anomalies;
  anomalyRatio = retained > 0 ? static_cast<float>(anomalies) / static_cast<float>(retained) : 0.0f;
}
