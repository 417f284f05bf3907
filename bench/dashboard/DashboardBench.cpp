// One dashboard frame for a running 8000 Hz test: 600 history samples and a
// full histogram, with the machine's real fonts.
#include <benchmark/benchmark.h>
#include <imgui.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "Fixtures.h"
#include "HeadlessImgui.h"
#include "dashboard/Dashboard.h"

namespace {

// The dashboard with the machine's real fonts, headless.
class Headless {
 public:
  Headless() { dashboard::init(platformFontConfig()); }

 private:
  HeadlessImgui imgui_{ImVec2(1280, 820)};
};

void frame(const dashboard::UiState& ui) {
  ImGui::NewFrame();
  benchmark::DoNotOptimize(dashboard::draw(ui));
  ImGui::Render();
}

// draw() alone, between a frame's start and end.
void BM_DashboardDraw8000Hz(benchmark::State& state) {
  Headless imgui;
  const dashboard::UiState ui = dashboard::runningState(8000);
  for (int i = 0; i < 10; ++i) frame(ui);  // glyphs baked, windows settled
  for (auto _ : state) {
    state.PauseTiming();
    ImGui::NewFrame();
    state.ResumeTiming();
    benchmark::DoNotOptimize(dashboard::draw(ui));
    state.PauseTiming();
    ImGui::Render();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_DashboardDraw8000Hz)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

// The whole Dear ImGui frame around it: NewFrame, draw, Render.
void BM_DashboardFrame8000Hz(benchmark::State& state) {
  Headless imgui;
  const dashboard::UiState ui = dashboard::runningState(8000);
  for (int i = 0; i < 10; ++i) frame(ui);
  for (auto _ : state) frame(ui);
}
BENCHMARK(BM_DashboardFrame8000Hz)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

long residentKiB() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  char line[256];
  long kib = 0;
  while (status && std::fgets(line, sizeof line, status))
    if (std::strncmp(line, "VmRSS:", 6) == 0) kib = std::atol(line + 6);
  if (status) std::fclose(status);
  return kib;
}

// What the fonts cost in resident memory: a fresh process's growth over
// dashboard::init with the machine's fonts and ten frames of a running test
// (every size drawn). The fonts are mapped once per process, so a process of
// its own measures it; the time is not the figure.
void BM_FontsResident(benchmark::State& state) {
  long grownKiB = -1;
  for (auto _ : state) {
    int out[2];
    if (pipe(out) != 0) break;
    const pid_t child = fork();
    if (child == 0) {
      const long before = residentKiB();
      {
        Headless imgui;
        const dashboard::UiState ui = dashboard::runningState(8000);
        for (int i = 0; i < 10; ++i) frame(ui);
        const long grown = residentKiB() - before;
        if (write(out[1], &grown, sizeof grown) != sizeof grown) _exit(1);
      }
      _exit(0);
    }
    close(out[1]);
    if (read(out[0], &grownKiB, sizeof grownKiB) != sizeof grownKiB) grownKiB = -1;
    close(out[0]);
    waitpid(child, nullptr, 0);
  }
  state.counters["fonts_resident_MiB"] = static_cast<double>(grownKiB) / 1024.0;
}
BENCHMARK(BM_FontsResident)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
