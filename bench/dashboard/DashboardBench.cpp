// One dashboard frame for a running 8000 Hz test: 600 history samples and a
// full histogram, with the machine's real fonts.
#include <benchmark/benchmark.h>
#include <imgui.h>

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

}  // namespace

BENCHMARK_MAIN();
