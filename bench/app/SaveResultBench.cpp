// Saving from the window runs between two frames: how long the result
// folder of a long test takes, and the window's PNG on its own.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>

#include "app/SaveResult.h"
#include "results/StampRecorder.h"

namespace {

// A dashboard-like picture: a flat background with flat cards and a few
// gradients, as the window mostly is.
PixelImage windowImage(int w, int h) {
  PixelImage image;
  image.width = w;
  image.height = h;
  image.format = PixelImage::Format::Rgb;
  image.bottomUp = true;
  image.pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &image.pixels[(static_cast<size_t>(y) * static_cast<size_t>(w) + x) * 3];
      const bool cardArea = (x / 300) % 2 == 0 && (y / 200) % 2 == 1;
      p[0] = cardArea ? 24 : 14;
      p[1] = cardArea ? 26 : 15;
      p[2] = cardArea ? static_cast<uint8_t>(30 + (y % 200) / 8) : 17;
    }
  }
  return image;
}

// A minute at 8000 Hz.
results::TestRecord minuteAt8000Hz() {
  results::StampRecorder recorder;
  const auto start = std::chrono::steady_clock::now() - std::chrono::seconds(61);
  for (int i = 0; i < 480000; ++i) recorder.add(start + std::chrono::microseconds(125) * i);
  results::TestRecord r;
  r.device.name = "Bench Mouse [USB]";
  r.targetHz = 8000;
  r.stamps = recorder.snapshot();
  r.stats.reportCount = 480000;
  r.stats.statsValid = true;
  r.stats.baselineUs = 125;
  r.stats.baselineHz = 8000;
  r.durationSeconds = 60;
  r.start = std::chrono::system_clock::now();
  results::completeRecord(r, r.targetHz, r.targetSource);
  return r;
}

std::string tempFolder() {
  char pattern[] = "/tmp/quillmark-save-bench-XXXXXX";
  return mkdtemp(pattern) != nullptr ? pattern : "/tmp";
}

void BM_SaveMinuteAt8000HzWith1080pWindow(benchmark::State& state) {
  const results::TestRecord record = minuteAt8000Hz();
  const PixelImage window = windowImage(1920, 1080);
  const std::string docs = tempFolder();
  for (auto _ : state) {
    const SaveOutcome out =
        saveResultFolder(record, window, docs, std::chrono::system_clock::now());
    if (!out.ok) state.SkipWithError(out.reason.c_str());
    state.PauseTiming();
    std::filesystem::remove_all(docs + "/Quillmark");
    state.ResumeTiming();
  }
  std::filesystem::remove_all(docs);
}
BENCHMARK(BM_SaveMinuteAt8000HzWith1080pWindow)->Unit(benchmark::kMillisecond);

void BM_WindowPng1080p(benchmark::State& state) {
  const PixelImage window = windowImage(1920, 1080);
  const std::string dir = tempFolder();
  std::string error;
  for (auto _ : state) {
    if (!writePng(dir + "/dashboard.png", window, error)) state.SkipWithError(error.c_str());
  }
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(dir + "/dashboard.png"));
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_WindowPng1080p)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
