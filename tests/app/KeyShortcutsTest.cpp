// The shell keys S, P, R and Escape, by key position, and the passing on of
// every other key.
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <vector>

#include "ShellTestSupport.h"
#include "app/ButtonsPageModel.h"
#include "app/KeyShortcuts.h"

namespace {

struct ForwardedKey {
  int key, scancode, action, mods;
};
std::vector<ForwardedKey> g_forwarded;

void recordKey(GLFWwindow*, int key, int scancode, int action, int mods) {
  g_forwarded.push_back({key, scancode, action, mods});
}

class KeyShortcuts : public ::testing::Test {
 protected:
  void SetUp() override {
    resetShell();
    g_forwarded.clear();
  }
  static void press(int key, int mods = 0, int action = GLFW_PRESS) {
    routeKey(nullptr, key, 0, action, mods, recordKey);
  }
};

TEST_F(KeyShortcuts, SStartsFromIdleWithResetButContinuesPausedWithout) {
  feedAnalyzer();
  press(GLFW_KEY_S);
  EXPECT_EQ(g_testState, TestState::Running);
  EXPECT_TRUE(g_monitor.isMonitoring());
  EXPECT_FALSE(analyzerHasRate());

  press(GLFW_KEY_P);
  EXPECT_EQ(g_testState, TestState::Paused);
  EXPECT_FALSE(g_monitor.isMonitoring());
  feedAnalyzer();
  press(GLFW_KEY_S);
  EXPECT_EQ(g_testState, TestState::Running);
  EXPECT_TRUE(analyzerHasRate());
}

TEST_F(KeyShortcuts, RWhileIdleDoesNothingAndIsStillConsumed) {
  feedAnalyzer();
  press(GLFW_KEY_R);
  EXPECT_EQ(g_testState, TestState::Idle);
  EXPECT_TRUE(analyzerHasRate());
  EXPECT_TRUE(g_forwarded.empty());
}

TEST_F(KeyShortcuts, RepeatsCountAndReleasesDoNot) {
  press(GLFW_KEY_S);
  feedAnalyzer();
  press(GLFW_KEY_R, 0, GLFW_RELEASE);
  EXPECT_TRUE(analyzerHasRate());
  press(GLFW_KEY_R, 0, GLFW_REPEAT);
  EXPECT_FALSE(analyzerHasRate());
  feedAnalyzer();
  press(GLFW_KEY_R, 0, GLFW_REPEAT);
  EXPECT_FALSE(analyzerHasRate());
  EXPECT_TRUE(g_forwarded.empty());
}

TEST_F(KeyShortcuts, ModifiersDoNotChangeTheAction) {
  press(GLFW_KEY_S, GLFW_MOD_SHIFT);
  EXPECT_EQ(g_testState, TestState::Running);
  press(GLFW_KEY_P, GLFW_MOD_ALT | GLFW_MOD_CONTROL);
  EXPECT_EQ(g_testState, TestState::Paused);
  press(GLFW_KEY_ESCAPE, GLFW_MOD_SUPER);
  EXPECT_TRUE(g_quitRequested);
  EXPECT_TRUE(g_forwarded.empty());
}

TEST_F(KeyShortcuts, EscapeQuitsFromEveryState) {
  for (TestState state : {TestState::Idle, TestState::Running, TestState::Paused}) {
    resetShell();
    if (state != TestState::Idle) press(GLFW_KEY_S);
    if (state == TestState::Paused) press(GLFW_KEY_P);
    press(GLFW_KEY_ESCAPE);
    EXPECT_TRUE(g_quitRequested);
    EXPECT_EQ(g_testState, state);
  }
}

// B opens the buttons page, which has the mouse's reports routed while it is
// shown without making them a rate test, and B closes it again; a held B
// switches once.
TEST_F(KeyShortcuts, BSwitchesToTheButtonsPageAndBack) {
  press(GLFW_KEY_B);
  EXPECT_TRUE(buttonsPage().isOpen());
  EXPECT_TRUE(g_monitor.isMonitoring());
  EXPECT_EQ(g_testState, TestState::Idle);
  press(GLFW_KEY_B, 0, GLFW_REPEAT);
  EXPECT_TRUE(buttonsPage().isOpen());
  press(GLFW_KEY_S);
  press(GLFW_KEY_B);
  EXPECT_FALSE(buttonsPage().isOpen());
  EXPECT_TRUE(g_monitor.isMonitoring());  // the rate test goes on
  press(GLFW_KEY_P);
  EXPECT_FALSE(g_monitor.isMonitoring());
  EXPECT_TRUE(g_forwarded.empty());
}

TEST_F(KeyShortcuts, OtherKeysReachTheNextHandlerUnchanged) {
  // Keys named after the letters of other layouts' S position, the keypad
  // and Space are not shell keys: position is what counts.
  const int others[] = {GLFW_KEY_A,    GLFW_KEY_O,  GLFW_KEY_SPACE,  GLFW_KEY_ENTER,
                        GLFW_KEY_KP_0, GLFW_KEY_F1, GLFW_KEY_UNKNOWN};
  for (int key : others) {
    routeKey(nullptr, key, 39, GLFW_PRESS, GLFW_MOD_SHIFT, recordKey);
    routeKey(nullptr, key, 39, GLFW_RELEASE, 0, recordKey);
  }
  ASSERT_EQ(g_forwarded.size(), 2 * std::size(others));
  for (size_t i = 0; i < std::size(others); ++i) {
    const ForwardedKey& down = g_forwarded[2 * i];
    EXPECT_EQ(down.key, others[i]);
    EXPECT_EQ(down.scancode, 39);
    EXPECT_EQ(down.action, GLFW_PRESS);
    EXPECT_EQ(down.mods, GLFW_MOD_SHIFT);
    EXPECT_EQ(g_forwarded[2 * i + 1].action, GLFW_RELEASE);
  }
  EXPECT_EQ(g_testState, TestState::Idle);
  EXPECT_FALSE(g_quitRequested);
}

}  // namespace
