#include "hid/service/RunLoop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace hidservice {

namespace {
// epoll data of the wake-up eventfd; watcher ids start at 1.
constexpr uint64_t kWakeId = 0;
constexpr int kMaxEvents = 32;
}  // namespace

RunLoop::RunLoop() {
  epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (!valid()) return;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kWakeId;
  if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &ev) != 0) {
    ::close(wakeFd_);
    wakeFd_ = -1;
  }
}

RunLoop::~RunLoop() {
  if (wakeFd_ >= 0) ::close(wakeFd_);
  if (epollFd_ >= 0) ::close(epollFd_);
}

uint64_t RunLoop::addFd(int fd, uint32_t events, FdHandler handler) {
  if (epollFd_ < 0 || fd < 0) return 0;
  const uint64_t id = nextId_++;
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = id;
  if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) return 0;
  watchers_[id] = Watcher{fd, std::move(handler), false};
  return id;
}

void RunLoop::removeFd(uint64_t id) {
  auto it = watchers_.find(id);
  if (it == watchers_.end() || it->second.removed) return;
  ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, it->second.fd, nullptr);
  // The handler may be running right now; it is destroyed after the batch.
  it->second.removed = true;
  removed_.push_back(id);
}

void RunLoop::post(Task task) {
  {
    std::lock_guard<std::mutex> lock(taskMutex_);
    tasks_.push_back(std::move(task));
  }
  wake();
}

void RunLoop::stop() {
  stopRequested_.store(true);
  wake();
}

void RunLoop::wake() {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  // A full counter still leaves the descriptor readable; nothing to retry.
  [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void RunLoop::drainWake() {
  uint64_t count = 0;
  [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
}

void RunLoop::runTasks() {
  std::deque<Task> batch;
  {
    std::lock_guard<std::mutex> lock(taskMutex_);
    batch.swap(tasks_);
  }
  for (Task& task : batch) {
    if (stopRequested_.load()) return;
    task();
  }
}

void RunLoop::dispatch(uint64_t id, uint32_t events) {
  auto it = watchers_.find(id);
  if (it == watchers_.end() || it->second.removed) return;
  it->second.handler(events);
}

void RunLoop::purgeRemoved() {
  for (uint64_t id : removed_) watchers_.erase(id);
  removed_.clear();
}

int RunLoop::run() {
  if (!valid()) return EBADF;
  epoll_event events[kMaxEvents];
  while (!stopRequested_.load()) {
    const int n = ::epoll_wait(epollFd_, events, kMaxEvents, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    for (int i = 0; i < n && !stopRequested_.load(); ++i) {
      if (events[i].data.u64 == kWakeId) {
        drainWake();
        runTasks();
      } else {
        dispatch(events[i].data.u64, events[i].events);
      }
    }
    purgeRemoved();
  }
  return 0;
}

}  // namespace hidservice
