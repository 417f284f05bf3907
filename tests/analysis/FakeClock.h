#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

// A steady-clock stand-in the analyzer reads through its NowFn, so tests and
// benchmarks choose every instant. Atomic because a second thread may read it.
struct FakeClock {
  using TimePoint = std::chrono::steady_clock::time_point;

  // Far enough from the clock's epoch that "2 s before now" stays positive.
  static constexpr TimePoint kStart{std::chrono::seconds(1000)};

  static TimePoint now() { return TimePoint(std::chrono::nanoseconds(ns.load())); }
  static void set(TimePoint t) { ns.store(t.time_since_epoch().count()); }
  static void advance(std::chrono::nanoseconds d) { ns.fetch_add(d.count()); }

  static inline std::atomic<int64_t> ns{kStart.time_since_epoch().count()};
};
