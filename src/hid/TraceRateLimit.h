#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

// Lets at most `burst` trace lines through in each `interval`, counted from
// the first line of a window; with kForever, `burst` lines for the limiter's
// whole life. Keeps an event that can happen thousands of times a second (a
// dropped report, a kernel buffer overflow) from writing the log each time.
// Any thread, lock-free; two threads racing at a window's edge may let one
// line more or less through.
class TraceRateLimit {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kForever = Clock::duration::zero();

  TraceRateLimit(Clock::duration interval, int32_t burst)
      : intervalNs_(std::chrono::duration_cast<std::chrono::nanoseconds>(interval).count()),
        burst_(burst) {}

  // `now` is only read by limiters with an interval.
  bool allow(Clock::time_point now = {}) {
    if (intervalNs_ > 0) {
      const int64_t nowNs =
          std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count();
      int64_t start = windowStartNs_.load(std::memory_order_relaxed);
      if ((start == kNoWindow || nowNs - start >= intervalNs_) &&
          windowStartNs_.compare_exchange_strong(start, nowNs)) {
        count_.store(0);
      }
    }
    // The relaxed check keeps the counter from wrapping round to the lines
    // again after billions of refusals.
    return count_.load(std::memory_order_relaxed) < burst_ && count_.fetch_add(1) < burst_;
  }

  // Lines let through in the current window.
  int32_t passed() const { return std::min(count_.load(std::memory_order_relaxed), burst_); }

 private:
  static constexpr int64_t kNoWindow = INT64_MIN;

  const int64_t intervalNs_;
  const int32_t burst_;
  std::atomic<int64_t> windowStartNs_{kNoWindow};
  std::atomic<int32_t> count_{0};
};
