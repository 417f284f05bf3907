// `quillmark compare` of three result folders of ten-minute 8000 Hz tests
// (each an intervals CSV and the result JSON `analyze` made of it), run as
// the user runs it: wall time, CPU time and peak memory of the program.
// QUILLMARK_COMPARE_SECONDS sets each test's length (default 60; the
// figures quoted for the program are from 600).

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "recordings/GeneratedStream.h"

namespace {

struct Run {
  double seconds = 0, cpuSeconds = 0, peakMB = 0;
  int status = -1;
};

Run runChild(const std::vector<std::string>& args, const std::string& out) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(out.c_str(), "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(127);
    std::vector<char*> argv{const_cast<char*>(QUILLMARK_BIN)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(QUILLMARK_BIN, argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const auto secs = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
  Run r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.cpuSeconds = secs(usage.ru_utime) + secs(usage.ru_stime);
  r.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// A result folder as the window saves one: intervals.csv and result.json.
void writeFolder(const std::string& folder, double seconds, uint32_t seed) {
  std::filesystem::create_directories(folder);
  const genstream::Stream s = genstream::makeStream(8000, seconds, 5'000, false, 0, seed);
  std::FILE* f = std::fopen((folder + "/intervals.csv").c_str(), "w");
  std::fputs("t_us,interval_us\n", f);
  for (std::size_t i = 0; i < s.reports.size(); ++i) {
    const int64_t t = s.reports[i].ns - s.reports[0].ns;
    std::fprintf(f, "%" PRId64 ".%03" PRId64 ",", t / 1000, t % 1000);
    if (i > 0) {
      const int64_t d = s.reports[i].ns - s.reports[i - 1].ns;
      std::fprintf(f, "%" PRId64 ".%03" PRId64, d / 1000, d % 1000);
    }
    std::fputc('\n', f);
  }
  std::fclose(f);
  runChild({"analyze", folder + "/intervals.csv", "--json"}, folder + "/result.json");
}

void BM_CompareThreeRuns8000Hz(benchmark::State& state) {
  const char* env = std::getenv("QUILLMARK_COMPARE_SECONDS");
  const double seconds = env != nullptr ? std::atof(env) : 60.0;
  TempDir tmp;
  std::vector<std::string> args = {"compare"};
  for (uint32_t i = 0; i < 3; ++i) {
    writeFolder(tmp.file("run" + std::to_string(i)), seconds, i + 1);
    args.push_back(tmp.file("run" + std::to_string(i)));
  }
  double peakMB = 0, cpu = 0;
  for (auto _ : state) {
    const Run r = runChild(args, "/dev/null");
    if (r.status != 0) state.SkipWithError("quillmark compare failed");
    state.SetIterationTime(r.seconds);
    peakMB = std::max(peakMB, r.peakMB);
    cpu += r.cpuSeconds;
  }
  state.counters["test_s"] = seconds;
  state.counters["peak_rss_MB"] = peakMB;
  state.counters["cpu_s"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_CompareThreeRuns8000Hz)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
