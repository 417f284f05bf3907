// The control bar: button labels, enabled states and the target selector.
#include <gtest/gtest.h>

#include "DashboardHarness.h"
#include "dashboard/DashboardRules.h"
#include "i18n/Translate.h"

namespace dashboard {
namespace {

using testing::Harness;

class ControlBar : public ::testing::Test {
 protected:
  // The three buttons are centred in a 414-pixel row near the bottom edge.
  ImVec2 button(int k) const {
    const ImVec2 s = h.size();
    return ImVec2((s.x - 414) * 0.5f + 142.0f * static_cast<float>(k) + 65, s.y - 58 + 18);
  }
  ImVec2 selector() const { return ImVec2(h.size().x - 170 + 75, h.size().y - 58 + 2 + 12); }
  UiActions clickIn(int state, int k) {
    UiState ui;
    ui.testState = state;
    h.frame(ui);
    return h.click(ui, button(k));
  }
  Harness h;
};

TEST_F(ControlBar, StartLabelDependsOnTheState) {
  // Buttons appear in the log as "[ label ]".
  const struct {
    i18n::Language language;
    const char *start, *resume, *pause, *reset, *save, *keys;
  } kLabels[] = {
      {i18n::Language::Chinese, "[ 开始测试 ]", "[ 继续 ]", "[ 暂停 ]", "[ 重置 ]", "[ 保存结果 ]",
       "快捷键：S 开始 / 继续　P 暂停　R 重置　ESC 退出　E 保存结果"},
      {i18n::Language::English, "[ Start test ]", "[ Resume ]", "[ Pause ]", "[ Reset ]",
       "[ Save result ]", "Keys: S start / resume  P pause  R reset  ESC quit  E save"},
  };
  for (const auto& l : kLabels) {
    SCOPED_TRACE(l.start);
    i18n::initTranslation(l.language);
    UiState ui;
    const std::string idle = h.text(ui);
    EXPECT_NE(idle.find(l.start), std::string::npos);
    EXPECT_EQ(idle.find(l.resume), std::string::npos);
    EXPECT_NE(idle.find(l.keys), std::string::npos);
    for (int state : {1, 2}) {
      ui.testState = state;
      const std::string text = h.text(ui);
      EXPECT_EQ(text.find(l.start), std::string::npos);
      EXPECT_NE(text.find(l.resume), std::string::npos);
      EXPECT_NE(text.find(l.pause), std::string::npos);
      EXPECT_NE(text.find(l.reset), std::string::npos);
      EXPECT_NE(text.find(l.save), std::string::npos);
    }
  }
  i18n::initTranslation(i18n::Language::Chinese);
}

TEST_F(ControlBar, IdleOnlyStarts) {
  EXPECT_TRUE(clickIn(0, 0).startPressed);
  EXPECT_FALSE(clickIn(0, 1).pausePressed);
  EXPECT_FALSE(clickIn(0, 2).resetPressed);
}

TEST_F(ControlBar, RunningPausesAndResets) {
  EXPECT_FALSE(clickIn(1, 0).startPressed);
  const UiActions pause = clickIn(1, 1);
  EXPECT_TRUE(pause.pausePressed);
  EXPECT_FALSE(pause.startPressed || pause.resetPressed);
  EXPECT_TRUE(clickIn(1, 2).resetPressed);
}

TEST_F(ControlBar, PausedContinuesAndResets) {
  EXPECT_TRUE(clickIn(2, 0).startPressed);
  EXPECT_FALSE(clickIn(2, 1).pausePressed);
  EXPECT_TRUE(clickIn(2, 2).resetPressed);
}

TEST(TargetRate, NearestEntryWithTheLowerRateWinningATie) {
  EXPECT_EQ(nearestTargetIndex(187.5f), 0);   // 125 and 250 equally near
  EXPECT_EQ(nearestTargetIndex(3000.0f), 4);  // 2000 and 4000 equally near
  EXPECT_EQ(nearestTargetIndex(1003.0f), 3);
  EXPECT_EQ(nearestTargetIndex(7900.0f), 6);
  EXPECT_EQ(nearestTargetIndex(20.0f), 0);
}

TEST_F(ControlBar, TargetFollowsTheMeasuredMouseUntilPicked) {
  UiState ui;
  EXPECT_NE(h.text(ui).find("目标 1000 Hz"), std::string::npos);
  ui.stats.baselineHz = 3000;
  EXPECT_NE(h.text(ui).find("目标 2000 Hz"), std::string::npos);
  ui.stats.baselineHz = 187.5f;
  EXPECT_NE(h.text(ui).find("目标 125 Hz"), std::string::npos);
  ui.stats.baselineHz = 0;  // no measurement keeps the last target
  EXPECT_NE(h.text(ui).find("目标 125 Hz"), std::string::npos);

  h.click(ui, selector());
  const std::string list = h.text(ui);
  for (const char* rate :
       {"125 Hz", "250 Hz", "500 Hz", "1000 Hz", "2000 Hz", "4000 Hz", "8000 Hz"})
    EXPECT_NE(list.find(rate), std::string::npos) << rate;
  EXPECT_NE(list.find("自动"), std::string::npos);
  h.click(ui, h.comboEntry(2));
  ui.stats.baselineHz = 8000;
  h.frame(ui);
  const std::string after = h.text(ui);
  EXPECT_NE(after.find("目标 500 Hz"), std::string::npos);
  EXPECT_EQ(after.find("目标 8000 Hz"), std::string::npos);

  // "自动", after the rates, follows the mouse again.
  h.click(ui, selector());
  h.click(ui, h.comboEntry(7));
  h.frame(ui);
  EXPECT_NE(h.text(ui).find("目标 8000 Hz"), std::string::npos);

  // In English, the same selector and its automatic entry.
  i18n::initTranslation(i18n::Language::English);
  EXPECT_NE(h.text(ui).find("Target 8000 Hz"), std::string::npos);
  h.click(ui, selector());
  EXPECT_NE(h.text(ui).find("Automatic"), std::string::npos);
  i18n::initTranslation(i18n::Language::Chinese);
}

// The rate the mouse is configured for wins over the measured one: a slow
// hand on an 8000 Hz mouse is judged against 8000 Hz, not its 2000 Hz.
TEST_F(ControlBar, AutomaticTargetIsTheConfiguredRateWhenKnown) {
  const struct {
    float configuredHz, baselineHz;
    const char* target;
  } kRows[] = {{8000, 2000, "目标 8000 Hz"},
               {0, 2000, "目标 2000 Hz"},
               {1000, 0, "目标 1000 Hz"},
               {125, 7900, "目标 125 Hz"}};
  for (const auto& r : kRows) {
    UiState ui;
    ui.configuredHz = r.configuredHz;
    ui.stats.baselineHz = r.baselineHz;
    EXPECT_NE(h.text(ui).find(r.target), std::string::npos) << r.configuredHz;
  }
}

// The three buttons, 130 x 36 with 12-pixel gaps, centred 58 pixels above
// the bottom edge: while paused, continue and reset are enabled, pause not.
TEST_F(ControlBar, ButtonsSitCentredAboveTheBottomEdge) {
  UiState ui;
  ui.testState = 2;
  h.frame(ui);
  const float bx = (h.size().x - 414) * 0.5f, by = h.size().y - 58;
  const testing::Box bar = testing::rect(0, by - 1, h.size().x - 200, 40);
  const testing::Box start = h.boundsOf(ImGui::GetColorU32(ImVec4(0.0f, 0.55f, 0.72f, 1.0f)), bar);
  EXPECT_FLOAT_EQ(start.min.x, bx);
  EXPECT_FLOAT_EQ(start.min.y, by);
  EXPECT_FLOAT_EQ(start.width(), 130);
  EXPECT_FLOAT_EQ(start.height(), 36);
  const testing::Box reset = h.boundsOf(ImGui::GetColorU32(ImGuiCol_Button), bar);
  EXPECT_FLOAT_EQ(reset.min.x, bx + 284);
  EXPECT_FLOAT_EQ(reset.width(), 130);
  ui.testState = 1;
  h.frame(ui);
  const testing::Box pauseAndReset = h.boundsOf(ImGui::GetColorU32(ImGuiCol_Button), bar);
  EXPECT_FLOAT_EQ(pauseAndReset.min.x, bx + 142);
  EXPECT_FLOAT_EQ(pauseAndReset.max.x, bx + 284 + 130);
}

}  // namespace
}  // namespace dashboard
