#include "app/DrawingPriority.h"

#include <sched.h>
#include <sys/resource.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace {

constexpr const char* kHIDThreadName = "quillmark-hid";

// Calls `visit` with each thread's id and name.
void forEachThread(const std::function<void(pid_t, const std::string&)>& visit) {
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    std::string name;
    std::getline(std::ifstream(task.path() / "comm"), name);
    visit(static_cast<pid_t>(std::stol(task.path().filename().string())), name);
  }
}

}  // namespace

int yieldToHIDThread(int steps) {
  int moved = 0;
  forEachThread([&](pid_t tid, const std::string& name) {
    if (name == kHIDThreadName) return;
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno != 0) return;  // the thread has ended
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice + steps) == 0) ++moved;
  });
  return moved;
}

bool raiseHIDThread() {
  bool raised = false;
  forEachThread([&](pid_t tid, const std::string& name) {
    if (name != kHIDThreadName) return;
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO);
    raised = sched_setscheduler(tid, SCHED_FIFO, &param) == 0;
  });
  return raised;
}
