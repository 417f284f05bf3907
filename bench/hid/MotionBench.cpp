// What each report's motion costs on the HID thread and in memory: the
// decoding of its frame, its recording beside the stamp, and the whole path
// from the router to the recorder.
#include <benchmark/benchmark.h>
#include <linux/input.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "hid/intake/ReportRouter.h"
#include "hid/service/MotionDecoder.h"
#include "results/StampRecorder.h"

namespace {

using Clock = std::chrono::steady_clock;

void pack(std::vector<uint8_t>& frame, uint16_t type, uint16_t code, int32_t value) {
  const uint32_t t = type, c = code, v = static_cast<uint32_t>(value);
  for (uint32_t byte : {t, t >> 8, c, c >> 8, v, v >> 8, v >> 16, v >> 24}) {
    frame.push_back(static_cast<uint8_t>(byte));
  }
}

// 0: a moving mouse's frame (REL_X, REL_Y: 16 bytes); 1: a busy one with a
// button, its scan code and both wheel events (48 bytes).
std::vector<uint8_t> frameOf(int64_t kind) {
  std::vector<uint8_t> frame;
  if (kind == 1) {
    pack(frame, EV_MSC, MSC_SCAN, 0x90001);
    pack(frame, EV_KEY, BTN_LEFT, 1);
  }
  pack(frame, EV_REL, REL_X, -3);
  pack(frame, EV_REL, REL_Y, 1);
  if (kind == 1) {
    pack(frame, EV_REL, REL_WHEEL, 1);
    pack(frame, EV_REL, REL_WHEEL_HI_RES, 120);
  }
  return frame;
}

void BM_DecodeMotion(benchmark::State& state) {
  const std::vector<uint8_t> frame = frameOf(state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(frame.data());
    benchmark::DoNotOptimize(hidservice::decodeMotion(frame.data(), frame.size()));
  }
}
BENCHMARK(BM_DecodeMotion)->Arg(0)->Arg(1)->Repetitions(5)->ReportAggregatesOnly(true);

// One report recorded: arg 0 the stamp alone (its motion left unknown), arg
// 1 the stamp with a decoded motion. A new chunk every 65,536 reports.
void BM_RecordReport(benchmark::State& state) {
  results::StampRecorder recorder;
  const ReportMotion motion =
      state.range(0) == 1 ? hidservice::decodeMotion(frameOf(0).data(), 16) : ReportMotion{};
  int64_t t = 0;
  for (auto _ : state) {
    recorder.add(Clock::time_point(std::chrono::nanoseconds(t += 125'000)), motion);
    if (recorder.count() == recorder.limit()) recorder.reset();
  }
}
BENCHMARK(BM_RecordReport)->Arg(0)->Arg(1)->Repetitions(5)->ReportAggregatesOnly(true);

// The selected mouse's report from the router to the recorder, as the window
// and the terminal meter install it: decode, callback, record.
void BM_RouteDecodeRecord(benchmark::State& state) {
  results::StampRecorder recorder;
  ReportRouter router;
  int context = 0;
  router.selectedContext.store(&context);
  router.monitoring = true;
  router.reportCallback = [&recorder](Clock::time_point t, const ReportMotion& m) {
    recorder.add(t, m);
    if (recorder.count() == recorder.limit()) recorder.reset();
  };
  const std::vector<uint8_t> frame = frameOf(0);
  Clock::time_point stamp = Clock::now();
  for (auto _ : state) {
    router.route(&context, 0, frame.data(), frame.size(), stamp += std::chrono::microseconds(125));
  }
}
BENCHMARK(BM_RouteDecodeRecord)->Repetitions(5)->ReportAggregatesOnly(true);

long residentPages() {
  long size = 0, resident = 0;
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return -1;
  if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = -1;
  std::fclose(f);
  return resident;
}

// Memory a recorded report takes: resident growth while a recorder takes
// 1,966,080 reports (30 chunks, four minutes at 8000 Hz), per report.
void BM_BytesPerReport(benchmark::State& state) {
  constexpr int64_t kReports = 30 * 65'536;
  double bytes = 0;
  for (auto _ : state) {
    const long before = residentPages();
    results::StampRecorder recorder;
    const ReportMotion motion = hidservice::decodeMotion(frameOf(0).data(), 16);
    for (int64_t i = 0; i < kReports; ++i) {
      recorder.add(Clock::time_point(std::chrono::nanoseconds(i * 125'000)), motion);
    }
    bytes = static_cast<double>(residentPages() - before) * static_cast<double>(::getpagesize()) /
            static_cast<double>(kReports);
    benchmark::DoNotOptimize(recorder.count());
  }
  state.counters["bytes_per_report"] = bytes;
}
BENCHMARK(BM_BytesPerReport)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
