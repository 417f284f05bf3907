#pragma once

// Runs the quillmark program as a user would from a shell: arguments,
// environment, its stdout and stderr kept apart, and optionally Ctrl-C
// (SIGINT) once a text has appeared on its stderr, and what its descriptors
// are set to just before it starts.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TestFiles.h"

namespace clitest {

struct Finished {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

struct Interrupt {
  std::string whenErrHas;  // empty: never
  double afterSeconds = 0;
  int times = 1;  // SIGINTs sent, `apart` seconds apart
  double apart = 0.3;
  int signal = SIGINT;
  bool fromStart = false;  // afterSeconds counts from the start, not from a text
};

inline Finished runQuillmark(const std::vector<std::string>& args,
                             const std::vector<std::pair<std::string, std::string>>& env,
                             const std::string& scratch, const Interrupt& interrupt = {},
                             const std::function<void()>& inChild = {},
                             std::string program = QUILLMARK_BIN) {
  const std::string outPath = scratch + ".out";
  const std::string errPath = scratch + ".err";
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(outPath.c_str(), "w", stdout) || !freopen(errPath.c_str(), "w", stderr))
      _exit(127);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    if (inChild) inChild();
    std::vector<char*> argv;
    argv.push_back(program.data());
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(180);
  Clock::time_point seen{};
  int sent = 0;
  int wstatus = 0;
  while (waitpid(pid, &wstatus, WNOHANG) == 0) {
    if (Clock::now() > deadline) kill(pid, SIGKILL);
    if ((!interrupt.whenErrHas.empty() || interrupt.fromStart) && sent < interrupt.times) {
      if (seen == Clock::time_point{} &&
          (interrupt.fromStart ||
           readFile(errPath).find(interrupt.whenErrHas) != std::string::npos)) {
        seen = Clock::now();
      }
      if (seen != Clock::time_point{} &&
          Clock::now() - seen >=
              std::chrono::duration<double>(interrupt.afterSeconds + interrupt.apart * sent)) {
        kill(pid, interrupt.signal);
        ++sent;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(sent > 0 ? 1 : 10));
  }
  Finished f;
  f.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  f.out = readFile(outPath);
  f.err = readFile(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return f;
}

}  // namespace clitest
