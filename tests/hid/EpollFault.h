#pragma once

// A real epoll_wait failure for tests: the descriptor of an event loop's
// epoll instance is replaced by /dev/null, so the loop's next wait fails with
// EINVAL. A wait already in progress keeps its instance until it wakes.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <system_error>

// The descriptors of this process that are epoll instances.
inline std::set<int> epollFds() {
  std::set<int> fds;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    std::error_code linkError;
    const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), linkError);
    if (!linkError && target == "anon_inode:[eventpoll]") {
      fds.insert(std::stoi(entry.path().filename().string()));
    }
  }
  return fds;
}

// The one epoll instance created since `before`; -1 unless there is exactly one.
inline int newEpollFd(const std::set<int>& before) {
  int found = -1;
  for (int fd : epollFds()) {
    if (before.count(fd) != 0) continue;
    if (found >= 0) return -1;
    found = fd;
  }
  return found;
}

inline bool replaceWithDevNull(int fd) {
  const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null < 0) return false;
  const bool ok = ::dup3(null, fd, O_CLOEXEC) == fd;
  ::close(null);
  return ok;
}
