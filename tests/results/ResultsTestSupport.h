#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "results/TestRecord.h"

// Test records built from stamps given in nanoseconds.
namespace resultstest {

inline results::StampSeries seriesOf(const std::vector<int64_t>& ns) {
  results::StampRecorder recorder;
  for (int64_t t : ns)
    recorder.add(std::chrono::steady_clock::time_point(std::chrono::nanoseconds(t)));
  return recorder.snapshot();
}

// `count` reports `periodNs` apart from 1 s, with one gap of `stallNs`
// (0: none) in the middle.
inline std::vector<int64_t> steadyStamps(std::size_t count, int64_t periodNs, int64_t stallNs = 0) {
  std::vector<int64_t> ns;
  int64_t t = 1'000'000'000;
  for (std::size_t i = 0; i < count; ++i) {
    ns.push_back(t);
    t += (stallNs > 0 && i == count / 2) ? stallNs : periodNs;
  }
  return ns;
}

inline results::TestRecord recordOf(const std::vector<int64_t>& ns, float targetHz) {
  results::TestRecord r;
  r.device.name = "Acme <Pro> & Mouse [USB]";
  r.device.product = "Pro Mouse";
  r.device.manufacturer = "Acme";
  r.device.transport = "USB";
  r.device.vendorId = 0x1234;
  r.device.productId = 0xabcd;
  r.device.reportIntervalUs = 125;
  r.device.node = "/dev/input/event7";
  r.start = std::chrono::system_clock::time_point(std::chrono::seconds(1'780'000'000));
  r.durationSeconds = ns.size() > 1 ? static_cast<double>(ns.back() - ns.front()) / 1e9 : 0.0;
  r.targetHz = targetHz;
  r.stamps = seriesOf(ns);
  r.stats.reportCount = static_cast<int64_t>(ns.size());
  return r;
}

// The record as the writers get it: completed against the target it holds.
inline results::TestRecord completed(results::TestRecord r) {
  results::completeRecord(r, r.targetHz, r.targetSource);
  return r;
}

}  // namespace resultstest
