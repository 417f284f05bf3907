#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hid/HIDDebugLog.h"
#include "hid/intake/ReportCapture.h"
#include "hid/intake/ReportRouter.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::FILE* devNull() {
  static std::FILE* const s_file = std::fopen("/dev/null", "w");
  return s_file;
}

// A capture writing to `path`, lasting `seconds`, read against `clock`.
std::unique_ptr<ReportCapture> startedCapture(std::string path, std::string seconds,
                                              ReportCapture::ClockFn clock) {
  auto capture = std::make_unique<ReportCapture>(
      [path, seconds](const char* name) -> const char* {
        const std::string n = name;
        if (n == "TAVO_CAPTURE") return path.c_str();
        if (n == "TAVO_CAPTURE_SECONDS") return seconds.c_str();
        return nullptr;
      },
      std::move(clock), devNull());
  capture->maybeStart("Bench mouse");
  return capture;
}

// The path of every report of the selected mouse: tracing off, no capture
// recording, an empty callback.
void BM_RouteSelected(benchmark::State& state) {
  if (hidDebugLogEnabled()) {
    state.SkipWithError("remove /tmp/tavo_debug_on: this measures the path with tracing off");
    return;
  }
  ReportRouter router;
  int context = 0;
  router.selectedContext.store(&context);
  router.monitoring = true;
  const unsigned char report[16] = {};
  const Clock::time_point stamp = Clock::now();
  for (auto _ : state) {
    router.route(&context, 0, report, sizeof report, stamp);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_RouteSelected)->Repetitions(5)->ReportAggregatesOnly(true);

// A report frame as the evdev reader packs it: REL_X, REL_Y and, when
// `button`, a BTN_LEFT edge.
std::vector<unsigned char> packedFrame(bool button) {
  std::vector<unsigned char> out;
  const auto put = [&out](uint16_t type, uint16_t code, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    const uint32_t t = type, c = code;
    for (const uint32_t b : {t & 0xffu, t >> 8, c & 0xffu, c >> 8, v & 0xffu, (v >> 8) & 0xffu,
                             (v >> 16) & 0xffu, v >> 24})
      out.push_back(static_cast<unsigned char>(b));
  };
  put(2, 0, 3);
  put(2, 1, -1);
  if (button) put(1, 0x110, 1);
  return out;
}

// The per-report path at 8 kHz as `buttons` and `measure` install it (a
// report callback and a button callback): the argument is how many reports
// in 64 carry a button edge (0: none; 1: a fast clicker's worst case).
void BM_RouteWithButtons(benchmark::State& state) {
  ReportRouter router;
  int context = 0;
  router.selectedContext.store(&context);
  router.monitoring = true;
  int64_t sum = 0;
  uint32_t edges = 0;
  router.reportCallback = [&sum](Clock::time_point, const ReportMotion& m) { sum += m.dx; };
  router.buttonCallback = [&edges](Clock::time_point, uint16_t, int32_t) { ++edges; };
  const std::vector<unsigned char> plain = packedFrame(false), clicked = packedFrame(true);
  const int64_t withButton = state.range(0);
  Clock::time_point stamp = Clock::now();
  int64_t i = 0;
  for (auto _ : state) {
    const std::vector<unsigned char>& f = (i++ & 63) < withButton ? clicked : plain;
    router.route(&context, 0, f.data(), f.size(), stamp);
    stamp += 125us;
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(sum);
  benchmark::DoNotOptimize(edges);
}
BENCHMARK(BM_RouteWithButtons)->Arg(0)->Arg(1)->Repetitions(5)->ReportAggregatesOnly(true);

// One 16-byte report into a running capture, with its clock read. The
// argument is how many reports each capture takes before a fresh one starts
// (outside the timing): 200,000 stays within the room claimed at the start,
// 999,999 includes the growth of the storage up to the sample limit.
void BM_CaptureAdd16(benchmark::State& state) {
  const size_t perCapture = static_cast<size_t>(state.range(0));
  auto now = [] { return Clock::now(); };
  auto capture = startedCapture("/dev/null", "1e9", now);
  unsigned char report[16];
  for (unsigned i = 0; i < 16; ++i) report[i] = static_cast<unsigned char>(i * 7);
  for (auto _ : state) {
    capture->add(1, report, sizeof report);
    if (capture->samples.size() == perCapture) {
      state.PauseTiming();
      capture = startedCapture("/dev/null", "1e9", now);
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_CaptureAdd16)
    ->Arg(200'000)
    ->Arg(ReportCapture::kSampleLimit - 1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Fills a capture with `count` reports of an 8 kHz mouse, the last of which
// ends the capture and writes the file (or stop() does, for fewer reports).
// Returns the capture so the caller can time its last step.
std::unique_ptr<ReportCapture> fillCapture(const std::string& path, size_t count,
                                           std::shared_ptr<Clock::duration> fakeNow) {
  auto capture = startedCapture(path, "1000", [fakeNow] { return Clock::time_point(*fakeNow); });
  unsigned char report[16] = {};
  for (size_t i = 1; i < count; ++i) {
    *fakeNow += 125us;
    report[0] = static_cast<unsigned char>(i);
    capture->add(1, report, sizeof report);
  }
  return capture;
}

std::string tempPath() {
  return "/tmp/quillmark-intake-bench-" + std::to_string(::getpid()) + ".csv";
}

// The peak resident memory (VmHWM) of a fresh process that records `count`
// reports and writes them, in MiB; this process's own heap would blur it.
double peakRssOfCaptureProcess(size_t count) {
  char self[4096] = {};
  if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return -1;
  const std::string command =
      std::string("'") + self + "' --capture-peak-probe " + std::to_string(count);
  std::FILE* child = ::popen(command.c_str(), "r");
  if (child == nullptr) return -1;
  double kib = -1;
  if (std::fscanf(child, "%lf", &kib) != 1) kib = -1;
  return ::pclose(child) == 0 && kib > 0 ? kib / 1024.0 : -1;
}

// Prints this process's peak resident memory in KiB.
int runCapturePeakProbe(size_t count) {
  const std::string path = tempPath();
  auto capture = fillCapture(path, count, std::make_shared<Clock::duration>(1000s));
  if (capture->recording) {
    unsigned char report[16] = {};
    capture->add(1, report, sizeof report);
    capture->stop();
  }
  capture->waitForFile(std::chrono::minutes(5));
  ::unlink(path.c_str());
  std::FILE* status = std::fopen("/proc/self/status", "r");
  char line[256];
  while (status && std::fgets(line, sizeof line, status)) {
    if (std::strncmp(line, "VmHWM:", 6) == 0) std::printf("%s\n", line + 6);
  }
  if (status) std::fclose(status);
  return capture->finished ? 0 : 1;
}

// The millionth report of an 8 kHz capture ends it. Timed: what the HID
// thread spends on that report, which hands the samples to the capture's
// writer thread. write_ms: how long the writer then takes for the whole file
// (to the page cache of the temporary directory).
void BM_CaptureWriteMillion(benchmark::State& state) {
  const std::string path = tempPath();
  auto fakeNow = std::make_shared<Clock::duration>(1000s);
  unsigned char report[16] = {};
  double writeMs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto capture = fillCapture(path, ReportCapture::kSampleLimit, fakeNow);
    state.ResumeTiming();
    capture->add(1, report, sizeof report);
    benchmark::DoNotOptimize(capture->finished);
    state.PauseTiming();
    const Clock::time_point handedOver = Clock::now();
    capture->waitForFile(std::chrono::minutes(5));
    writeMs += std::chrono::duration<double, std::milli>(Clock::now() - handedOver).count();
    capture.reset();
    state.ResumeTiming();
  }
  state.counters["write_ms"] = writeMs / static_cast<double>(state.iterations());
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    state.counters["file_MiB"] = static_cast<double>(st.st_size) / (1024.0 * 1024.0);
  }
  ::unlink(path.c_str());
  state.counters["peak_rss_MiB"] = peakRssOfCaptureProcess(ReportCapture::kSampleLimit);
  state.counters["idle_rss_MiB"] = peakRssOfCaptureProcess(1);
}
BENCHMARK(BM_CaptureWriteMillion)->Unit(benchmark::kMicrosecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--capture-peak-probe") {
    return runCapturePeakProbe(std::stoul(argv[2]));
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
