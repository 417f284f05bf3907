// Leaving through exit() while a test runs: the monitor is stopped before
// the analyzer is destroyed, so the HID thread never reaches a destroyed
// analyzer and the running capture is written.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "TestFiles.h"

namespace {

TEST(ExitGuard, ExitDuringATestStopsTheMonitorAndWritesTheCapture) {
  TempDir dir;
  const std::string capture = dir.file("capture.csv");

  const pid_t pid = fork();
  if (pid == 0) {
    setenv("TAVO_VIRTUAL_MICE", "8000", 1);
    setenv("TAVO_CAPTURE", capture.c_str(), 1);
    execl(QUILLMARK_EXIT_GUARD_CHILD, QUILLMARK_EXIT_GUARD_CHILD, nullptr);
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);

  std::ifstream in(capture);
  std::string line;
  size_t samples = 0;
  size_t headerSamples = 0;
  while (std::getline(in, line)) {
    if (line.rfind("# samples=", 0) == 0) headerSamples = std::stoul(line.substr(10));
    if (!line.empty() && line[0] != '#') ++samples;
  }
  EXPECT_GT(samples, 0u);
  EXPECT_EQ(samples, headerSamples);
}

}  // namespace
