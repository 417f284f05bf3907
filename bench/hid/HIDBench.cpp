// The HID report path: one evdev frame through frame assembly, timestamp
// conversion and routing to the report callback; a virtual 8000 Hz mouse in
// real time; and how many reports per second the evdev reader takes from a
// pipe.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "hid/EvdevEvents.h"
#include "hid/HIDMonitor.h"
#include "hid/service/EvdevFrameAssembler.h"
#include "hid/service/LinuxHIDService.h"
#include "hid/service/RunLoop.h"
#include "hid/service/VirtualHIDService.h"

using namespace hidservice;
using Clock = std::chrono::steady_clock;

namespace {

int64_t threadCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// A started monitor on the virtual service with one selected, opened mouse
// and a callback that counts; target() is where that mouse's reports go.
struct MonitoredMouse {
  explicit MonitoredMouse(std::function<void(Clock::time_point, const ReportMotion&)> callback) {
    monitor.setReportCallback(std::move(callback));
    monitor.setMonitoring(true);
    monitor.start();
    VirtualDeviceSetup setup;
    setup.properties.product = "Bench Mouse";
    device = service->addDevice(setup);
    service->sync();
  }
  VirtualDevice::Target target() const { return device->target(); }

  std::shared_ptr<VirtualHIDService> service = std::make_shared<VirtualHIDService>();
  HIDMonitor monitor{service};
  VirtualDevice* device = nullptr;
};

}  // namespace

// Per report: assemble a REL_X, REL_Y, SYN_REPORT frame, convert its time,
// route it and call the callback.
static void BM_ReportPath(benchmark::State& state) {
  uint64_t received = 0;
  MonitoredMouse mouse([&received](Clock::time_point, const ReportMotion&) { ++received; });
  const VirtualDevice::Target target = mouse.target();
  EvdevFrameAssembler assembler;
  assembler.setTarget(target.buffer, target.size, target.callback, target.context, mouse.device);

  int64_t us = 1000000;
  input_event frame[3] = {ev(EV_REL, REL_X, 1, us), ev(EV_REL, REL_Y, -1, us),
                          ev(EV_SYN, SYN_REPORT, 0, us)};
  for (auto _ : state) {
    frame[2].input_event_usec = (frame[2].input_event_usec + 125) % 1000000;
    assembler.feed(frame, 3, 0);
  }
  if (received != static_cast<uint64_t>(state.iterations())) state.SkipWithError("reports lost");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReportPath)->Repetitions(9)->ReportAggregatesOnly(true);

// A virtual 8000 Hz mouse for QUILLMARK_VIRTUAL_SECONDS (2 s unless set; the
// figure is taken over 60 s): reports counted by their stamps within that
// span, the largest gap, and the HID thread's CPU time over the span.
static void BM_VirtualMouse8000Hz(benchmark::State& state) {
  const char* env = std::getenv("QUILLMARK_VIRTUAL_SECONDS");
  const double seconds = env != nullptr ? std::atof(env) : 2.0;
  for (auto _ : state) {
    std::mutex mutex;
    std::vector<Clock::time_point> stamps;
    stamps.reserve(static_cast<size_t>(8000 * (seconds + 2)));
    int64_t firstCpu = -1;
    int64_t lastCpu = 0;
    auto service = std::make_shared<VirtualHIDService>(std::vector<VirtualMouseRate>{{8000, 0}});
    HIDMonitor monitor(service);
    monitor.setReportCallback([&](Clock::time_point t, const ReportMotion&) {
      const int64_t cpu = threadCpuNs();
      std::lock_guard<std::mutex> lock(mutex);
      if (firstCpu < 0) firstCpu = cpu;
      lastCpu = cpu;
      stamps.push_back(t);
    });
    monitor.setMonitoring(true);
    monitor.start();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds + 0.5));
    monitor.stop();

    std::lock_guard<std::mutex> lock(mutex);
    if (stamps.empty()) {
      state.SkipWithError("no reports");
      return;
    }
    const Clock::time_point end = stamps.front() + std::chrono::duration_cast<Clock::duration>(
                                                       std::chrono::duration<double>(seconds));
    size_t inSpan = 0;
    double maxGapUs = 0;
    for (size_t i = 0; i < stamps.size() && stamps[i] < end; ++i) {
      ++inSpan;
      if (i > 0) {
        maxGapUs = std::max(
            maxGapUs, std::chrono::duration<double, std::micro>(stamps[i] - stamps[i - 1]).count());
      }
    }
    const double spanNs =
        std::chrono::duration<double, std::nano>(stamps.back() - stamps.front()).count();
    state.counters["reports"] = static_cast<double>(inSpan);
    state.counters["expected"] = 8000 * seconds;
    state.counters["max_gap_us"] = maxGapUs;
    state.counters["hid_cpu_pct"] =
        spanNs > 0 ? 100.0 * static_cast<double>(lastCpu - firstCpu) / spanNs : 0;
  }
}
BENCHMARK(BM_VirtualMouse8000Hz)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The evdev reader draining a pipe that a writer fills as fast as it can,
// with each report going through the monitor's full report path.
static void BM_EvdevReaderFromPipe(benchmark::State& state) {
  constexpr size_t kFrames = 1000000;
  constexpr size_t kChunkFrames = 56;  // 4032 bytes per write, under PIPE_BUF
  std::vector<input_event> chunk;
  for (size_t i = 0; i < kChunkFrames; ++i) {
    const int64_t us = 1000000 + static_cast<int64_t>(i) * 125;
    chunk.push_back(ev(EV_REL, REL_X, 1, us));
    chunk.push_back(ev(EV_REL, REL_Y, -1, us));
    chunk.push_back(ev(EV_SYN, SYN_REPORT, 0, us));
  }
  for (auto _ : state) {
    std::atomic<size_t> received{0};
    RunLoop loop;
    MonitoredMouse mouse([&](Clock::time_point, const ReportMotion&) {
      if (received.fetch_add(1, std::memory_order_relaxed) + 1 == kFrames) loop.stop();
    });
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      state.SkipWithError("pipe");
      return;
    }
    EvdevDevice reader(loop, "/proc/self/fd/" + std::to_string(fds[0]), DeviceProperties{});
    if (!reader.open().ok()) {
      state.SkipWithError("open");
      return;
    }
    const VirtualDevice::Target target = mouse.target();
    reader.registerInputReportCallback(target.buffer, target.size, target.callback, target.context);

    const auto start = Clock::now();
    std::thread writer([&] {
      const size_t bytes = chunk.size() * sizeof(input_event);
      for (size_t sent = 0; sent < kFrames; sent += kChunkFrames) {
        if (write(fds[1], chunk.data(), bytes) != static_cast<ssize_t>(bytes)) break;
      }
    });
    loop.run();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    reader.close();
    close(fds[0]);
    close(fds[1]);
    state.SetIterationTime(elapsed);
    state.counters["reports_per_s"] = static_cast<double>(received.load()) / elapsed;
  }
}
BENCHMARK(BM_EvdevReaderFromPipe)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
