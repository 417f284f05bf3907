// Runs one trace scenario in a fresh process, so that the trace log's
// once-per-process switch is decided here and not in the test runner. Exits 0
// when this process's own checks hold; the parent test reads the log.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "hid/HIDDebugLog.h"
#include "hid/HIDMonitor.h"
#include "hid/intake/ReportRouter.h"
#include "hid/service/VirtualHIDService.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Distinctive contexts, so the parent can tell these lines from anyone else's.
const void* const kSelected = reinterpret_cast<const void*>(0x5e1ec7ed);
const void* const kOther = reinterpret_cast<const void*>(0xd0d0);

Clock::duration g_now{};
int g_clockReads = 0;

Clock::time_point fakeNow() {
  ++g_clockReads;
  return Clock::time_point(g_now);
}

int fail(const char* what) {
  std::fprintf(stderr, "trace probe: %s\n", what);
  return 1;
}

void routeOne(ReportRouter& router, const void* context) {
  static const unsigned char report[4] = {1, 2, 3, 4};
  router.route(context, 0, report, sizeof report, Clock::time_point(g_now - 250us));
}

// The router with a test running on kSelected, a fake clock, no callback.
void prepare(ReportRouter& router) {
  router.clock = fakeNow;
  router.selectedContext.store(kSelected);
  router.monitoring = true;
}

int lines() {
  hidDebugLog("probe first %d", 1);
  hidDebugLog("probe second");
  hidDebugLog("probe long %s", std::string(700, 'y').c_str());
  return hidDebugLogEnabled() ? 0 : fail("tracing is off");
}

int lateSwitch() {
  if (hidDebugLogEnabled()) return fail("tracing is on before the switch exists");
  const int fd = ::open(kTraceSwitchPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return fail("cannot create the switch file");
  ::close(fd);
  hidDebugLog("probe late");
  const bool on = hidDebugLogEnabled();
  ::unlink(kTraceSwitchPath);
  return on ? fail("the switch was read again") : 0;
}

void routeOthers(ReportRouter& router, int count) {
  for (int i = 0; i < count; ++i) routeOne(router, kOther);
}

// Selected reports every millisecond from t = 1000 s, delivered 0.25 ms after their stamp.
void routeEveryMs(ReportRouter& router, int count) {
  for (int i = 0; i < count; ++i) {
    g_now = Clock::duration(1000s) + i * 1ms;
    routeOne(router, kSelected);
  }
}

// No mouse selected: every report of a running test is dropped.
int unselectedDrops() {
  ReportRouter router;
  router.monitoring = true;
  routeOthers(router, 12);
  return 0;
}

int drops() {
  ReportRouter router;
  prepare(router);
  router.monitoring = false;
  routeOthers(router, 3);
  if (router.dropLines.passed() != 0) return fail("drops counted while not monitoring");
  router.monitoring = true;
  routeOthers(router, 8);
  return router.dropLines.passed() == 5 ? 0 : fail("drop counter is not 5");
}

int latency() {
  ReportRouter router;
  prepare(router);
  routeEveryMs(router, 5000);
  return g_clockReads == 5000 ? 0 : fail("clock not read once per report");
}

int quiet() {
  if (hidDebugLogEnabled()) return fail("tracing is on");
  ReportRouter router;
  prepare(router);
  routeOthers(router, 8);
  routeEveryMs(router, 5000);
  if (router.dropLines.passed() != 0) return fail("drops counted with tracing off");
  return g_clockReads == 0 ? 0 : fail("clock read with tracing off");
}

// A mouse whose kernel buffer overflows 1000 times in a row. Its context is
// written to the log first, so the parent can tell its lines from others'.
int overflows() {
  auto service = std::make_shared<hidservice::VirtualHIDService>();
  HIDMonitor monitor(service);
  monitor.start();
  hidservice::VirtualDevice* mouse = service->addDevice({});
  service->sync();
  hidDebugLog("probe overflow ctx=%p", mouse->target().context);
  for (int i = 0; i < 1000; ++i)
    service->deliverReport(mouse, hidservice::overrunResult(), 1000 + i);
  service->sync();
  const auto devices = monitor.getMouseDevices();
  return devices.size() == 1 && devices[0].droppedReports == 1000 ? 0 : fail("drops not counted");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string scenario = argc > 1 ? argv[1] : "";
  if (scenario == "unselected-drops") return unselectedDrops();
  if (scenario == "lines") return lines();
  if (scenario == "late-switch") return lateSwitch();
  if (scenario == "drops") return drops();
  if (scenario == "latency") return latency();
  if (scenario == "quiet") return quiet();
  if (scenario == "overflows") return overflows();
  return fail("unknown scenario");
}
