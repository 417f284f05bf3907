#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace hidservice {

// The HID thread's event loop: file descriptors watched with epoll, tasks
// posted from any thread, and a stop request from any thread through an
// eventfd. Every handler runs on the thread inside run(), one at a time.
class RunLoop {
 public:
  using FdHandler = std::function<void(uint32_t events)>;
  using Task = std::function<void()>;

  RunLoop();
  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // False when epoll or the eventfd could not be created.
  bool valid() const { return epollFd_ >= 0 && wakeFd_ >= 0; }

  // Loop thread only. Returns 0 when the descriptor cannot be watched.
  uint64_t addFd(int fd, uint32_t events, FdHandler handler);
  // Loop thread only; safe from inside a handler, including the watcher's own.
  void removeFd(uint64_t id);

  // Any thread. Tasks still queued when the loop is destroyed are dropped.
  void post(Task task);

  // Runs handlers until stop(), then returns 0. A stop requested before
  // run() makes it return at once. An epoll_wait failure other than an
  // interruption ends it early and returns that errno.
  int run();
  // Any thread.
  void stop();

 private:
  struct Watcher {
    int fd = -1;
    FdHandler handler;
    bool removed = false;
  };

  void wake();
  void drainWake();
  void runTasks();
  void dispatch(uint64_t id, uint32_t events);
  void purgeRemoved();

  int epollFd_ = -1;
  int wakeFd_ = -1;
  std::atomic<bool> stopRequested_{false};
  uint64_t nextId_ = 1;
  std::unordered_map<uint64_t, Watcher> watchers_;
  std::vector<uint64_t> removed_;
  std::mutex taskMutex_;
  std::deque<Task> tasks_;
};

}  // namespace hidservice
