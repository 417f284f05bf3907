#include "app/ProcessLaunch.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace {

std::vector<std::string> s_launchArgs;
std::vector<pid_t> s_children;  // started and not yet reaped

std::vector<char*> argvOf(std::vector<std::string>& args) {
  std::vector<char*> out;
  out.reserve(args.size() + 1);
  for (std::string& a : args) out.push_back(a.data());
  out.push_back(nullptr);
  return out;
}

// Runs in the forked child: only async-signal-safe calls until exec.
[[noreturn]] void execChild(const char* exe, char* const* argv, int errorFd) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  // The window system connection and the device nodes stay with this
  // instance; the error pipe closes on exec by itself.
  close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
  execv(exe, argv);
  const int err = errno;
  ssize_t ignored = write(errorFd, &err, sizeof err);
  (void)ignored;
  _exit(127);
}

}  // namespace

bool spawnProgram(const char* program, const std::vector<std::string>& args, std::string& error) {
  std::vector<std::string> all;
  all.reserve(args.size() + 1);
  all.emplace_back(program);
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv = argvOf(all);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, quit;
  sigemptyset(&none);
  sigemptyset(&quit);
  sigaddset(&quit, SIGINT);
  sigaddset(&quit, SIGTERM);
  sigaddset(&quit, SIGHUP);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &quit);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, program, &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    error = std::strerror(rc);
    return false;
  }
  s_children.push_back(pid);
  return true;
}

bool launchInstance(const std::string& exe, const std::vector<std::string>& argvIn,
                    std::string& error) {
  std::vector<std::string> args = argvIn;
  if (args.empty()) args.push_back(exe);
  std::vector<char*> argv = argvOf(args);

  // The child reports a failed exec through this pipe; a successful exec
  // closes it, which the parent reads as end of file.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error = std::strerror(errno);
    return false;
  }
  const pid_t pid = fork();
  if (pid == 0) execChild(exe.c_str(), argv.data(), fds[1]);
  const int forkErr = errno;
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    error = std::strerror(forkErr);
    return false;
  }

  int execErr = 0;
  ssize_t n;
  do {
    n = read(fds[0], &execErr, sizeof execErr);
  } while (n < 0 && errno == EINTR);
  close(fds[0]);
  if (n == static_cast<ssize_t>(sizeof execErr)) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    error = std::strerror(execErr);
    return false;
  }
  // The new instance outlives this one; if this one keeps running after all,
  // its status is collected like any other child's.
  s_children.push_back(pid);
  return true;
}

void setLaunchArguments(int argc, char** argv) { s_launchArgs.assign(argv, argv + argc); }

bool relaunchSelf(std::string& error) {
  return launchInstance("/proc/self/exe", s_launchArgs, error);
}

void reapChildren() {
  std::erase_if(s_children, [](pid_t pid) {
    const pid_t r = waitpid(pid, nullptr, WNOHANG);
    return r == pid || (r < 0 && errno == ECHILD);
  });
}
