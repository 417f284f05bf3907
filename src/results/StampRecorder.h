#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "analysis/ReportMotion.h"

namespace results {

// The kernel stamps of one test's reports (steady-clock nanoseconds) with
// each report's motion and the places where the kernel dropped reports, as an
// immutable view: full chunks are shared with the recorder, never copied.
// A plain value; any thread.
class StampSeries {
 public:
  static constexpr std::size_t kChunkStamps = std::size_t{1} << 16;
  using Chunk = std::array<int64_t, kChunkStamps>;
  using MotionChunk = std::array<ReportMotion, kChunkStamps>;

  StampSeries() = default;
  StampSeries(std::vector<std::shared_ptr<const Chunk>> chunks,
              std::vector<std::shared_ptr<const MotionChunk>> motion, std::size_t count,
              bool truncated, std::vector<std::size_t> drops = {})
      : chunks_(std::move(chunks)),
        motion_(std::move(motion)),
        drops_(std::move(drops)),
        count_(count),
        truncated_(truncated) {}
  StampSeries(std::vector<std::shared_ptr<const Chunk>> chunks, std::size_t count, bool truncated)
      : StampSeries(std::move(chunks), {}, count, truncated) {}

  // A series made from plain vectors (recordings, tests); motion may be empty.
  static StampSeries fromVectors(const std::vector<int64_t>& stamps,
                                 const std::vector<ReportMotion>& motion = {},
                                 std::vector<std::size_t> drops = {}, bool truncated = false);

  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // More reports arrived than the recorder keeps; the series holds the first ones.
  bool truncated() const { return truncated_; }
  int64_t operator[](std::size_t i) const { return (*chunks_[i / kChunkStamps])[i % kChunkStamps]; }
  // The report's motion; an unknown one (flags 0) when none was recorded.
  ReportMotion motion(std::size_t i) const {
    return i / kChunkStamps < motion_.size() ? (*motion_[i / kChunkStamps])[i % kChunkStamps]
                                             : ReportMotion{};
  }
  // Kernel drops, each as the number of reports recorded before it (so the
  // gap from report k-1 to report k held a drop), ascending; one entry per drop.
  const std::vector<std::size_t>& drops() const { return drops_; }

 private:
  std::vector<std::shared_ptr<const Chunk>> chunks_;
  std::vector<std::shared_ptr<const MotionChunk>> motion_;
  std::vector<std::size_t> drops_;
  std::size_t count_ = 0;
  bool truncated_ = false;
};

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
