// The trace log at its fixed paths, and the router's trace lines, each run in
// a fresh child process (the switch is read once per process). The switch file
// and the log are shared by the whole machine: CTest runs these under a
// resource lock, and every test leaves /tmp as it found it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "hid/HIDDebugLog.h"

extern char** environ;

namespace {

// Holds the switch file in the wanted state and remembers the log's length,
// so that afterwards the log can be read from there and cut back.
class TraceSandbox {
 public:
  explicit TraceSandbox(bool switchOn) {
    struct stat st {};
    const bool switchExists = ::lstat(kTraceSwitchPath, &st) == 0;
    if (switchOn && !switchExists) {
      const int fd = ::open(kTraceSwitchPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd < 0) {
        skip = "cannot create the switch file";
        return;
      }
      ::close(fd);
      createdSwitch_ = true;
    } else if (!switchOn && switchExists) {
      skip = "the switch file exists and is not ours to remove";
      return;
    }
    if (::lstat(kTraceLogPath, &st) == 0) {
      if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1) {
        skip = "the log file is not a plain file of this user";
        return;
      }
      logExisted_ = true;
      logLength_ = st.st_size;
    }
  }

  ~TraceSandbox() {
    if (createdSwitch_) ::unlink(kTraceSwitchPath);
    if (!skip.empty()) return;
    struct stat st {};
    if (!logExisted_) {
      if (::lstat(kTraceLogPath, &st) == 0 && S_ISREG(st.st_mode)) ::unlink(kTraceLogPath);
      return;
    }
    const int fd = ::open(kTraceLogPath, O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      [[maybe_unused]] int ignored = ::ftruncate(fd, logLength_);
      ::close(fd);
    }
  }

  // Lines appended since the sandbox was set up that contain `marker`.
  std::vector<std::string> linesWith(const std::string& marker) const {
    const std::string text = readFile(kTraceLogPath);
    std::vector<std::string> lines;
    size_t pos = std::min(text.size(), static_cast<size_t>(logLength_));
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(pos, end - pos);
      if (line.find(marker) != std::string::npos) lines.push_back(line);
      pos = end + 1;
    }
    return lines;
  }

  std::string skip;

 private:
  bool createdSwitch_ = false;
  bool logExisted_ = false;
  off_t logLength_ = 0;
};

int runProbe(const char* scenario) {
  char* argv[] = {const_cast<char*>(INTAKE_TRACE_PROBE), const_cast<char*>(scenario), nullptr};
  pid_t pid = 0;
  if (::posix_spawn(&pid, INTAKE_TRACE_PROBE, nullptr, nullptr, argv, environ) != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#define SANDBOX(name, switchOn) \
  TraceSandbox name(switchOn);  \
  if (!name.skip.empty()) GTEST_SKIP() << name.skip

const std::regex kPrefix(R"(^\[[ 0-9]{5}\.[0-9]{3}\] )");

TEST(TraceProcess, EachCallAppendsOnePrefixedLine) {
  SANDBOX(sandbox, true);
  ASSERT_EQ(runProbe("lines"), 0);

  const std::vector<std::string> lines = sandbox.linesWith("] probe ");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(12), "probe first 1");
  EXPECT_EQ(lines[1].substr(12), "probe second");
  EXPECT_EQ(lines[2].substr(12), "probe long " + std::string(700, 'y'));
  for (const std::string& line : lines) EXPECT_TRUE(std::regex_search(line, kPrefix)) << line;
}

TEST(TraceProcess, ASwitchCreatedAfterTheFirstCallHasNoEffect) {
  SANDBOX(sandbox, false);
  EXPECT_EQ(runProbe("late-switch"), 0);
  EXPECT_TRUE(sandbox.linesWith("probe late").empty());
  EXPECT_FALSE(std::filesystem::exists(kTraceSwitchPath));
}

// A running test traces its first five dropped reports, whatever is selected.
void expectFiveDropLines(const char* scenario, const std::string& line) {
  SANDBOX(sandbox, true);
  ASSERT_EQ(runProbe(scenario), 0);

  const std::vector<std::string> lines = sandbox.linesWith(line);
  ASSERT_EQ(lines.size(), 5u);
  for (const std::string& l : lines) EXPECT_EQ(l.substr(12), line);
}

TEST(TraceProcess, AtMostFiveDroppedReportsAreTraced) {
  expectFiveDropLines("drops", "报告被丢弃: 来自 ctx=0xd0d0，当前选中 ctx=0x5e1ec7ed");
}

TEST(TraceProcess, WithNothingSelectedFiveDropsAreTraced) {
  expectFiveDropLines("unselected-drops", "报告被丢弃: 来自 ctx=0xd0d0，当前选中 ctx=(nil)");
}

TEST(TraceProcess, DeliveryLatencyIsTracedOncePerTwoSeconds) {
  SANDBOX(sandbox, true);
  ASSERT_EQ(runProbe("latency"), 0);  // 5 s of reports, no callback installed

  const std::vector<std::string> lines = sandbox.linesWith("ts: 交付延迟=0.250ms");
  ASSERT_EQ(lines.size(), 3u);
  for (const std::string& line : lines) EXPECT_EQ(line.substr(12), "ts: 交付延迟=0.250ms");
}

TEST(TraceProcess, WithTracingOffTheRouterWritesNothingAndReadsNoClock) {
  SANDBOX(sandbox, false);
  EXPECT_EQ(runProbe("quiet"), 0);
  EXPECT_TRUE(sandbox.linesWith("ctx=0xd0d0").empty());
  EXPECT_TRUE(sandbox.linesWith("交付延迟=0.250ms").empty());
}

TEST(TraceProcess, KernelBufferOverflowsAreTracedAtMostFiveTimesEachWithTheTotal) {
  SANDBOX(sandbox, true);
  ASSERT_EQ(runProbe("overflows"), 0);

  const std::vector<std::string> probe = sandbox.linesWith("] probe overflow ctx=");
  ASSERT_EQ(probe.size(), 1u);
  const std::string ctx = probe[0].substr(probe[0].find("ctx="));
  const std::vector<std::string> lines = sandbox.linesWith("drop: " + ctx + " ");
  ASSERT_EQ(lines.size(), 5u);
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].substr(12),
              "drop: " + ctx +
                  " 内核缓冲区溢出 (SYN_DROPPED)，报告已丢失，累计=" + std::to_string(i + 1));
  }
}

// Moves an existing log aside for the life of the test and puts it back.
class LogAside {
 public:
  LogAside() : aside_(std::string(kTraceLogPath) + ".aside-" + std::to_string(::getpid())) {
    moved_ = ::rename(kTraceLogPath, aside_.c_str()) == 0;
  }
  ~LogAside() {
    ::unlink(kTraceLogPath);
    if (moved_) ::rename(aside_.c_str(), kTraceLogPath);
  }

 private:
  std::string aside_;
  bool moved_ = false;
};

TEST(TraceProcess, ALinkPlantedAtTheLogPathIsNotFollowed) {
  SANDBOX(sandbox, true);
  TempDir dir;
  const std::string victim = dir.file("victim");
  writeFile(victim, "keep\n");
  LogAside aside;
  ASSERT_EQ(::symlink(victim.c_str(), kTraceLogPath), 0);

  EXPECT_EQ(runProbe("lines"), 0);
  EXPECT_EQ(readFile(victim), "keep\n");
  EXPECT_TRUE(std::filesystem::is_symlink(kTraceLogPath));
}

}  // namespace
