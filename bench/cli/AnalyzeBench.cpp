// `quillmark analyze` of a generated `libinput record` file of an 8000 Hz
// mouse, run as the user runs it (a child process): wall time, the child's
// CPU time (which other load on the machine does not inflate) and its peak
// resident memory. QUILLMARK_ANALYZE_SECONDS sets the
// recording's length (default 10; the figures quoted for the program are
// from 60).

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "TestFiles.h"
#include "recordings/GeneratedStream.h"

namespace {

struct Run {
  double seconds = 0;
  double peakMB = 0;
  double cpuSeconds = 0;  // the child's user and system time
  int status = -1;
};

Run analyzeInChild(const std::string& file) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(127);
    execl(QUILLMARK_BIN, QUILLMARK_BIN, "analyze", file.c_str(), "--json",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Run r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  const auto secs = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
  r.cpuSeconds = secs(usage.ru_utime) + secs(usage.ru_stime);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

void BM_AnalyzeLibinputRecord8000Hz(benchmark::State& state) {
  const char* env = std::getenv("QUILLMARK_ANALYZE_SECONDS");
  const double seconds = env != nullptr ? std::atof(env) : 10.0;
  TempDir tmp;
  const std::string file = tmp.file("mouse.yml");
  const genstream::Stream stream = genstream::makeStream(8000, seconds, 5'000, false, 0);
  genstream::writeLibinputRecord(file, stream);
  struct stat st {};
  stat(file.c_str(), &st);
  double peakMB = 0;
  double cpu = 0;
  for (auto _ : state) {
    const Run r = analyzeInChild(file);
    if (r.status != 0) state.SkipWithError("quillmark analyze failed");
    state.SetIterationTime(r.seconds);
    peakMB = std::max(peakMB, r.peakMB);
    cpu += r.cpuSeconds;
  }
  state.counters["recording_s"] = seconds;
  state.counters["reports"] = static_cast<double>(stream.reports.size());
  state.counters["file_MB"] = static_cast<double>(st.st_size) / 1e6;
  state.counters["peak_rss_MB"] = peakMB;
  state.counters["cpu_s"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_AnalyzeLibinputRecord8000Hz)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(3);

// An intervals CSV whose kernel_drops column is full: 10 s at 8000 Hz with
// the most drops each 125 µs gap may hold (3), or (range 1) 20 rows claiming
// a million drops each, which is refused. Drops are kept as counts, so the
// peak memory is that of the reports, whatever the column says.
void BM_AnalyzeCsvDropCounts(benchmark::State& state) {
  const bool hostile = state.range(0) == 1;
  TempDir tmp;
  const std::string file = tmp.file("drops.csv");
  std::FILE* f = std::fopen(file.c_str(), "w");
  std::fputs("t_us,interval_us,dx,dy,kernel_drops\n", f);
  const int rows = hostile ? 20 : 80'000;
  for (int i = 0; i < rows; ++i) {
    std::fprintf(f, "%d.000,%s,,,%s\n", i * 125, i == 0 ? "" : "125.000",
                 hostile ? "1000000" : (i == 0 ? "" : "3"));
  }
  std::fclose(f);
  double peakMB = 0;
  for (auto _ : state) {
    const Run r = analyzeInChild(file);
    if (r.status != (hostile ? 8 : 0)) state.SkipWithError("unexpected exit status");
    state.SetIterationTime(r.seconds);
    peakMB = std::max(peakMB, r.peakMB);
  }
  state.counters["rows"] = rows;
  state.counters["claimed_drops"] = hostile ? rows * 1e6 : (rows - 1) * 3.0;
  state.counters["peak_rss_MB"] = peakMB;
}
BENCHMARK(BM_AnalyzeCsvDropCounts)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
