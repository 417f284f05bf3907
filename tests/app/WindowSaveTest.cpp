// The E key and the 保存结果 button ask for a save only when the test has
// figures, once per press.
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ShellTestSupport.h"
#include "app/KeyShortcuts.h"
#include "app/WindowSave.h"

namespace {

int g_forwardedKeys = 0;
void forward(GLFWwindow*, int, int, int, int) { ++g_forwardedKeys; }

void key(int action) { routeKey(nullptr, GLFW_KEY_E, 0, action, 0, forward); }

// Reports until the analyzer accepts a rate; its warm-up runs on the real
// clock (at most a few seconds on a loaded machine).
bool waitForFigures() {
  for (int i = 0; i < 100 && !g_analyzer.getStats().statsValid; ++i) {
    feedAnalyzer();
    g_analyzer.update();
    if (!g_analyzer.getStats().statsValid)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return g_analyzer.getStats().statsValid;
}

class WindowSave : public ::testing::Test {
 protected:
  void SetUp() override {
    resetShell();
    resetWindowSave();
    g_forwardedKeys = 0;
  }
};

TEST_F(WindowSave, EWithoutFiguresDoesNothingButIsConsumed) {
  key(GLFW_PRESS);
  EXPECT_FALSE(takeSaveRequest());
  requestStart();  // running, nothing measured yet
  key(GLFW_PRESS);
  EXPECT_FALSE(takeSaveRequest());
  EXPECT_EQ(g_forwardedKeys, 0);
}

TEST_F(WindowSave, EAndTheButtonSaveOncePerPressWhileThereAreFigures) {
  requestStart();
  ASSERT_TRUE(waitForFigures());
  EXPECT_TRUE(canSaveResult());
  key(GLFW_PRESS);
  EXPECT_TRUE(takeSaveRequest());
  EXPECT_FALSE(takeSaveRequest());  // one save per request
  key(GLFW_REPEAT);                 // held down
  key(GLFW_RELEASE);
  EXPECT_FALSE(takeSaveRequest());

  dashboard::UiActions actions;
  actions.savePressed = true;
  requestPause();  // a paused test keeps its figures
  applyActions(actions, PlatformAlert{});
  EXPECT_TRUE(takeSaveRequest());

  requestReset();  // figures gone
  key(GLFW_PRESS);
  applyActions(actions, PlatformAlert{});
  EXPECT_FALSE(takeSaveRequest());
  EXPECT_EQ(g_forwardedKeys, 0);
}

TEST_F(WindowSave, TheStampsStartOverWithTheFigures) {
  g_stamps.add(std::chrono::steady_clock::now());
  requestStart();  // from idle: a new test
  EXPECT_EQ(g_stamps.count(), 0u);
  g_stamps.add(std::chrono::steady_clock::now());
  requestReset();
  EXPECT_EQ(g_stamps.count(), 0u);
}

}  // namespace
