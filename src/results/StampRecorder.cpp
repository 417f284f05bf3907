#include "results/StampRecorder.h"

namespace results {

namespace {

std::size_t chunksFor(std::size_t limit) {
  return (limit + StampSeries::kChunkStamps - 1) / StampSeries::kChunkStamps;
}

template <typename T>
std::vector<std::shared_ptr<const T>> shareAll(const std::vector<std::shared_ptr<T>>& chunks) {
  return {chunks.begin(), chunks.end()};
}

}  // namespace

StampRecorder::StampRecorder(std::size_t limit) : limit_(limit) {
  // The lists of chunks never grow on the HID thread.
  chunks_.reserve(chunksFor(limit_));
  motion_.reserve(chunksFor(limit_));
}

void StampRecorder::add(std::chrono::steady_clock::time_point t, const ReportMotion& motion) {
  add(t, motion, 0);
}

void StampRecorder::add(std::chrono::steady_clock::time_point t, const ReportMotion& motion,
                        uint64_t source) {
  const int64_t ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
  std::lock_guard lock(mutex_);
  ++tally_.reports;
  tally_.lastNs = ns;
  // Mostly the same mouse as the previous report; a test has a handful at most.
  std::vector<SourceCount>& sources = tally_.sources;
  if (sourceAt_ >= sources.size() || sources[sourceAt_].source != source) {
    sourceAt_ = 0;
    while (sourceAt_ < sources.size() && sources[sourceAt_].source != source) ++sourceAt_;
    if (sourceAt_ == sources.size()) sources.push_back({source, 0});
  }
  ++sources[sourceAt_].reports;
  if (count_ >= limit_) {
    truncated_ = true;
    return;
  }
  if (tally_.runs.empty() || tally_.runs.back().sourceIndex != sourceAt_) {
    tally_.runs.push_back({count_, sourceAt_});
  }
  const std::size_t slot = count_ % StampSeries::kChunkStamps;
  // Chunks are not zeroed: only slots below count_ are ever read.
  if (slot == 0) {
    chunks_.push_back(std::shared_ptr<Chunk>(new Chunk));
    motion_.push_back(std::shared_ptr<MotionChunk>(new MotionChunk));
  }
  (*chunks_.back())[slot] = ns;
  (*motion_.back())[slot] = motion;
  ++count_;
  published_.store(count_, std::memory_order_relaxed);
}

void StampRecorder::noteKernelDrop() {
  std::lock_guard lock(mutex_);
  // A drop past the bound has no recorded report after it to mark.
  if (count_ < limit_) StampSeries::addDrops(drops_, count_, 1);
}

void StampRecorder::reset() {
  std::vector<std::shared_ptr<Chunk>> fresh;
  std::vector<std::shared_ptr<MotionChunk>> freshMotion;
  fresh.reserve(chunksFor(limit_));
  freshMotion.reserve(chunksFor(limit_));
  std::vector<std::shared_ptr<Chunk>> old;
  std::vector<std::shared_ptr<MotionChunk>> oldMotion;
  {
    std::lock_guard lock(mutex_);
    old.swap(chunks_);
    chunks_.swap(fresh);
    oldMotion.swap(motion_);
    motion_.swap(freshMotion);
    drops_.clear();
    count_ = 0;
    tally_ = Tally{};
    sourceAt_ = 0;
    truncated_ = false;
    published_.store(0, std::memory_order_relaxed);
  }
  // `old` and `oldMotion` are released here, outside the lock.
}

// Slots below count_ are written before the lock is released and never
// again, so the snapshot reads them without the lock while add() goes on.
StampSeries StampRecorder::snapshot() const {
  std::lock_guard lock(mutex_);
  return StampSeries(shareAll(chunks_), shareAll(motion_), count_, truncated_, drops_);
}

StampSeries StampRecorder::snapshot(Tally& tally) const {
  std::lock_guard lock(mutex_);
  tally = tally_;
  return StampSeries(shareAll(chunks_), shareAll(motion_), count_, truncated_, drops_);
}

}  // namespace results
