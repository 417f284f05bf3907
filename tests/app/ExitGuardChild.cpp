// Started by ExitGuardTest with TAVO_VIRTUAL_MICE and TAVO_CAPTURE set: runs
// a test on a virtual mouse and leaves through exit() in the middle of it,
// the way a library or a stray error path would.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "app/Shell.h"

namespace {

// Registered before the guard, so it runs after the guard's handler and
// still before the process-wide objects are destroyed: by then the HID
// thread must be gone (the device list empties when it ends) and the
// capture written.
void checkStoppedBeforeStatics() {
  if (!g_monitor.getMouseDevices().empty()) _exit(4);
  const char* capture = std::getenv("TAVO_CAPTURE");
  if (capture == nullptr || access(capture, F_OK) != 0) _exit(5);
}

}  // namespace

int main() {
  std::atexit(checkStoppedBeforeStatics);
  installExitGuard();
  g_monitor.setReportCallback([](std::chrono::steady_clock::time_point t, const ReportMotion&) {
    g_analyzer.addTimestamp(t);
  });
  g_monitor.start();
  requestStart();
  // Wait for reports to flow (bounded, so a broken monitor cannot hang).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    g_analyzer.update();
    if (g_analyzer.getStats().currentHz > 0.0f) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::exit(g_analyzer.getStats().currentHz > 0.0f ? 0 : 3);
}
