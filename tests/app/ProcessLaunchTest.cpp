// Links and restarts start real processes: a stand-in xdg-open found first
// in PATH records what it was given; a restart is an exec of a real file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "LinkOpenerStandIn.h"
#include "app/PlatformActions.h"
#include "app/ProcessLaunch.h"
#include "app/Shell.h"

namespace {

class LinkOpening : public ::testing::Test {
 protected:
  LinkOpenerStandIn opener_;
  const std::string out_ = opener_.out();
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
