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
// new chunks (512 KiB each) every 65,536 reports, and one entry the first
// time a mouse (a source) reports. snapshot() and reset() may
// be called from any thread while add() runs.
class StampRecorder {
 public:
  // Ten minutes at 8000 Hz: 4,800,000 reports, 73 MiB when full.
  static constexpr std::size_t kDefaultLimit = 4'800'000;

  explicit StampRecorder(std::size_t limit = kDefaultLimit);

  // The reports of one mouse: `source` is any number that tells the mice of
  // a test apart (the monitor's device serial; 0 when not known).
  struct SourceCount {
    uint64_t source = 0;
    std::size_t reports = 0;
  };
  // Kept reports from `from` on came from sources[sourceIndex], up to the
  // next run's `from` (the window's selection can change during a test).
  struct SourceRun {
    std::size_t from = 0;
    std::size_t sourceIndex = 0;
  };
  // What is counted of every report, past the bound too.
  struct Tally {
    std::size_t reports = 0;
    int64_t lastNs = 0;                // the newest report's stamp; 0 with none
    std::vector<SourceCount> sources;  // in the order of their first report
    std::vector<SourceRun> runs;       // of the kept reports, in order
  };

  StampRecorder(const StampRecorder&) = delete;
  StampRecorder& operator=(const StampRecorder&) = delete;

  void add(std::chrono::steady_clock::time_point t, const ReportMotion& motion = {});
  // The same, for a report of the mouse `source`.
  void add(std::chrono::steady_clock::time_point t, const ReportMotion& motion, uint64_t source);
  // The kernel dropped reports before the next one (HID thread).
  void noteKernelDrop();
  // Forgets every stamp; earlier snapshots keep theirs.
  void reset();
  StampSeries snapshot() const;
  // A snapshot and the tally of the same moment.
  StampSeries snapshot(Tally& tally) const;

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
  std::vector<DropMark> drops_;
  std::size_t count_ = 0;
  Tally tally_;
  std::size_t sourceAt_ = 0;  // tally_.sources index of the latest report's source
  bool truncated_ = false;
  std::atomic<std::size_t> published_{0};
};

}  // namespace results
