// Links and restarts start real processes: a stand-in xdg-open found first
// in PATH records what it was given; a restart is an exec of a real file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "app/PlatformActions.h"
#include "app/ProcessLaunch.h"
#include "app/Shell.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class TempDir {
 public:
  TempDir() {
    char templ[] = "/tmp/quillmark-app-XXXXXX";
    path_ = mkdtemp(templ);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Waits for every started child; the launcher's own list forgets them on
// its next reap.
void waitForChildren() {
  while (waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
  }
  reapChildren();
}

class LinkOpening : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string script = dir_.path() + "/xdg-open";
    std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"$QM_LINK_OUT\"\n";
    chmod(script.c_str(), 0755);
    out_ = dir_.path() + "/args";
    oldPath_ = std::getenv("PATH");
    setenv("PATH", (dir_.path() + ":" + oldPath_).c_str(), 1);
    setenv("QM_LINK_OUT", out_.c_str(), 1);
  }
  void TearDown() override { setenv("PATH", oldPath_.c_str(), 1); }

  TempDir dir_;
  std::string out_;
  std::string oldPath_;
};

TEST_F(LinkOpening, UrlIsOneArgumentWithoutAShell) {
  const std::string url = "https://example.com/a?b=1&c=$(touch%20x);d='e'#f";
  testing::internal::CaptureStderr();
  openLink(url);
  waitForChildren();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(readFile(out_), "1\n" + url + "\n");
}

TEST_F(LinkOpening, UnusableTextIsReportedAndNothingStarts) {
  const char* bad[] = {"",
                       "example.com",
                       "://x",
                       "-x:foo",
                       "1http://x",
                       "http:",
                       "http://a b",
                       "http://a\tb",
                       "http://a\"b",
                       "http://a<b>",
                       "http://a%zz",
                       "http://a%4",
                       "http://例子.cn"};
  for (const char* text : bad) {
    testing::internal::CaptureStderr();
    openLink(text);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("[链接] URL 无效，打不开：") + text + "\n");
  }
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(access(out_.c_str(), F_OK), -1);
}

TEST_F(LinkOpening, HelpButtonOpensTheHelpPage) {
  PlatformAlert alert;
  addPermissionActions(alert);
  performPlatformAction(alert.actions[0]);
  waitForChildren();
  EXPECT_EQ(readFile(out_), "1\n" + permissionHelpUrl() + "\n");
}

TEST(Launch, ExecOfAMissingFileFailsAndLeavesNoProcess) {
  std::string error;
  EXPECT_FALSE(launchInstance("/nonexistent/quillmark", {"quillmark"}, error));
  EXPECT_EQ(error, std::strerror(ENOENT));
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(Launch, NewInstanceGetsTheArgumentsAndEnvironment) {
  TempDir dir;
  const std::string out = dir.path() + "/seen";
  setenv("QM_LAUNCH_OUT", out.c_str(), 1);
  std::string error;
  ASSERT_TRUE(launchInstance(
      "/bin/sh",
      {"sh", "-c", "printf '%s|' \"$0\" \"$1\" > \"$QM_LAUNCH_OUT\"", "first arg", "second"},
      error))
      << error;
  waitForChildren();
  EXPECT_EQ(readFile(out), "first arg|second|");
}

TEST(Launch, RestartStartsThisProgramAgainAndQuitsThisInstance) {
  // The new instance of this test program lists no tests and ends.
  char arg0[] = "app_test";
  char arg1[] = "--gtest_filter=-*";
  char* argv[] = {arg0, arg1, nullptr};
  setLaunchArguments(2, argv);
  g_quitRequested = false;
  testing::internal::CaptureStderr();
  performPlatformAction({PlatformActionKind::Relaunch, "重启应用", ""});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(g_quitRequested);
  int status = -1;
  ASSERT_GT(waitpid(-1, &status, 0), 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  reapChildren();
}

}  // namespace
