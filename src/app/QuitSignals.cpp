#include "app/QuitSignals.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>

#include "i18n/Translate.h"
#include "results/TextFormat.h"

namespace {

std::atomic<bool> s_quitSignal{false};
static_assert(std::atomic<bool>::is_always_lock_free);

constexpr int kQuitSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<int> s_quitSignals{0};
void (*s_cleanup)() = nullptr;
std::size_t (*s_filesWritten)() = nullptr;
char s_urgentNotice[4096];
char s_onceWritten[4096];  // the notice once the file being written is in place
std::size_t s_onceWrittenLength = 0;
std::size_t s_writtenBefore = 0;  // s_filesWritten() when the notice was set
// 0 while the notice is being written, so the handler never reads half of it.
std::atomic<std::size_t> s_urgentLength{0};
static_assert(std::atomic<int>::is_always_lock_free &&
              std::atomic<std::size_t>::is_always_lock_free);

void onQuitSignal(int) {
  s_quitSignal.store(true, std::memory_order_relaxed);
  std::size_t length = s_urgentLength.load(std::memory_order_acquire);
  const char* notice = s_urgentNotice;
  if (length > 0 && s_filesWritten != nullptr && s_filesWritten() > s_writtenBefore) {
    notice = s_onceWritten;
    length = s_onceWrittenLength;
  }
  if (s_quitSignals.fetch_add(1, std::memory_order_relaxed) >= 1 && length > 0) {
    // The file being written when the user gave up goes too.
    if (s_cleanup != nullptr) s_cleanup();
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, notice, length);
    ::_exit(1);
  }
}

const char* (*s_written)() = nullptr;
bool s_errIsTerminal = false;  // a progress line may stand there: cleared first

// The interrupt lines in the user's language, made before any signal is
// taken: "…（SIGINT），没有写完的文件已删除", and the two parts around the
// names of the files already written.
struct InterruptLines {
  char nothingWritten[256];
  char beforeNames[256];
  char afterNames[256];
};
InterruptLines s_lines[3];  // SIGINT, SIGTERM, SIGHUP

void copyText(char (&to)[256], const std::string& text) {
  const std::size_t n = std::min(text.size(), sizeof to - 1);
  std::memcpy(to, text.data(), n);
  to[n] = '\0';
}

void prepareInterruptLines() {
  for (std::size_t i = 0; i < std::size(kQuitSignals); ++i) {
    const char* name = sigabbrev_np(kQuitSignals[i]);
    const std::string sig = std::string("SIG") + (name != nullptr ? name : "?");
    std::string plain;
    results::appendFormat(plain, i18n::tr("quillmark: 已中断（%s），没有写完的文件已删除\n"),
                          sig.c_str());
    copyText(s_lines[i].nothingWritten, plain);
    std::string written;
    results::appendFormat(written,
                          i18n::tr("quillmark: 已中断（%s），已写入 %s；其余文件未写完，已删除\n"),
                          sig.c_str(), "\x01");
    const std::size_t mark = written.find('\x01');
    copyText(s_lines[i].beforeNames, written.substr(0, mark));
    copyText(s_lines[i].afterNames, mark == std::string::npos ? "\n" : written.substr(mark + 1));
  }
}

void writeLine(const char* line) {
  [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, line, std::strlen(line));
}

void onQuitSignalEndAtOnce(int sig) {
  if (s_cleanup != nullptr) s_cleanup();
  if (s_errIsTerminal) writeLine("\r\033[K");
  const std::size_t i = sig == SIGINT ? 0 : sig == SIGTERM ? 1 : 2;
  const char* written = s_written != nullptr ? s_written() : nullptr;
  if (written == nullptr) {
    writeLine(s_lines[i].nothingWritten);
  } else {
    writeLine(s_lines[i].beforeNames);
    writeLine(written);
    writeLine(s_lines[i].afterNames);
  }
  ::_exit(128 + sig);
}

sigset_t quitSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kQuitSignals) sigaddset(&set, sig);
  return set;
}

}  // namespace

void installQuitSignals(void (*cleanup)(), std::size_t (*filesWritten)()) {
  s_cleanup = cleanup;
  s_filesWritten = filesWritten;
  struct sigaction sa = {};
  sa.sa_handler = onQuitSignal;
  // A third signal waits for the second's clean-up and exit.
  sa.sa_mask = quitSignalSet();
  sa.sa_flags = SA_RESTART;
  for (int sig : kQuitSignals) sigaction(sig, &sa, nullptr);
  const sigset_t set = quitSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void endAtOnceOnQuitSignal(void (*cleanup)(), const char* (*written)()) {
  s_cleanup = cleanup;
  s_written = written;
  prepareInterruptLines();
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

void setUrgentQuitNotice(const std::string& line, const std::string& onceWritten) {
  s_urgentLength.store(0, std::memory_order_release);
  const std::size_t length = std::min(line.size(), sizeof s_urgentNotice);
  std::memcpy(s_urgentNotice, line.data(), length);
  s_onceWrittenLength = std::min(onceWritten.size(), sizeof s_onceWritten);
  std::memcpy(s_onceWritten, onceWritten.data(), s_onceWrittenLength);
  s_writtenBefore = s_filesWritten != nullptr ? s_filesWritten() : 0;
  s_urgentLength.store(length, std::memory_order_release);
}
