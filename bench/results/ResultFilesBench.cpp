// The result files of a 60-second 8000 Hz test (480,000 reports with 5 us of
// jitter and a few stalls), written to disk; and the recorder's cost per
// report on the HID thread.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "results/IntervalPlot.h"
#include "results/IntervalsCsv.h"
#include "results/ResultJson.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

results::TestRecord sixtySecondsAt8000Hz() {
  static results::StampRecorder recorder;  // the series shares its chunks
  recorder.reset();
  std::minstd_rand rng(7);
  std::uniform_int_distribution<int64_t> jitter(-5'000, 5'000);
  for (int64_t i = 0; i < 480'000; ++i) {
    const int64_t stall = (i % 60'000 == 59'999) ? 30'000'000 : 0;
    recorder.add(Clock::time_point(std::chrono::nanoseconds(i * 125'000 + jitter(rng) + stall)));
  }
  results::TestRecord r;
  r.device.name = "Bench Mouse [USB]";
  r.start = std::chrono::system_clock::now();
  r.durationSeconds = 60.0;
  r.targetHz = 8000.0f;
  r.stats.reportCount = 480'000;
  r.stats.avgHz = 8000.0f;
  r.stats.baselineUs = 125.0f;
  r.stats.baselineHz = 8000.0f;
  r.stamps = recorder.snapshot();
  results::completeRecord(r, r.targetHz, r.targetSource);
  return r;
}

void BM_WriteThreeFiles60sAt8000Hz(benchmark::State& state) {
  const results::TestRecord record = sixtySecondsAt8000Hz();
  const fs::path dir = fs::temp_directory_path() / ("quillmark-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  for (auto _ : state) {
    const bool ok = results::writeResultJson(record, (dir / "r.json").string()).ok &&
                    results::writeIntervalsCsv(record, (dir / "r.csv").string()).ok &&
                    results::writeIntervalPlot(record, (dir / "r.svg").string()).ok;
    if (!ok) state.SkipWithError("a file could not be written");
  }
  state.counters["csv_MB"] = static_cast<double>(fs::file_size(dir / "r.csv")) / 1e6;
  state.counters["svg_kB"] = static_cast<double>(fs::file_size(dir / "r.svg")) / 1e3;
  fs::remove_all(dir);
}
BENCHMARK(BM_WriteThreeFiles60sAt8000Hz)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_IntervalPlotOnly(benchmark::State& state) {
  const results::TestRecord record = sixtySecondsAt8000Hz();
  for (auto _ : state) benchmark::DoNotOptimize(results::intervalPlotSvg(record));
}
BENCHMARK(BM_IntervalPlotOnly)->Unit(benchmark::kMillisecond);

// One add() per report on the HID thread, a new chunk every 65,536.
void BM_RecorderAdd(benchmark::State& state) {
  results::StampRecorder recorder;
  int64_t t = 0;
  for (auto _ : state) {
    recorder.add(Clock::time_point(std::chrono::nanoseconds(t += 125'000)));
    if (recorder.count() == recorder.limit()) recorder.reset();
  }
}
BENCHMARK(BM_RecorderAdd);

}  // namespace

BENCHMARK_MAIN();
