// The rate side: held display rate, rate colours, history scale, ring.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "DashboardHarness.h"
#include "dashboard/DashboardRules.h"
#include "dashboard/Palette.h"

namespace dashboard {
namespace {

using testing::Box;
using testing::Harness;
using testing::rect;

// The default harness window is 1280 x 820: the left column is 884 pixels
// wide from x = 20, the grid starts at y = 66 and the history card is 366
// pixels tall.
const Box kCurrentCard = rect(20, 66, 884, 168);
const Box kHistoryCard = rect(20, 250, 884, 366);
constexpr float kTileW = (884.0f - 24) / 3;
constexpr float kTileY = 66 + 200 + 366;

// The history's grid lines, faded towards the bottom as the fill is: each
// with the alpha it is drawn with, top first.
std::vector<std::pair<Box, int>> gridLines(const Harness& h) {
  std::vector<std::pair<Box, int>> lines;
  for (int alpha = 1; alpha <= 14; ++alpha)
    for (const Box& b : h.boxesOf(IM_COL32(255, 255, 255, alpha))) lines.push_back({b, alpha});
  std::sort(lines.begin(), lines.end(),
            [](const auto& a, const auto& b) { return a.first.min.y < b.first.min.y; });
  return lines;
}

// Whether the fill under the curve is drawn, in its colour at any alpha.
bool fillDrawn(const Harness& h) {
  for (int alpha = 1; alpha <= 54; ++alpha)
    if (h.hasColour(IM_COL32(0, 195, 255, alpha))) return true;
  return false;
}

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
  ui.stats.reportCount = 5000;
  // The card's target line and the ring both read 200 %.
  EXPECT_EQ(count(h.text(ui), "200%"), 2);
  ui.testState = 2;  // paused: the last rate stays, also once the rate has fallen to 0
  ui.stats.currentHz = 0;
  const std::string paused = h.text(ui);
  EXPECT_EQ(count(paused, "200%"), 1);
  EXPECT_NE(paused.find("--"), std::string::npos);
  EXPECT_NE(paused.find("已暂停"), std::string::npos);
  EXPECT_TRUE(h.hasColour(withAlpha(kColTextMuted, 55)));
  ui.stats.reportCount = 0;  // reset while paused
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
  EXPECT_EQ(gridLines(h).size(), 5u);  // 0, 300, 600, 900, 1200
  EXPECT_TRUE(h.hasColour(IM_COL32(0, 195, 255, 255)));
  EXPECT_TRUE(fillDrawn(h));
  EXPECT_EQ(text.find("移动鼠标开始采集"), std::string::npos);
}

TEST(HistoryChart, OneSampleShowsTheWaitingMessageInsteadOfACurve) {
  Harness h;
  UiState ui;
  ui.testState = 1;
  ui.stats.history = {1000};
  EXPECT_NE(h.text(ui).find("移动鼠标开始采集…"), std::string::npos);
  EXPECT_FALSE(h.hasColour(IM_COL32(0, 195, 255, 255)));
  EXPECT_FALSE(fillDrawn(h));
  ui.testState = 0;
  EXPECT_NE(h.text(ui).find("点击「开始测试」后移动鼠标"), std::string::npos);
  // Idle, a line of zeros does not replace the instruction; with a mouse
  // the instruction also stands under the number.
  ui.stats.history.assign(40, 0.0f);
  std::string text = h.text(ui);
  EXPECT_EQ(count(text, "点击「开始测试」后移动鼠标"), 1);
  EXPECT_FALSE(h.hasColour(IM_COL32(0, 195, 255, 255)));
  ui.devices.resize(1);
  ui.devices[0].product = "Corvid";
  ui.selectedDevice = 0;
  text = h.text(ui);
  EXPECT_EQ(count(text, "点击「开始测试」后移动鼠标"), 2);
  EXPECT_FALSE(h.boundsOf(kColTextLabel, rect(20, 66 + 110, 884, 30)).empty());
}

TEST(Tiles, HighestLowestAverageInThatOrderWithTheirValues) {
  Harness h;
  UiState ui;
  ui.testState = 1;
  ui.stats.statsValid = true;
  ui.stats.maxHz = 1012;
  ui.stats.minHz = 987;
  ui.stats.avgHz = 999;
  const std::string text = h.text(ui);
  // Each tile writes its label, then its value.
  size_t at = 0;
  for (const char* part : {"最高", "1012", "最低", "987", "平均", "999"}) {
    at = text.find(part, at);
    ASSERT_NE(at, std::string::npos) << part << " missing or out of order";
  }
  // Left to right: green, amber, cyan accent bars along each tile's left edge,
  // and the value 18 pixels in from it, 60 below the tile's top.
  const ImU32 accents[3] = {kColGood, kColWarn, kColAccent};
  for (int k = 0; k < 3; ++k) {
    const float x = 20 + static_cast<float>(k) * (kTileW + 12);
    const Box tile = rect(x, kTileY, kTileW, 104);
    const Box bar = h.boundsOf(withAlpha(accents[k], 200), tile);
    ASSERT_FALSE(bar.empty()) << k;
    EXPECT_FLOAT_EQ(bar.min.x, x) << k;
    EXPECT_FLOAT_EQ(bar.width(), 3) << k;
    EXPECT_FLOAT_EQ(bar.min.y, kTileY + 16) << k;
    EXPECT_FLOAT_EQ(bar.max.y, kTileY + 88) << k;
    const Box value = h.boundsOf(kColTextBright, tile);
    ASSERT_FALSE(value.empty()) << k;
    EXPECT_NEAR(value.min.x, x + 18, 2.0f) << k;
    EXPECT_GE(value.min.y, kTileY + 60) << k;
  }
}

TEST(HistoryChart, LegendOnlyWithValidStatistics) {
  const ImU32 legendText = IM_COL32(46, 214, 110, 190);
  const ImU32 legendDash = IM_COL32(46, 214, 110, 150);
  Harness h;
  UiState ui;
  ui.testState = 1;
  ui.stats.history.assign(100, 1000.0f);
  h.frame(ui);
  EXPECT_FALSE(h.hasColour(legendText));
  EXPECT_FALSE(h.hasColour(legendDash));
  ui.stats.statsValid = true;
  h.frame(ui);
  // Right-aligned 14 pixels inside the card's right edge, in its title row.
  const Box legend = h.boundsOf(legendText, kHistoryCard);
  ASSERT_FALSE(legend.empty());
  EXPECT_LE(legend.max.x, 904 - 14);
  EXPECT_GT(legend.max.x, 904 - 14 - 4);
  EXPECT_LT(legend.max.y, 250 + 38);
  const Box dash = h.boundsOf(legendDash, kHistoryCard);
  ASSERT_FALSE(dash.empty());
  EXPECT_LT(dash.max.x, legend.min.x);
}

// The big number: green on target while running, in the label grey when
// the test is paused or has not started, whatever the rate.
TEST(CurrentRate, NumberIsGreyUnlessRunning) {
  UiState ui;
  ui.stats.currentHz = 990;
  ui.testState = 1;
  Box number;
  {
    Harness h;
    h.frame(ui);
    number = h.boundsOf(kColGood, kCurrentCard);
    ASSERT_FALSE(number.empty());
    EXPECT_GT(number.height(), 40.0f) << "drawn at 92 pixels";
  }
  for (int state : {0, 2}) {
    Harness h;
    ui.stats.reportCount = 100;
    ui.testState = 1;
    h.frame(ui);  // a paused test shows the rate it last ran at
    ui.testState = state;
    h.frame(ui);
    EXPECT_TRUE(h.boundsOf(kColGood, kCurrentCard).empty()) << state;
    const Box grey = h.boundsOf(kColTextLabel, number);
    EXPECT_FALSE(grey.empty()) << state;
    EXPECT_FLOAT_EQ(grey.min.x, number.min.x) << state;
    EXPECT_FLOAT_EQ(grey.max.x, number.max.x) << state;
  }
}

// The chart of the default window plots x 72..890, y 288..590; at a
// 1000 Hz target its scale tops out at 1200 Hz.
TEST(HistoryChart, TargetLineAndGridLabelsSitOnTheScale) {
  Harness h;
  UiState ui;
  ui.testState = 1;
  ui.stats.history.assign(100, 1000.0f);
  h.frame(ui);
  const auto y = [](float hz) { return 590 - hz / 1200 * (590 - 288); };
  // Lines are drawn through pixel centres, half a pixel on.
  const Box target = h.boundsOf(IM_COL32(46, 214, 110, 130), kHistoryCard);
  ASSERT_FALSE(target.empty());
  EXPECT_NEAR(target.centre().y, y(1000) + 0.5f, 0.01f);
  EXPECT_NEAR(target.min.x, 72.5f, 0.01f);
  EXPECT_LE(target.max.x, 890.5f);
  const std::vector<std::pair<Box, int>> grid = gridLines(h);
  ASSERT_EQ(grid.size(), 5u);
  // A veil of the card's colour fades the plot to 170/255 at the bottom: a
  // line's alpha of 14 keeps what the veil leaves at its height.
  for (int k = 0; k < 5; ++k) {
    EXPECT_NEAR(grid[static_cast<size_t>(k)].first.centre().y, y(1200 - 300.0f * k) + 0.5f, 0.01f)
        << k;
    EXPECT_EQ(grid[static_cast<size_t>(k)].second,
              static_cast<int>(std::lround(14 * (1 - 170.0 / 255 * k / 4))))
        << k;
  }
  // The fill, faded the same way: at the bottom, 54 less two thirds.
  EXPECT_FALSE(h.boundsOf(IM_COL32(0, 195, 255, 18), rect(72, 589, 818, 2)).empty());
  // The scale's numbers end 8 pixels left of the plot, from 0 at the bottom
  // to 1200 at the top.
  const Box labels = h.boundsOf(kColTextMuted, rect(20, 270, 52, 340));
  ASSERT_FALSE(labels.empty());
  EXPECT_LE(labels.max.x, 72 - 8);
  EXPECT_GT(labels.max.x, 72 - 8 - 3);
  // Each number is centred on its line: its glyphs lie within half a line
  // (6.5 pixels of the built-in font) of it.
  EXPECT_GE(labels.min.y, y(1200) - 6.5f);
  EXPECT_LT(labels.min.y, y(1200));
  EXPECT_GT(labels.max.y, y(0));
  EXPECT_LE(labels.max.y, y(0) + 6.5f);
}

// The ring's track is centred 170 pixels into the ratio card and 104 down,
// radius 56, 11 pixels thick, open at the bottom.
TEST(RatioRing, TrackStandsInTheMiddleOfItsCard) {
  Harness h;
  h.frame(UiState{});
  const Box track = h.boundsOf(IM_COL32(38, 42, 50, 255));
  ASSERT_FALSE(track.empty());
  EXPECT_NEAR(track.centre().x, 920 + 170, 0.5f);
  EXPECT_NEAR(track.min.y, 66 + 104 - 56 - 5.5f, 0.5f);
  EXPECT_NEAR(track.width(), 2 * (56 + 5.5f), 0.5f);
}

}  // namespace
}  // namespace dashboard
