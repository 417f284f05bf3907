#include "app/DrawingPriority.h"

#include <sys/resource.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

int yieldToHIDThread(int steps) {
  std::error_code ec;
  int moved = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    std::string name;
    std::getline(std::ifstream(task.path() / "comm"), name);
    if (name == "quillmark-hid") continue;
    const id_t tid = static_cast<id_t>(std::stoul(task.path().filename().string()));
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, tid);
    if (errno != 0) continue;  // the thread has ended
    if (::setpriority(PRIO_PROCESS, tid, nice + steps) == 0) ++moved;
  }
  return moved;
}
