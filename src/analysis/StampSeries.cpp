#include "analysis/StampSeries.h"

StampSeries StampSeries::fromVectors(const std::vector<int64_t>& stamps,
                                     const std::vector<ReportMotion>& motion,
                                     std::vector<std::size_t> drops, bool truncated) {
  std::vector<std::shared_ptr<const Chunk>> chunks;
  std::vector<std::shared_ptr<const MotionChunk>> motionChunks;
  for (std::size_t at = 0; at < stamps.size(); at += kChunkStamps) {
    auto c = std::make_shared<Chunk>();
    auto m = std::make_shared<MotionChunk>();
    for (std::size_t i = at; i < stamps.size() && i < at + kChunkStamps; ++i) {
      (*c)[i - at] = stamps[i];
      if (i < motion.size()) (*m)[i - at] = motion[i];
    }
    chunks.push_back(std::move(c));
    if (!motion.empty()) motionChunks.push_back(std::move(m));
  }
  return StampSeries(std::move(chunks), std::move(motionChunks), stamps.size(), truncated,
                     std::move(drops));
}
