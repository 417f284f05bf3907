#include "results/MouseStamps.h"

#include <chrono>

#include "analysis/PollingRules.h"

namespace results {

namespace {

// Just over the activity timeout: the analysis takes the gap as a rest.
const int64_t kSwitchGapNs =
    std::chrono::duration_cast<std::chrono::nanoseconds>(pollingrules::kActivityTimeout).count() +
    1'000'000;

}  // namespace

StampSeries mouseStamps(const StampSeries& all, const std::vector<StampRecorder::SourceRun>& runs,
                        std::size_t sourceIndex) {
  std::vector<int64_t> stamps;
  std::vector<ReportMotion> motion;
  std::vector<DropMark> drops;
  int64_t shift = 0;
  std::size_t nextDrop = 0;
  for (std::size_t k = 0; k < runs.size(); ++k) {
    const std::size_t from = runs[k].from;
    const std::size_t to = k + 1 < runs.size() ? runs[k + 1].from : all.size();
    for (; nextDrop < all.drops().size() && all.drops()[nextDrop].before < from; ++nextDrop) {
    }
    if (runs[k].sourceIndex != sourceIndex || from >= to) continue;
    if (!stamps.empty() && all[from] + shift - stamps.back() < kSwitchGapNs) {
      shift = stamps.back() + kSwitchGapNs - all[from];
    }
    const std::size_t start = stamps.size();
    for (std::size_t i = from; i < to; ++i) {
      stamps.push_back(all[i] + shift);
      motion.push_back(all.motion(i));
    }
    for (; nextDrop < all.drops().size() && all.drops()[nextDrop].before < to; ++nextDrop) {
      const DropMark& d = all.drops()[nextDrop];
      StampSeries::addDrops(drops, start + (d.before - from), d.count);
    }
  }
  return StampSeries::fromVectors(stamps, motion, std::move(drops), all.truncated());
}

std::vector<std::size_t> mouseChanges(const std::vector<StampRecorder::SourceRun>& runs) {
  std::vector<std::size_t> out;
  for (std::size_t k = 1; k < runs.size(); ++k) out.push_back(runs[k].from);
  return out;
}

}  // namespace results
