#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace results {

// The kernel stamps of one test's reports (steady-clock nanoseconds), as an
// immutable view: full chunks are shared with the recorder, never copied.
// A plain value; any thread.
class StampSeries {
 public:
  static constexpr std::size_t kChunkStamps = std::size_t{1} << 16;
  using Chunk = std::array<int64_t, kChunkStamps>;

  StampSeries() = default;
  StampSeries(std::vector<std::shared_ptr<const Chunk>> chunks, std::size_t count, bool truncated)
      : chunks_(std::move(chunks)), count_(count), truncated_(truncated) {}

  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // More reports arrived than the recorder keeps; the series holds the first ones.
  bool truncated() const { return truncated_; }
  int64_t operator[](std::size_t i) const { return (*chunks_[i / kChunkStamps])[i % kChunkStamps]; }

 private:
  std::vector<std::shared_ptr<const Chunk>> chunks_;
  std::size_t count_ = 0;
  bool truncated_ = false;
};

// Keeps the stamp of every report of a test, up to a bound. add() runs on
// the HID thread for every report: it never copies what it holds, it only
// takes a new chunk (512 KiB) every 65,536 reports. snapshot() and reset()
// may be called from any thread while add() runs.
class StampRecorder {
 public:
  // Ten minutes at 8000 Hz: 4,800,000 stamps, 37 MiB when full.
  static constexpr std::size_t kDefaultLimit = 4'800'000;

  explicit StampRecorder(std::size_t limit = kDefaultLimit);

  StampRecorder(const StampRecorder&) = delete;
  StampRecorder& operator=(const StampRecorder&) = delete;

  void add(std::chrono::steady_clock::time_point t);
  // Forgets every stamp; earlier snapshots keep theirs.
  void reset();
  StampSeries snapshot() const;

  std::size_t limit() const { return limit_; }
  // Stamps held; any thread, without the lock.
  std::size_t count() const { return published_.load(std::memory_order_relaxed); }

 private:
  using Chunk = StampSeries::Chunk;

  const std::size_t limit_;
  mutable std::mutex mutex_;  // guards everything below
  std::vector<std::shared_ptr<Chunk>> chunks_;
  std::size_t count_ = 0;
  bool truncated_ = false;
  std::atomic<std::size_t> published_{0};
};

}  // namespace results
