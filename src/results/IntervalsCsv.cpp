#include "results/IntervalsCsv.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

namespace results {

namespace {

constexpr char kHeader[] = "t_us,interval_us,dx,dy,kernel_drops\n";
// Longest line: two 20-digit numbers with sign, point and decimals, two
// 16-bit counts with sign, and a count of drops.
constexpr std::size_t kMaxLine = 92;
constexpr std::size_t kBlockLines = 4096;

// Nanoseconds as microseconds with exactly three decimals.
char* putMicros(char* p, int64_t ns) {
  if (ns < 0) {
    *p++ = '-';
    ns = -ns;
  }
  p = std::to_chars(p, p + 24, ns / 1000).ptr;
  const auto frac = static_cast<int>(ns % 1000);
  *p++ = '.';
  *p++ = static_cast<char>('0' + frac / 100);
  *p++ = static_cast<char>('0' + frac / 10 % 10);
  *p++ = static_cast<char>('0' + frac % 10);
  return p;
}

// ",dx,dy", or ",," when the motion is not known.
char* putMotion(char* p, const ReportMotion& m) {
  *p++ = ',';
  if (m.known()) p = std::to_chars(p, p + 6, m.dx).ptr;
  *p++ = ',';
  if (m.known()) p = std::to_chars(p, p + 6, m.dy).ptr;
  return p;
}

// ",N" for the N kernel drops just before report i (the marks are ascending),
// "," when there were none.
char* putDrops(char* p, const std::vector<DropMark>& drops, std::size_t& next, std::size_t i) {
  *p++ = ',';
  int64_t n = 0;
  for (; next < drops.size() && drops[next].before <= i; ++next)
    n += drops[next].before == i ? drops[next].count : 0;
  if (n > 0) p = std::to_chars(p, p + 20, n).ptr;
  return p;
}

// Hands the file to `emit` in blocks of a few thousand lines.
// `changes`: ascending report indexes at which another mouse's reports
// begin; the interval there is left empty, as no interval spans a switch.
template <typename Emit>
void emitCsv(const StampSeries& stamps, const std::vector<std::size_t>& changes, Emit&& emit) {
  emit(std::string_view(kHeader, sizeof kHeader - 1));
  std::string block(kBlockLines * kMaxLine, '\0');
  const int64_t first = stamps.empty() ? 0 : stamps[0];
  std::size_t nextDrop = 0;
  std::size_t nextChange = 0;
  for (std::size_t start = 0; start < stamps.size(); start += kBlockLines) {
    char* p = block.data();
    const std::size_t end = std::min(stamps.size(), start + kBlockLines);
    for (std::size_t i = start; i < end; ++i) {
      p = putMicros(p, stamps[i] - first);
      *p++ = ',';
      for (; nextChange < changes.size() && changes[nextChange] < i; ++nextChange) {
      }
      const bool switched = nextChange < changes.size() && changes[nextChange] == i;
      if (i > 0 && !switched) p = putMicros(p, stamps[i] - stamps[i - 1]);
      p = putMotion(p, stamps.motion(i));
      p = putDrops(p, stamps.drops(), nextDrop, i);
      *p++ = '\n';
    }
    emit(std::string_view(block.data(), static_cast<std::size_t>(p - block.data())));
  }
}

}  // namespace

std::string intervalsCsv(const StampSeries& stamps) {
  std::string out;
  emitCsv(stamps, {}, [&](std::string_view block) { out += block; });
  return out;
}

WriteResult writeIntervalsCsv(const TestRecord& record, const std::string& path) {
  AtomicFile file(path);
  emitCsv(record.stamps, record.mouseChanges, [&](std::string_view block) { file.write(block); });
  return file.commit();
}

}  // namespace results
