#include "results/StampRecorder.h"

namespace results {

StampRecorder::StampRecorder(std::size_t limit) : limit_(limit) {
  // The list of chunks never grows on the HID thread.
  chunks_.reserve((limit_ + StampSeries::kChunkStamps - 1) / StampSeries::kChunkStamps);
}

void StampRecorder::add(std::chrono::steady_clock::time_point t) {
  const int64_t ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
  std::lock_guard lock(mutex_);
  if (count_ >= limit_) {
    truncated_ = true;
    return;
  }
  const std::size_t slot = count_ % StampSeries::kChunkStamps;
  // Chunks are not zeroed: only slots below count_ are ever read.
  if (slot == 0) chunks_.push_back(std::shared_ptr<Chunk>(new Chunk));
  (*chunks_.back())[slot] = ns;
  ++count_;
  published_.store(count_, std::memory_order_relaxed);
}

void StampRecorder::reset() {
  std::vector<std::shared_ptr<Chunk>> fresh;
  fresh.reserve((limit_ + StampSeries::kChunkStamps - 1) / StampSeries::kChunkStamps);
  std::vector<std::shared_ptr<Chunk>> old;
  {
    std::lock_guard lock(mutex_);
    old.swap(chunks_);
    chunks_.swap(fresh);
    count_ = 0;
    truncated_ = false;
    published_.store(0, std::memory_order_relaxed);
  }
  // `old` is released here, outside the lock.
}

// Slots below count_ are written before the lock is released and never
// again, so the snapshot reads them without the lock while add() goes on.
StampSeries StampRecorder::snapshot() const {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<const StampSeries::Chunk>> shared(chunks_.begin(), chunks_.end());
  return StampSeries(std::move(shared), count_, truncated_);
}

}  // namespace results
