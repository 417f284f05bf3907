// The 保存结果 button in the control bar and the notice a save leaves.
#include <gtest/gtest.h>

#include "DashboardHarness.h"
#include "dashboard/FontConfig.h"
#include "dashboard/NoticeBox.h"
#include "dashboard/Palette.h"

namespace dashboard {
namespace {

using testing::Harness;

struct Span {
  float from = 1e9f, to = -1e9f;
  bool found() const { return to >= from; }
};

// Where along the button row a click sets the flag: the button's extent as a
// user finds it with the mouse.
template <typename Flag>
Span clickableSpan(Harness& h, const UiState& ui, Flag flag) {
  Span span;
  const float y = h.size().y - 58 + 18;
  // Stops short of the target selector, whose list would take the clicks.
  for (float x = 4; x < h.size().x - 172; x += 4) {
    if (!flag(h.click(ui, ImVec2(x, y)))) continue;
    span.from = std::min(span.from, x);
    span.to = std::max(span.to, x);
  }
  return span;
}

UiState runningWithFigures() {
  UiState ui;
  ui.testState = 1;
  ui.canSave = true;
  return ui;
}

class SaveButton : public ::testing::TestWithParam<ImVec2> {
 protected:
  SaveButton() : h(GetParam(), platformFontConfig()) {}
  Harness h;
};

TEST_P(SaveButton, SitsRightOfResetAndClearOfTheTargetSelector) {
  const UiState ui = runningWithFigures();
  const std::string text = h.text(ui);
  EXPECT_NE(text.find("[ 保存结果 ]"), std::string::npos);
  const Span reset = clickableSpan(h, ui, [](const UiActions& a) { return a.resetPressed; });
  const Span save = clickableSpan(h, ui, [](const UiActions& a) { return a.savePressed; });
  ASSERT_TRUE(reset.found() && save.found());
  EXPECT_GT(save.from, reset.to + 4);
  EXPECT_NEAR(save.to - save.from, 130, 8);  // as wide as the other buttons
  EXPECT_LT(save.to, h.size().x - 170);      // the selector's left edge
}

INSTANTIATE_TEST_SUITE_P(MinimumAndUsualSize, SaveButton,
                         ::testing::Values(ImVec2(900, 640), ImVec2(1180, 820)));

TEST(SaveButtonRow, WideWindowsKeepTheThreeButtonsCentred) {
  Harness h(ImVec2(1280, 820));
  const Span start = clickableSpan(h, UiState{}, [](const UiActions& a) { return a.startPressed; });
  EXPECT_NEAR(start.from, (1280 - 414) / 2.0f, 4);
}

TEST(SaveButtonRow, DisabledUntilTheTestHasFigures) {
  Harness h(ImVec2(1180, 820));
  UiState ui = runningWithFigures();
  const ImVec2 at(0, 820 - 58 + 18);
  const Span save = clickableSpan(h, ui, [](const UiActions& a) { return a.savePressed; });
  ASSERT_TRUE(save.found());
  ui.canSave = false;
  const ImVec2 middle((save.from + save.to) / 2, at.y);
  EXPECT_FALSE(h.click(ui, middle).savePressed);
  ui.canSave = true;
  EXPECT_TRUE(h.click(ui, middle).savePressed);
}

TEST(SaveButtonRow, TooltipNamesTheKey) {
  Harness h(ImVec2(1180, 820));
  const UiState ui = runningWithFigures();
  const Span save = clickableSpan(h, ui, [](const UiActions& a) { return a.savePressed; });
  ImGui::GetIO().AddMousePosEvent((save.from + save.to) / 2, 820 - 58 + 18);
  for (int i = 0; i < 90; ++i) h.frame(ui);  // a still mouse for 1.5 s
  EXPECT_NE(h.text(ui).find("快捷键 E"), std::string::npos);
}

class Notices : public ::testing::Test {
 protected:
  UiState saved(bool failed) {
    UiState ui = runningWithFigures();
    ui.notice.text = failed ? "保存失败" : "结果已保存（点击打开文件夹）";
    ui.notice.detail = failed ? "无法写入 /x：ENOSPC（No space left on device）" : kFolder;
    if (!failed) ui.notice.openPath = kFolder;
    ui.notice.failed = failed;
    return ui;
  }
  static constexpr const char* kFolder = "/home/u/Documents/Quillmark/2026-12-07_103205_Mouse";
  static constexpr ImU32 kSavedFill = IM_COL32(20, 40, 30, 240);
  static constexpr ImU32 kFailedFill = kNoticeWarnFill;
  Harness h{ImVec2(900, 640)};
};

TEST_F(Notices, ASavedFolderOpensOnClick) {
  const UiState ui = saved(false);
  const std::string text = h.text(ui);
  EXPECT_NE(text.find("结果已保存（点击打开文件夹）"), std::string::npos);
  EXPECT_NE(text.find(kFolder), std::string::npos);
  const testing::Box box = h.boundsOf(kSavedFill);
  EXPECT_GE(box.min.x, 20);
  EXPECT_LE(box.max.x, 900 - 20);
  EXPECT_LT(box.max.y, 640 - 58);  // above the control bar
  EXPECT_GE(box.min.y, 640 - 84);  // below the cards: no figure covered
  const UiActions a = h.click(ui, box.centre());
  EXPECT_EQ(a.openFolder, kFolder);
  EXPECT_FALSE(a.savePressed || a.startPressed || a.pausePressed || a.resetPressed);
}

// A failed or impossible save is a warning: amber, never the success green.
TEST_F(Notices, AFailureIsShownInTheWarningColourAndOpensNothing) {
  const UiState ui = saved(true);
  const std::string text = h.text(ui);
  EXPECT_NE(text.find("保存失败"), std::string::npos);
  EXPECT_NE(text.find("ENOSPC"), std::string::npos);
  EXPECT_FALSE(h.hasColour(kSavedFill));
  const testing::Box box = h.boundsOf(kFailedFill);
  ASSERT_FALSE(box.empty());
  EXPECT_FALSE(h.boundsOf(kColWarn, box).empty());  // the text
  EXPECT_TRUE(h.boundsOf(kColGood, box).empty());
  EXPECT_TRUE(h.click(ui, box.centre()).openFolder.empty());
}

TEST_F(Notices, NoNoticeNoBox) {
  h.frame(runningWithFigures());
  EXPECT_FALSE(h.hasColour(kSavedFill));
  EXPECT_FALSE(h.hasColour(kFailedFill));
}

}  // namespace
}  // namespace dashboard
