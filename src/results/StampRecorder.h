#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "analysis/StampSeries.h"

namespace results {

using StampSeries = ::StampSeries;

// Keeps the stamp and motion of every report of a test (16 bytes each), up
// to a bound, and where the kernel dropped reports. add() runs on the HID
// thread for every report: it never copies what it holds, it only takes two
// new chunks (512 KiB each) every 65,536 reports. snapshot() and reset() may
// be called from any thread while add() runs.
class StampRecorder {
 public:
  // Ten minutes at 8000 Hz: 4,800,000 reports, 73 MiB when full.
  static constexpr std::size_t kDefaultLimit = 4'800'000;

  explicit StampRecorder(std::size_t limit = kDefaultLimit);

  StampRecorder(const StampRecorder&) = delete;
  StampRecorder& operator=(const StampRecorder&) = delete;

  void add(std::chrono::steady_clock::time_point t, const ReportMotion& motion = {});
  // The kernel dropped reports before the next one (HID thread).
  void noteKernelDrop();
  // Forgets every stamp; earlier snapshots keep theirs.
  void reset();
  StampSeries snapshot() const;

  std::size_t limit() const { return limit_; }
  // Stamps held; any thread, without the lock.
  std::size_t count() const { return published_.load(std::memory_order_relaxed); }

 private:
  using Chunk = StampSeries::Chunk;
  using MotionChunk = StampSeries::MotionChunk;

  const std::size_t limit_;
  mutable std::mutex mutex_;  // guards everything below
  std::vector<std::shared_ptr<Chunk>> chunks_;
  std::vector<std::shared_ptr<MotionChunk>> motion_;
  std::vector<std::size_t> drops_;
  std::size_t count_ = 0;
  bool truncated_ = false;
  std::atomic<std::size_t> published_{0};
};

}  // namespace results
