#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "analysis/ReportMotion.h"

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
