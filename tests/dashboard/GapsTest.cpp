// What the window shows of gaps: the longest interval and the kernel drops
// in the signal-quality card, the hint under the 0 while the mouse sends
// nothing, and the one in its place while a slow hand holds the rate back.
#include <gtest/gtest.h>

#include <algorithm>

#include "DashboardHarness.h"
#include "dashboard/DashboardRules.h"
#include "dashboard/FontConfig.h"
#include "dashboard/Palette.h"

namespace dashboard {
namespace {

using testing::Box;
using testing::Harness;

PollingStats measured() {
  PollingStats s;
  s.statsValid = true;
  s.baselineUs = 1000;
  s.baselineHz = 1000;
  s.jitterUs = 20;
  s.stability = 0.98f;
  s.reportCount = 5000;
  s.longestIntervalUs = 1900;
  return s;
}

// The longest interval is amber only beyond ten baselines; kernel drops are
// amber whenever there are any, even while the other figures are muted.
TEST(GapRows, LongestIntervalAndKernelDrops) {
  const struct {
    const char* name;
    int row;
    bool measured;
    void (*change)(PollingStats&);
    const char* value;
    ImU32 colour;
  } cases[] = {
      {"1.9 baselines", 4, true, [](PollingStats&) {}, "1.90 ms", kColTextBright},
      {"ten baselines", 4, true, [](PollingStats& s) { s.longestIntervalUs = 10000; }, "10.00 ms",
       kColTextBright},
      {"over ten", 4, true, [](PollingStats& s) { s.longestIntervalUs = 31250; }, "31.25 ms",
       kColWarn},
      {"over ten, muted", 4, true,
       [](PollingStats& s) { s.longestIntervalUs = 31250, s.statsValid = false; }, "31.25 ms",
       kColTextMuted},
      {"no interval yet", 4, false, [](PollingStats&) {}, "--", kColTextMuted},
      {"no drops", 5, true, [](PollingStats&) {}, "0", kColTextBright},
      {"drops and their reports", 5, true,
       [](PollingStats& s) { s.kernelDrops = 2, s.kernelDroppedReports = 37; }, "2 次 (~37)",
       kColWarn},
      // Lost reports that could not be estimated.
      {"drops alone", 5, true, [](PollingStats& s) { s.kernelDrops = 2; }, "2 次", kColWarn},
      {"drops, muted", 5, true, [](PollingStats& s) { s.kernelDrops = 2, s.statsValid = false; },
       "2 次", kColWarn},
      {"no report yet", 5, false, [](PollingStats&) {}, "--", kColTextMuted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PollingStats s = c.measured ? measured() : PollingStats{};
    c.change(s);
    EXPECT_STREQ(qualityRow(c.row, s).label, c.row == 4 ? "最长间隔" : "内核丢弃");
    EXPECT_STREQ(qualityRow(c.row, s).value, c.value);
    EXPECT_EQ(qualityRow(c.row, s).colour, c.colour);
  }
}

// Vertices of one colour inside a rectangle.
Box boundsIn(const Harness& h, ImU32 col, ImVec2 min, ImVec2 max) {
  Box b{ImVec2(1e9f, 1e9f), ImVec2(-1e9f, -1e9f)};
  for (const ImVec2& p : h.verticesOf(col)) {
    if (p.x < min.x || p.y < min.y || p.x > max.x || p.y > max.y) continue;
    b.min = ImVec2(std::min(b.min.x, p.x), std::min(b.min.y, p.y));
    b.max = ImVec2(std::max(b.max.x, p.x), std::max(b.max.y, p.y));
  }
  return b;
}

class GapsInTheWindow : public ::testing::TestWithParam<ImVec2> {
 protected:
  GapsInTheWindow() : h(GetParam(), platformFontConfig()) {}
  GridLayout grid() const { return gridLayout(ImVec2(0, 0), h.size(), 66); }
  Harness h;
};

TEST_P(GapsInTheWindow, TheFifthLineOfTheQualityCardFitsInside) {
  UiState ui;
  ui.testState = 1;
  ui.stats = measured();
  ui.stats.longestIntervalUs = 31250;  // amber: the only amber text
  const std::string text = h.text(ui);
  for (const char* s : {"最长间隔", "31.25 ms", "内核丢弃", "0"})
    EXPECT_NE(text.find(s), std::string::npos) << s;
  const GridLayout g = grid();
  ASSERT_TRUE(g.fits);
  const ImVec2 Q(g.R, g.T + 228 + g.dH);
  const Box longest = h.boundsOf(kColWarn);
  const Box stability = h.boundsOf(kColGood);   // 98.0 %, the line above
  EXPECT_GT(longest.min.x, Q.x + 14 + 4 * 13);  // right of its label
  EXPECT_LT(longest.max.x, Q.x + 170);          // left half
  EXPECT_GT(longest.min.y, stability.max.y);
  EXPECT_LT(longest.max.y, Q.y + 168);

  ui.stats.longestIntervalUs = 1900;
  ui.stats.kernelDrops = 12;
  ui.stats.kernelDroppedReports = 1234;
  EXPECT_NE(h.text(ui).find("12 次 (~1234)"), std::string::npos);
  const Box drops = h.boundsOf(kColWarn);
  EXPECT_GT(drops.min.x, Q.x + 172 + 4 * 13);  // right half, right of its label
  EXPECT_LE(drops.max.x, Q.x + 326.5f);
  EXPECT_GT(drops.min.y, stability.max.y);
  EXPECT_LT(drops.max.y, Q.y + 168);
  // Nothing of the card reaches the control bar.
  EXPECT_LT(Q.y + 168, h.size().y - 58);
}

TEST_P(GapsInTheWindow, AQuietMouseGetsAHintUnderTheZero) {
  UiState ui;
  ui.testState = 1;
  ui.stats.mouseQuiet = true;
  const std::string text = h.text(ui);
  EXPECT_NE(text.find("请持续移动鼠标"), std::string::npos);

  const GridLayout g = grid();
  const float L = g.L, T = g.T;
  // The 0 and "Hz" share the label colour; the 0 is the left one.
  const Box number = boundsIn(h, kColTextLabel, ImVec2(L, T + 40), ImVec2(L + g.leftW, T + 141));
  std::vector<ImVec2> zeroPts;
  for (const ImVec2& p : h.verticesOf(kColTextLabel))
    if (p.y > T + 40 && p.y < T + 141 && p.x < number.min.x + 60) zeroPts.push_back(p);
  ASSERT_FALSE(zeroPts.empty());
  Box zero{zeroPts[0], zeroPts[0]};
  for (const ImVec2& p : zeroPts) {
    zero.min = ImVec2(std::min(zero.min.x, p.x), std::min(zero.min.y, p.y));
    zero.max = ImVec2(std::max(zero.max.x, p.x), std::max(zero.max.y, p.y));
  }
  const Box hint = h.boundsOf(kColWarn);
  const Box targetLine = h.boundsOf(withAlpha(kColTextMuted, 220));
  EXPECT_NEAR(hint.centre().x, zero.centre().x, 2.0f);
  EXPECT_GT(hint.min.y, zero.max.y);
  EXPECT_LT(hint.max.y, targetLine.min.y);
  EXPECT_GT(hint.min.x, L);
  EXPECT_LT(hint.max.x, L + g.leftW);
}

// A test running below its target, with the motion saying the hand is the
// limit: 500 Hz against the default 1000 Hz target.
UiState slowHand() {
  UiState ui;
  ui.testState = 1;
  ui.stats.currentHz = 500;
  ui.speedLimited = true;
  ui.handCountsPerS = 304;
  return ui;
}

// What to do, with the figures: the hand's speed and the target's (one count per report).
constexpr const char* kSpeedHint =
    "手速约 300 counts/s，达到 1000 Hz 需约 1000 counts/s — 移动更快或提高 DPI";
constexpr const char* kDeviceHint =
    "鼠标或其连接未达到目标：每个报告带有多个计数，回报率却低于 1000 Hz";

TEST_P(GapsInTheWindow, ASlowHandGetsItsHintWhereTheQuietHintGoes) {
  UiState quiet;
  quiet.testState = 1;
  quiet.stats.mouseQuiet = true;
  h.frame(quiet);
  const Box quietHint = h.boundsOf(kColWarn);

  for (int frame = 0; frame < 62; ++frame) h.frame(slowHand());  // a second at 60 frames/s
  const std::string text = h.text(slowHand());
  EXPECT_NE(text.find(kSpeedHint), std::string::npos);
  EXPECT_EQ(text.find("请持续移动鼠标"), std::string::npos);
  const GridLayout g = grid();
  const Box hint = h.boundsOf(kColWarn);  // the hint is the only amber
  // The hand is the limit, not the mouse: the rate and its line are grey, never red.
  EXPECT_FALSE(h.hasColour(kColBad));
  const Box targetLine = h.boundsOf(withAlpha(kColTextMuted, 220));
  // Centred where the quiet hint is, unless that would cross the card's edge.
  if (hint.min.x > g.L + 15 && hint.max.x < g.L + g.leftW - 15) {
    EXPECT_NEAR(hint.centre().x, quietHint.centre().x, 2.0f);
  }
  EXPECT_NEAR(hint.min.y, quietHint.min.y, 2.0f);
  EXPECT_LT(hint.max.y, targetLine.min.y);
  EXPECT_GT(hint.min.x, g.L);
  EXPECT_LT(hint.max.x, g.L + g.leftW);
}

INSTANTIATE_TEST_SUITE_P(MinimumAndUsualSize, GapsInTheWindow,
                         ::testing::Values(ImVec2(900, 640), ImVec2(1180, 820)));

TEST(MoveHint, OnlyWhileATestRunsAndTheMouseIsQuiet) {
  Harness h;
  UiState ui;
  ui.stats.mouseQuiet = true;
  for (int state : {0, 2}) {
    ui.testState = state;
    EXPECT_EQ(h.text(ui).find("请持续移动鼠标"), std::string::npos) << state;
  }
  ui.testState = 1;
  ui.stats.mouseQuiet = false;
  EXPECT_EQ(h.text(ui).find("请持续移动鼠标"), std::string::npos);
  ui.stats.mouseQuiet = true;
  EXPECT_NE(h.text(ui).find("请持续移动鼠标"), std::string::npos);
}

TEST(SpeedHint, OnlyWhileRunningBelowTheNearShareForASecondAndSpeedLimited) {
  struct Case {
    const char* name;
    int testState;
    float currentHz;
    bool speedLimited;
    bool quiet;
    int frames;  // at 60 frames a second
    bool shown;
    bool deviceLimited = false;
    int countStep = 1;
    const char* hint = kSpeedHint;
  };
  const Case cases[] = {
      {"a second below, speed-limited", 1, 500, true, false, 62, true},
      {"half a second is not yet", 1, 500, true, false, 30, false},
      {"several counts per report: not the hand", 1, 500, false, false, 62, false},
      {"at the near share (700 of 1000 Hz)", 1, 700, true, false, 62, false},
      {"paused", 2, 500, true, false, 62, false},
      {"idle", 0, 500, true, false, 62, false},
      {"quiet: the move hint instead", 1, 0, true, true, 62, false},
      {"counts in steps of two need twice the speed", 1, 500, true, false, 62, true, false, 2,
       "手速约 300 counts/s，达到 1000 Hz 需约 2000 counts/s — 移动更快或提高 DPI"},
      {"a fast hand and a slow rate: the mouse", 1, 500, false, false, 62, true, true, 1,
       kDeviceHint},
      {"the mouse's hint waits a second too", 1, 500, false, false, 30, false, true, 1,
       kDeviceHint},
      {"the mouse's hint not at the near share", 1, 700, false, false, 62, false, true, 1,
       kDeviceHint},
      {"the mouse's hint not while paused", 2, 500, false, false, 62, false, true, 1, kDeviceHint},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h;
    UiState ui = slowHand();
    ui.testState = c.testState;
    ui.stats.currentHz = c.currentHz;
    ui.stats.mouseQuiet = c.quiet;
    ui.speedLimited = c.speedLimited;
    ui.deviceLimited = c.deviceLimited;
    ui.countStep = c.countStep;
    for (int frame = 1; frame < c.frames; ++frame) h.frame(ui);
    EXPECT_EQ(h.text(ui).find(c.hint) != std::string::npos, c.shown);
  }
  // The second starts again once the rate has come up.
  Harness h;
  UiState ui = slowHand();
  for (int frame = 0; frame < 40; ++frame) h.frame(ui);
  ui.stats.currentHz = 990;
  h.frame(ui);
  ui.stats.currentHz = 500;
  for (int frame = 0; frame < 40; ++frame) h.frame(ui);
  EXPECT_EQ(h.text(ui).find(kSpeedHint), std::string::npos);
}

}  // namespace
}  // namespace dashboard
