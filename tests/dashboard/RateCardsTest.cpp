// The rate side: held display rate, rate colours, history scale, ring.
#include <gtest/gtest.h>

#include "DashboardHarness.h"
#include "dashboard/DashboardRules.h"
#include "dashboard/Palette.h"

namespace dashboard {
namespace {

using testing::Harness;

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(HeldRate, ChangesAtMostEveryQuarterSecond) {
  HeldRate held;
  EXPECT_FLOAT_EQ(held.update(1000, 10.0), 1000);
  EXPECT_FLOAT_EQ(held.update(900, 10.1), 1000);
  EXPECT_FLOAT_EQ(held.update(800, 10.2499), 1000);
  EXPECT_FLOAT_EQ(held.update(800, 10.25), 800);
  EXPECT_FLOAT_EQ(held.update(700, 10.3), 800);
}

TEST(HeldRate, DropsToZeroAtOnceAndTakesTheNextRateAtOnce) {
  HeldRate held;
  held.update(1000, 5.0);
  EXPECT_FLOAT_EQ(held.update(0, 5.01), 0);
  EXPECT_FLOAT_EQ(held.update(950, 5.02), 950);
}

TEST(HeldRate, TheDrawnNumberFollowsImGuiTime) {
  Harness h;  // frames are 1/60 s apart
  UiState ui;
  ui.testState = 1;
  ui.stats.currentHz = 1000;
  EXPECT_NE(h.text(ui).find("1000"), std::string::npos);
  ui.stats.currentHz = 987;
  EXPECT_EQ(h.text(ui).find("987"), std::string::npos);
  for (int i = 0; i < 15; ++i) h.frame(ui);
  EXPECT_NE(h.text(ui).find("987"), std::string::npos);
}

TEST(RateColour, ByRatioToTheTargetWhileRunning) {
  EXPECT_EQ(rateColour(1, 600, 1000, kColTextMuted, 255), kColBad);
  EXPECT_EQ(rateColour(1, 699, 1000, kColTextMuted, 255), kColBad);
  EXPECT_EQ(rateColour(1, 700, 1000, kColTextMuted, 255), kColWarn);
  EXPECT_EQ(rateColour(1, 800, 1000, kColTextMuted, 255), kColWarn);
  EXPECT_EQ(rateColour(1, 950, 1000, kColTextMuted, 255), kColGood);
  EXPECT_EQ(rateColour(1, 990, 1000, kColTextMuted, 255), kColGood);
  EXPECT_EQ(rateColour(1, 2000, 1000, kColTextMuted, 255), kColGood);
  EXPECT_EQ(rateColour(1, 990, 1000, kColTextMuted, 220), withAlpha(kColGood, 220));
}

TEST(RateColour, InactiveWhenNotRunningOrNoRate) {
  EXPECT_EQ(rateColour(2, 990, 1000, kColTextLabel, 255), kColTextLabel);
  EXPECT_EQ(rateColour(0, 990, 1000, kColTextMuted, 255), kColTextMuted);
  EXPECT_EQ(rateColour(1, 0, 1000, kColTextMuted, 255), kColTextMuted);
}

// The ring's glow is the only shape in the rate colour at alpha 55.
TEST(RatioRing, GlowsInTheRateColour) {
  const struct {
    float hz;
    ImU32 col;
  } cases[] = {{600, kColBad}, {800, kColWarn}, {990, kColGood}};
  for (const auto& c : cases) {
    Harness h;
    UiState ui;
    ui.testState = 1;
    ui.stats.currentHz = c.hz;
    const std::string text = h.text(ui);
    for (ImU32 col : {kColBad, kColWarn, kColGood})
      EXPECT_EQ(h.hasColour(withAlpha(col, 55)), col == c.col) << c.hz;
    char line[64];
    std::snprintf(line, sizeof line, "达成 %.0f%%", c.hz / 10);
    EXPECT_NE(text.find(line), std::string::npos) << c.hz;
  }
}

TEST(RatioRing, ShowsUnclampedPercentWhileRunningAndDashesOtherwise) {
  Harness h;
  UiState ui;
  ui.testState = 1;
  ui.stats.currentHz = 2000;
  // The card's target line and the ring both read 200 %.
  EXPECT_EQ(count(h.text(ui), "200%"), 2);
  ui.testState = 2;  // paused; the held rate is still above 0
  const std::string paused = h.text(ui);
  EXPECT_EQ(count(paused, "200%"), 1);
  EXPECT_NE(paused.find("--"), std::string::npos);
  EXPECT_TRUE(h.hasColour(withAlpha(kColTextMuted, 55)));
  ui.stats.currentHz = 0;
  h.frame(ui);
  EXPECT_FALSE(h.hasColour(withAlpha(kColTextMuted, 55))) << "only the track at rate 0";
}

TEST(HistoryScale, LeavesHeadroomAndEndsOnAHundred) {
  EXPECT_FLOAT_EQ(historyTop(1000, {}), 1200);
  EXPECT_FLOAT_EQ(historyTop(1000, {990, 1090.9f}), 1200);
  EXPECT_FLOAT_EQ(historyTop(125, {136.4f}), 200);
  EXPECT_FLOAT_EQ(historyTop(1000, {8500}), 9400);
}

TEST(HistoryScale, GridStepIsAQuarterRoundedDownToHundreds) {
  EXPECT_FLOAT_EQ(historyGridStep(1200), 300);
  EXPECT_FLOAT_EQ(historyGridStep(200), 100);  // a quarter is 50: at least 100
  EXPECT_FLOAT_EQ(historyGridStep(9400), 2300);
}

TEST(HistoryChart, DrawsOneGridLinePerStepAndTheCurve) {
  Harness h;
  UiState ui;
  ui.testState = 1;
  ui.stats.statsValid = true;
  ui.stats.history.assign(600, 1000.0f);
  const std::string text = h.text(ui);
  EXPECT_EQ(h.boxesOf(IM_COL32(255, 255, 255, 14)).size(), 5u);  // 0, 300, 600, 900, 1200
  EXPECT_TRUE(h.hasColour(IM_COL32(0, 195, 255, 255)));
  EXPECT_TRUE(h.hasColour(IM_COL32(0, 195, 255, 54)));
  EXPECT_EQ(text.find("移动鼠标开始采集"), std::string::npos);
}

TEST(HistoryChart, OneSampleShowsTheWaitingMessageInsteadOfACurve) {
  Harness h;
  UiState ui;
  ui.testState = 1;
  ui.stats.history = {1000};
  EXPECT_NE(h.text(ui).find("移动鼠标开始采集…"), std::string::npos);
  EXPECT_FALSE(h.hasColour(IM_COL32(0, 195, 255, 255)));
  EXPECT_FALSE(h.hasColour(IM_COL32(0, 195, 255, 54)));
  ui.testState = 0;
  EXPECT_NE(h.text(ui).find("点击「开始测试」后移动鼠标"), std::string::npos);
}

}  // namespace
}  // namespace dashboard
