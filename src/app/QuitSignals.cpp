#include "app/QuitSignals.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

std::atomic<bool> s_quitSignal{false};
static_assert(std::atomic<bool>::is_always_lock_free);

constexpr int kQuitSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<int> s_quitSignals{0};
char s_urgentNotice[4096];
// 0 while the notice is being written, so the handler never reads half of it.
std::atomic<std::size_t> s_urgentLength{0};
static_assert(std::atomic<int>::is_always_lock_free &&
              std::atomic<std::size_t>::is_always_lock_free);

void onQuitSignal(int) {
  s_quitSignal.store(true, std::memory_order_relaxed);
  const std::size_t length = s_urgentLength.load(std::memory_order_acquire);
  if (s_quitSignals.fetch_add(1, std::memory_order_relaxed) >= 1 && length > 0) {
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, s_urgentNotice, length);
    ::_exit(1);
  }
}

void (*s_cleanup)() = nullptr;
bool s_errIsTerminal = false;  // a progress line may stand there: cleared first

void writeLine(const char* line) {
  [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, line, std::strlen(line));
}

void onQuitSignalEndAtOnce(int sig) {
  if (s_cleanup != nullptr) s_cleanup();
  if (s_errIsTerminal) writeLine("\r\033[K");
  writeLine(sig == SIGINT    ? "quillmark: 已中断（SIGINT），没有写完的文件已删除\n"
            : sig == SIGTERM ? "quillmark: 已中断（SIGTERM），没有写完的文件已删除\n"
                             : "quillmark: 已中断（SIGHUP），没有写完的文件已删除\n");
  ::_exit(128 + sig);
}

sigset_t quitSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kQuitSignals) sigaddset(&set, sig);
  return set;
}

}  // namespace

void installQuitSignals() {
  struct sigaction sa = {};
  sa.sa_handler = onQuitSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : kQuitSignals) sigaction(sig, &sa, nullptr);
  const sigset_t set = quitSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void endAtOnceOnQuitSignal(void (*cleanup)()) {
  s_cleanup = cleanup;
  s_errIsTerminal = ::isatty(STDERR_FILENO) != 0;
  struct sigaction sa = {};
  sa.sa_handler = onQuitSignalEndAtOnce;
  // A second signal while the first is handled waits for the exit.
  sa.sa_mask = quitSignalSet();
  for (int sig : kQuitSignals) sigaction(sig, &sa, nullptr);
  acceptQuitSignals();
}

void acceptQuitSignals() {
  const sigset_t set = quitSignalSet();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

bool quitSignalReceived() { return s_quitSignal.load(std::memory_order_relaxed); }

void setUrgentQuitNotice(const std::string& line) {
  s_urgentLength.store(0, std::memory_order_release);
  const std::size_t length = std::min(line.size(), sizeof s_urgentNotice);
  std::memcpy(s_urgentNotice, line.data(), length);
  s_urgentLength.store(length, std::memory_order_release);
}
