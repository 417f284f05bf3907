#include "hid/HIDDebugLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point startTime() {
  static const Clock::time_point start = Clock::now();
  return start;
}

}  // namespace

namespace tracelog {

bool appendToLog(const char* path, const char* text, size_t len) {
  // The log lives in a world-writable directory under a fixed name: refuse
  // links (symbolic or hard) and files that belong to someone else. Another
  // user's FIFO must not block the HID thread, nor a terminal become ours.
  int fd = ::open(
      path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
  if (fd < 0) return false;
  struct stat st {};
  bool ok =
      ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == ::geteuid();
  if (ok) ok = ::write(fd, text, len) == static_cast<ssize_t>(len);
  ::close(fd);
  return ok;
}

bool writeLine(const char* path, std::chrono::nanoseconds elapsed, const char* format,
               va_list args) {
  const double ms = std::chrono::duration<double, std::milli>(elapsed).count();
  char stackBuf[512];
  const int prefix = std::snprintf(stackBuf, sizeof stackBuf, "[%9.3f] ", ms);
  if (prefix < 0 || static_cast<size_t>(prefix) >= sizeof stackBuf) return false;

  va_list copy;
  va_copy(copy, args);
  const size_t room = sizeof stackBuf - static_cast<size_t>(prefix);
  const int body = std::vsnprintf(stackBuf + prefix, room, format, args);
  if (body < 0) {
    va_end(copy);
    return false;
  }

  // One write per line keeps lines from two threads from interleaving.
  if (static_cast<size_t>(body) < room) {
    va_end(copy);
    size_t len = static_cast<size_t>(prefix + body);
    stackBuf[len++] = '\n';
    return appendToLog(path, stackBuf, len);
  }
  std::string line(stackBuf, static_cast<size_t>(prefix));
  line.resize(static_cast<size_t>(prefix + body) + 1);
  std::vsnprintf(line.data() + prefix, static_cast<size_t>(body) + 1, format, copy);
  va_end(copy);
  line.back() = '\n';
  return appendToLog(path, line.data(), line.size());
}

}  // namespace tracelog

bool hidDebugLogEnabled() {
  static const bool enabled = ::access(kTraceSwitchPath, F_OK) == 0;
  return enabled;
}

void hidDebugLog(const char* format, ...) {
  if (!hidDebugLogEnabled()) return;
  const Clock::time_point start = startTime();
  const Clock::time_point now = Clock::now();
  va_list args;
  va_start(args, format);
  tracelog::writeLine(kTraceLogPath, now - start, format, args);
  va_end(args);
}
