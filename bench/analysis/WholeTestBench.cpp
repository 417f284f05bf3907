// Whole-test analysis of ten minutes at 8000 Hz (4,800,000 reports with
// motion, host jitter of +-40 us, a few holes): time, and the memory it takes beyond the
// series itself (every allocation counted, the peak reported).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>

#include "analysis/WholeTestAnalysis.h"

namespace {

std::atomic<std::size_t> s_live{0};
std::atomic<std::size_t> s_peak{0};

StampSeries tenMinutesAt8000Hz() {
  std::mt19937 random(11);
  std::uniform_int_distribution<int64_t> jitter(-40'000, 40'000);
  std::uniform_int_distribution<int16_t> counts(-3, 3);
  std::vector<int64_t> ns(4'800'000);
  std::vector<ReportMotion> motion(ns.size());
  for (std::size_t i = 0; i < ns.size(); ++i) {
    const auto slot = static_cast<int64_t>(i + i / 100'000);  // a missed slot now and then
    ns[i] = 1'000'000'000 + slot * 125'000 + jitter(random);
    motion[i].dx = counts(random);
    motion[i].dy = counts(random);
    motion[i].flags = ReportMotion::kKnown;
  }
  return StampSeries::fromVectors(ns, motion, {DropMark{2'400'000, 1}});
}

void BM_WholeTestTenMinutesAt8000Hz(benchmark::State& state) {
  const StampSeries series = tenMinutesAt8000Hz();
  WholeTestFigures f;
  for (auto _ : state) {
    s_peak = s_live.load();
    const std::size_t before = s_live.load();
    f = analyzeWholeTest(series);
    benchmark::DoNotOptimize(f);
    state.counters["extra_MB"] = static_cast<double>(s_peak.load() - before) / (1 << 20);
  }
  state.counters["missed_slots"] = static_cast<double>(f.missedSlots.value_or(-1));
  state.counters["idle_slots"] = static_cast<double>(f.idleSlots.value_or(-1));
  state.counters["grid_period_us"] = f.grid.periodUs;
  state.counters["moving_rate_hz"] = f.movingRateHz.value_or(0.0);
}
BENCHMARK(BM_WholeTestTenMinutesAt8000Hz)->Unit(benchmark::kMillisecond);

}  // namespace

// Counts every allocation of this program, for the peak above.
void* operator new(std::size_t size) {
  void* p = std::malloc(size + sizeof(std::max_align_t));
  if (p == nullptr) throw std::bad_alloc();
  *static_cast<std::size_t*>(p) = size;
  const std::size_t live = s_live += size;
  std::size_t peak = s_peak.load();
  while (live > peak && !s_peak.compare_exchange_weak(peak, live)) {
  }
  return static_cast<char*>(p) + sizeof(std::max_align_t);
}

void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  char* base = static_cast<char*>(p) - sizeof(std::max_align_t);
  s_live -= *reinterpret_cast<std::size_t*>(base);
  std::free(base);
}

void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

BENCHMARK_MAIN();
