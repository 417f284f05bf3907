#include "analysis/StampSeries.h"

StampSeries StampSeries::fromVectors(const std::vector<int64_t>& stamps,
                                     const std::vector<ReportMotion>& motion,
                                     std::vector<DropMark> drops, bool truncated) {
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

void StampSeries::addDrops(std::vector<DropMark>& marks, std::size_t before, int64_t count) {
  if (count <= 0) return;
  if (!marks.empty() && marks.back().before == before) {
    marks.back().count += count;
  } else {
    marks.push_back({before, count});
  }
}

std::vector<DropMark> StampSeries::dropMarks(const std::vector<std::size_t>& before) {
  std::vector<DropMark> marks;
  for (const std::size_t b : before) addDrops(marks, b, 1);
  return marks;
}
