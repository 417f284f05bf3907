#include "results/StampRecorder.h"

#include <gtest/gtest.h>

#include <thread>

using results::StampRecorder;
using results::StampSeries;

namespace {

std::chrono::steady_clock::time_point at(int64_t ns) {
  return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns));
}

}  // namespace

TEST(StampRecorderTest, KeepsEveryStampAcrossChunksInOrder) {
  StampRecorder recorder;
  const std::size_t n = StampSeries::kChunkStamps * 2 + 5;
  for (std::size_t i = 0; i < n; ++i) recorder.add(at(static_cast<int64_t>(i) * 125'000));
  const StampSeries s = recorder.snapshot();
  ASSERT_EQ(s.size(), n);
  EXPECT_FALSE(s.truncated());
  for (std::size_t i :
       {std::size_t{0}, StampSeries::kChunkStamps - 1, StampSeries::kChunkStamps, n - 1}) {
    EXPECT_EQ(s[i], static_cast<int64_t>(i) * 125'000) << i;
  }
}

TEST(StampRecorderTest, StopsAtItsLimitAndSaysSo) {
  StampRecorder recorder(10);
  for (int i = 0; i < 25; ++i) recorder.add(at(i));
  const StampSeries s = recorder.snapshot();
  EXPECT_EQ(s.size(), 10u);
  EXPECT_TRUE(s.truncated());
  EXPECT_EQ(s[9], 9);
}

TEST(StampRecorderTest, SnapshotOutlivesResetAndLaterStamps) {
  StampRecorder recorder;
  for (int i = 0; i < 3; ++i) recorder.add(at(i + 1));
  const StampSeries before = recorder.snapshot();
  recorder.add(at(99));
  recorder.reset();
  recorder.add(at(7));
  ASSERT_EQ(before.size(), 3u);
  EXPECT_EQ(before[2], 3);
  const StampSeries after = recorder.snapshot();
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0], 7);
  EXPECT_FALSE(after.truncated());
}

// The HID thread adds while the main thread takes snapshots: every snapshot
// is a prefix of the stamps, in order (the sanitizer build checks the memory).
TEST(StampRecorderTest, SnapshotsWhileAddingArePrefixes) {
  StampRecorder recorder;
  constexpr int64_t kCount = 300'000;
  std::thread writer([&] {
    for (int64_t i = 0; i < kCount; ++i) recorder.add(at(i));
  });
  for (int k = 0; k < 200; ++k) {
    const StampSeries s = recorder.snapshot();
    if (s.empty()) continue;
    ASSERT_EQ(s[s.size() - 1], static_cast<int64_t>(s.size()) - 1);
  }
  writer.join();
  EXPECT_EQ(recorder.snapshot().size(), static_cast<std::size_t>(kCount));
}
