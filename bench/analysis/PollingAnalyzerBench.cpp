#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "analysis/FakeClock.h"
#include "analysis/PollingAnalyzer.h"
#include "analysis/PollingAnalyzerProbe.h"

using namespace std::chrono_literals;
using TimePoint = PollingAnalyzer::TimePoint;

namespace {

constexpr auto k8000HzPeriod = 125us;

// Fills the rate window and the interval buffer as an 8000 Hz mouse would.
void feed8000Hz(PollingAnalyzer& a, int count) {
  for (int i = 0; i < count; ++i) {
    FakeClock::advance(k8000HzPeriod);
    a.addTimestamp(FakeClock::now());
  }
}

// Intervals of an 8000 Hz mouse with a little jitter and an occasional late report.
std::vector<float> jittered8000HzIntervals(std::size_t n) {
  std::mt19937 rng(42);
  std::normal_distribution<float> jitter(125.0f, 6.0f);
  std::vector<float> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = (i % 97 == 0) ? 250.0f : jitter(rng);
  return v;
}

// One report per iteration, 125 us apart: interval kept, window trimmed.
void BM_AddTimestamp(benchmark::State& state) {
  PollingAnalyzer a(&FakeClock::now);
  feed8000Hz(a, 8000);
  for (auto _ : state) {
    FakeClock::advance(k8000HzPeriod);
    a.addTimestamp(FakeClock::now());
  }
}
BENCHMARK(BM_AddTimestamp);

// The production clock: the staleness check reads the real steady clock.
void BM_AddTimestampSteadyClock(benchmark::State& state) {
  PollingAnalyzer a;
  for (auto _ : state) a.addTimestamp(std::chrono::steady_clock::now());
}
BENCHMARK(BM_AddTimestampSteadyClock);

// The same with the main thread's frame work running flat out on another thread.
void BM_AddTimestampContended(benchmark::State& state) {
  PollingAnalyzer a(&FakeClock::now);
  feed8000Hz(a, 8000);
  std::atomic<bool> stop{false};
  std::thread frames([&] {
    while (!stop.load(std::memory_order_relaxed)) {
      a.update();
      benchmark::DoNotOptimize(a.getStats());
    }
  });
  for (auto _ : state) {
    FakeClock::advance(k8000HzPeriod);
    a.addTimestamp(FakeClock::now());
  }
  stop = true;
  frames.join();
}
BENCHMARK(BM_AddTimestampContended)->UseRealTime();

// One frame at 60 Hz with an 8000 Hz mouse: about 133 new reports, then
// update() over a window of ~4000 timestamps with the diagnostics not due.
// Only update() is timed.
void BM_UpdateWindow8000Hz(benchmark::State& state) {
  PollingAnalyzer a(&FakeClock::now);
  feed8000Hz(a, 8000);
  std::size_t window = 0;
  for (auto _ : state) {
    feed8000Hz(a, 133);
    PollingAnalyzerProbe::deferDiagnostics(a);
    const auto begin = std::chrono::steady_clock::now();
    a.update();
    const auto end = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
    window = PollingAnalyzerProbe::windowSize(a);
  }
  state.counters["window"] = static_cast<double>(window);
}
BENCHMARK(BM_UpdateWindow8000Hz)->UseManualTime()->Unit(benchmark::kMicrosecond);

// update() with the diagnostics due: the copy of 4096 intervals under the
// lock plus the recomputation. The mouse has gone idle, so the window is empty.
void BM_UpdateWithDiagnostics(benchmark::State& state) {
  PollingAnalyzer a(&FakeClock::now);
  for (float f : jittered8000HzIntervals(4097)) {
    FakeClock::advance(std::chrono::nanoseconds(static_cast<int64_t>(f * 1000.0f)));
    a.addTimestamp(FakeClock::now());
  }
  for (auto _ : state) {
    FakeClock::advance(200ms);
    a.update();
  }
}
BENCHMARK(BM_UpdateWithDiagnostics)->Unit(benchmark::kMicrosecond);

// The diagnostics step alone on 4096 jittered 8000 Hz intervals.
void BM_RecomputeDiagnostics(benchmark::State& state) {
  PollingAnalyzer a(&FakeClock::now);
  const std::vector<float> intervals = jittered8000HzIntervals(PollingAnalyzer::kIntervalCapacity);
  for (auto _ : state) PollingAnalyzerProbe::runDiagnostics(a, intervals);
}
BENCHMARK(BM_RecomputeDiagnostics)->Unit(benchmark::kMicrosecond);

// Snapshot with a full history and histogram.
void BM_GetStatsFullHistory(benchmark::State& state) {
  PollingAnalyzer a(&FakeClock::now);
  for (std::size_t i = 0; i < PollingAnalyzer::kHistoryCapacity + 1; ++i) {
    feed8000Hz(a, 400);  // 50 ms of reports
    a.update();
  }
  const PollingStats s = a.getStats();
  if (s.history.size() != PollingAnalyzer::kHistoryCapacity || s.histogram.empty()) {
    state.SkipWithError("history or histogram not filled");
  }
  for (auto _ : state) benchmark::DoNotOptimize(a.getStats());
}
BENCHMARK(BM_GetStatsFullHistory);

}  // namespace

BENCHMARK_MAIN();
