// `quillmark measure` on a virtual 8000 Hz mouse with 5 us of jitter, in
// this process: reports counted, CPU time of the whole process (HID thread
// and main loop) per second of test, and peak resident memory.
// QUILLMARK_MEASURE_SECONDS sets the test's length (default 2; the figures
// quoted for the program are from 60).

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/MeasureRun.h"
#include "hid/HIDMonitor.h"
#include "hid/service/VirtualHIDService.h"

namespace {

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto s = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
  return s(usage.ru_utime) + s(usage.ru_stime);
}

double peakRssMB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

std::string readAll(std::FILE* f) {
  std::string text;
  std::rewind(f);
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  return text;
}

void BM_MeasureVirtual8000Hz(benchmark::State& state) {
  const char* env = std::getenv("QUILLMARK_MEASURE_SECONDS");
  cli::MeasureOptions options;
  options.seconds = env != nullptr ? std::atof(env) : 2.0;
  options.json = true;
  int64_t reports = 0;
  double cpu = 0;
  for (auto _ : state) {
    auto service = std::make_shared<hidservice::VirtualHIDService>(
        std::vector<hidservice::VirtualMouseRate>{{8000, 5}});
    HIDMonitor monitor(service);
    cli::Console console;
    console.out = std::tmpfile();
    console.err = std::fopen("/dev/null", "w");
    const double before = cpuSeconds();
    const int status = cli::runMeasure(options, monitor, console);
    cpu = cpuSeconds() - before;
    if (status == 0) reports = nlohmann::json::parse(readAll(console.out))["reports"]["count"];
    std::fclose(console.out);
    std::fclose(console.err);
    if (status != 0) {
      state.SkipWithError("measure failed");
      break;
    }
  }
  state.counters["reports"] = static_cast<double>(reports);
  state.counters["expected"] = options.seconds * 8000;
  state.counters["cpu_percent_of_a_core"] = 100.0 * cpu / options.seconds;
  state.counters["peak_rss_MB"] = peakRssMB();
}
BENCHMARK(BM_MeasureVirtual8000Hz)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
