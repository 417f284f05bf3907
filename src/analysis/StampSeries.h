#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "analysis/ReportMotion.h"

// `count` kernel drops in the gap just before report `before` (so the gap
// from report before-1 to report before lost reports).
struct DropMark {
  std::size_t before = 0;
  int64_t count = 0;
  bool operator==(const DropMark&) const = default;
};

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
              bool truncated, std::vector<DropMark> drops = {})
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
                                 std::vector<DropMark> drops = {}, bool truncated = false);

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
  // Kernel drops by the report they came before, ascending, one mark per gap.
  const std::vector<DropMark>& drops() const { return drops_; }
  // Adds `count` drops before report `before` to a list kept as drops() is.
  static void addDrops(std::vector<DropMark>& marks, std::size_t before, int64_t count);
  // The marks of single drops given by the report each came before, ascending.
  static std::vector<DropMark> dropMarks(const std::vector<std::size_t>& before);

 private:
  std::vector<std::shared_ptr<const Chunk>> chunks_;
  std::vector<std::shared_ptr<const MotionChunk>> motion_;
  std::vector<DropMark> drops_;
  std::size_t count_ = 0;
  bool truncated_ = false;
};
