// The test state machine and the order in which one frame's actions apply.
#include <gtest/gtest.h>

#include "ShellTestSupport.h"

namespace {

class TestStateMachine : public ::testing::Test {
 protected:
  void SetUp() override { resetShell(); }

  // Puts the shell in `state` with statistics on hand.
  static void enter(TestState state) {
    if (state != TestState::Idle) requestStart();
    if (state == TestState::Paused) requestPause();
    feedAnalyzer();
  }

  static void expectState(TestState state) {
    EXPECT_EQ(g_testState, state);
    EXPECT_EQ(g_monitor.isMonitoring(), state == TestState::Running);
  }
};

TEST_F(TestStateMachine, StartFromIdleResetsThenRuns) {
  enter(TestState::Idle);
  requestStart();
  expectState(TestState::Running);
  EXPECT_FALSE(analyzerHasRate());
}

TEST_F(TestStateMachine, StartFromPausedContinuesWithoutReset) {
  enter(TestState::Paused);
  requestStart();
  expectState(TestState::Running);
  EXPECT_TRUE(analyzerHasRate());
}

TEST_F(TestStateMachine, RequestsThatDoNothing) {
  enter(TestState::Running);
  requestStart();
  expectState(TestState::Running);
  EXPECT_TRUE(analyzerHasRate());

  resetShell();
  enter(TestState::Idle);
  requestPause();
  requestReset();
  expectState(TestState::Idle);
  EXPECT_TRUE(analyzerHasRate());

  resetShell();
  enter(TestState::Paused);
  requestPause();
  expectState(TestState::Paused);
  EXPECT_TRUE(analyzerHasRate());
}

TEST_F(TestStateMachine, ResetKeepsStateAndMonitoring) {
  for (TestState state : {TestState::Running, TestState::Paused}) {
    resetShell();
    enter(state);
    requestReset();
    expectState(state);
    EXPECT_FALSE(analyzerHasRate());
  }
}

TEST_F(TestStateMachine, StartAndPauseInOneFrameFromIdleEndPausedAndFresh) {
  enter(TestState::Idle);
  dashboard::UiActions actions;
  actions.startPressed = true;
  actions.pausePressed = true;
  applyActions(actions, {});
  expectState(TestState::Paused);
  EXPECT_FALSE(analyzerHasRate());
}

TEST_F(TestStateMachine, ResetAppliesAfterStartAndPause) {
  // From Paused: start continues, pause pauses again, reset then clears.
  enter(TestState::Paused);
  dashboard::UiActions actions;
  actions.startPressed = actions.pausePressed = actions.resetPressed = true;
  applyActions(actions, {});
  expectState(TestState::Paused);
  EXPECT_FALSE(analyzerHasRate());

  // Reset alone from Idle does nothing.
  resetShell();
  enter(TestState::Idle);
  dashboard::UiActions resetOnly;
  resetOnly.resetPressed = true;
  applyActions(resetOnly, {});
  expectState(TestState::Idle);
  EXPECT_TRUE(analyzerHasRate());
}

TEST_F(TestStateMachine, AlertButtonIndexMustNameAButtonOfThisFrame) {
  PlatformAlert alert;
  alert.title = "t";
  alert.actions.push_back({PlatformActionKind::OpenUrl, "bad", "not a url"});
  for (int index : {-1, 1, 7}) {
    dashboard::UiActions actions;
    actions.alertAction = index;
    testing::internal::CaptureStderr();
    applyActions(actions, alert);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << index;
  }
  dashboard::UiActions actions;
  actions.alertAction = 0;
  testing::internal::CaptureStderr();
  applyActions(actions, alert);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[链接] URL 无效，打不开：not a url\n");
  EXPECT_FALSE(g_quitRequested);
}

}  // namespace
