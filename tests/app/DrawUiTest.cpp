// drawUI's cadences on Dear ImGui time, with a headless context whose clock
// the test advances frame by frame.
#include <gtest/gtest.h>
#include <imgui.h>

#include <memory>
#include <vector>

#include "HeadlessImgui.h"
#include "ShellTestSupport.h"
#include "dashboard/Dashboard.h"
#include "dashboard/FontConfig.h"

namespace {

class DrawUi : public ::testing::Test {
 protected:
  // One context for the suite: drawUI's own statics live for the process,
  // so Dear ImGui time must keep running forward from test to test.
  static void SetUpTestSuite() {
    imgui_ = std::make_unique<HeadlessImgui>();
    dashboard::init(FontConfig{});
  }
  static void TearDownTestSuite() { imgui_.reset(); }

  void SetUp() override {
    resetShell();
    // A long first frame: the device poll and the permission refresh are
    // both due, so every test starts right after one of each.
    g_lastPermissionCheck = ImGui::GetTime();
    ASSERT_TRUE(frame(10.0f));
    base_ = ImGui::GetTime();
  }

  // One drawn frame, `dt` seconds after the previous one; returns whether the
  // permission was refreshed in it. NotRequired never comes from the check,
  // so it marks "not refreshed".
  static bool frame(float dt) {
    g_permission = PermissionStatus::NotRequired;
    ImGui::GetIO().DeltaTime = dt;
    ImGui::NewFrame();
    drawUI();
    ImGui::Render();
    return g_permission != PermissionStatus::NotRequired;
  }

  // Seconds after the first frame at which the permission was refreshed.
  std::vector<double> refreshesOver(int frames, float dt) {
    std::vector<double> at;
    for (int i = 0; i < frames; ++i) {
      if (frame(dt)) at.push_back(ImGui::GetTime() - base_);
    }
    return at;
  }

  static inline std::unique_ptr<HeadlessImgui> imgui_;
  double base_ = 0.0;
};

TEST_F(DrawUi, PermissionRefreshWaitsForTheNextDevicePoll) {
  // Frames 0.375 s apart: device polls every second frame (0.75, 1.5, 2.25,
  // 3.0 ...). 1.125 is past the second but has no poll, so the refresh comes
  // at 1.5, and the next one at 3.0.
  EXPECT_EQ(refreshesOver(8, 0.375f), (std::vector<double>{1.5, 3.0}));
  EXPECT_DOUBLE_EQ(g_lastPermissionCheck - base_, 3.0);
}

TEST_F(DrawUi, SlowFramesPollAndRefreshEveryFrame) {
  EXPECT_EQ(refreshesOver(3, 1.5f), (std::vector<double>{1.5, 3.0, 4.5}));
}

TEST_F(DrawUi, FastFramesRefreshOnceASecond) {
  // 60 frames per second for 3 s; ImGui time is not exact in binary, so
  // count rather than compare times.
  EXPECT_EQ(refreshesOver(180, 1.0f / 60.0f).size(), 3u);
}

TEST_F(DrawUi, FrameUpdatesTheAnalyzerAfterApplyingTheState) {
  requestStart();
  feedAnalyzer();
  frame(1.0f / 60.0f);
  // update() ran inside the frame: the rate is there for the next snapshot.
  EXPECT_GT(g_analyzer.getStats().currentHz, 900.0f);
  EXPECT_EQ(g_testState, TestState::Running);
  EXPECT_TRUE(g_monitor.isMonitoring());
}

}  // namespace
