#include "app/QuitSignals.h"

#include <signal.h>

#include <atomic>

namespace {

std::atomic<bool> s_quitSignal{false};
static_assert(std::atomic<bool>::is_always_lock_free);

constexpr int kQuitSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onQuitSignal(int) { s_quitSignal.store(true, std::memory_order_relaxed); }

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

void acceptQuitSignals() {
  const sigset_t set = quitSignalSet();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

bool quitSignalReceived() { return s_quitSignal.load(std::memory_order_relaxed); }
