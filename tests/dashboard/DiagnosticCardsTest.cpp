// The interval distribution and signal-quality cards.
#include <gtest/gtest.h>

#include "DashboardHarness.h"
#include "dashboard/DashboardRules.h"
#include "dashboard/Palette.h"

namespace dashboard {
namespace {

using testing::Harness;

constexpr ImU32 kCyanBar = IM_COL32(0, 195, 255, 220);
constexpr ImU32 kAmberBar = IM_COL32(255, 186, 56, 220);

UiState withHistogram(float baselineUs, float binWidthUs, std::vector<uint32_t> bins) {
  UiState ui;
  ui.stats.statsValid = true;
  ui.stats.baselineUs = baselineUs;
  ui.stats.baselineHz = 1e6f / baselineUs;
  ui.stats.binWidthUs = binWidthUs;
  ui.stats.histogram = std::move(bins);
  return ui;
}

TEST(HistogramBars, AmberFromOneAndAHalfBaselines) {
  const struct {
    float baselineUs, binWidthUs;
    size_t cyan;
  } cases[] = {{1000, 100, 15}, {125, 20, 10}};  // limits 15 and 9.375
  for (const auto& c : cases) {
    Harness h;
    const std::string text =
        h.text(withHistogram(c.baselineUs, c.binWidthUs, std::vector<uint32_t>(25, 5)));
    EXPECT_EQ(h.boxesOf(kCyanBar).size(), c.cyan);
    EXPECT_EQ(h.boxesOf(kAmberBar).size(), 25 - c.cyan);
    EXPECT_EQ(text.find("采样中"), std::string::npos);
    EXPECT_NE(text.find(c.baselineUs == 1000 ? "2.00ms" : "0.40ms"), std::string::npos);
  }
}

// The default harness window (1280 x 820) puts the distribution card at
// (920, 278), 340 x 274: its plot spans x 932..1248 and y 318..522.
constexpr float kPlotLeft = 932, kPlotRight = 1248, kPlotTop = 318, kPlotBottom = 522;

TEST(HistogramBars, ThePeakFillsThePlotAndOthersScaleToItWithAOnePixelFloor) {
  Harness h;
  std::vector<uint32_t> bins(25, 0);
  bins[8] = 50000;
  bins[10] = 100000;
  bins[11] = 1;
  h.frame(withHistogram(1000, 100, bins));
  const std::vector<testing::Box> bars = h.boxesOf(kCyanBar);
  ASSERT_EQ(bars.size(), 3u);  // zero bins draw nothing
  const float barW = (kPlotRight - kPlotLeft) / 25;
  EXPECT_FLOAT_EQ(bars[1].min.y, kPlotTop);
  EXPECT_FLOAT_EQ(bars[1].height(), kPlotBottom - kPlotTop);
  EXPECT_FLOAT_EQ(bars[1].min.x, kPlotLeft + 10 * barW + 1);
  EXPECT_FLOAT_EQ(bars[1].max.x, kPlotLeft + 11 * barW - 1);
  EXPECT_FLOAT_EQ(bars[0].height(), (kPlotBottom - kPlotTop) / 2);
  EXPECT_FLOAT_EQ(bars[2].height(), 1.0f);
  for (const testing::Box& bar : bars) EXPECT_FLOAT_EQ(bar.max.y, kPlotBottom);
}

TEST(HistogramBars, BaselineMarkerStandsAtTheBaselineIntervalInsideThePlot) {
  const ImU32 marker = IM_COL32(230, 234, 240, 45);
  Harness h;
  h.frame(withHistogram(1000, 100, std::vector<uint32_t>(25, 5)));
  const testing::Box line = h.boundsOf(marker);
  ASSERT_FALSE(line.empty());
  // Ten bar widths in; lines are drawn through pixel centres, half a pixel on.
  EXPECT_NEAR(line.centre().x, kPlotLeft + (kPlotRight - kPlotLeft) / 25 * 10 + 0.5f, 0.01f);
  EXPECT_FLOAT_EQ(line.min.y, kPlotTop + 0.5f);
  EXPECT_FLOAT_EQ(line.max.y, kPlotBottom + 0.5f);
  // A baseline beyond the last bin has no marker.
  h.frame(withHistogram(2600, 100, std::vector<uint32_t>(25, 5)));
  EXPECT_FALSE(h.hasColour(marker));
}

TEST(HistogramBars, AxisLabelsStayInsideThePlot) {
  // 21 bins: the 2.00ms label is centred 301 pixels in, so it would reach
  // past the right edge; the 0 label would start left of the plot.
  Harness h;
  const std::string text = h.text(withHistogram(1000, 100, std::vector<uint32_t>(21, 5)));
  for (const char* label : {"0", "1.00ms", "2.00ms"})
    EXPECT_NE(text.find(label), std::string::npos) << label;
  const testing::Box row = h.boundsOf(kColTextMuted, testing::rect(900, kPlotBottom + 1, 380, 30));
  ASSERT_FALSE(row.empty());
  EXPECT_GE(row.min.x, kPlotLeft);
  EXPECT_LT(row.min.x, kPlotLeft + 3);
  EXPECT_LE(row.max.x, kPlotRight);
  EXPECT_GT(row.max.x, kPlotRight - 3);
  EXPECT_GE(row.min.y, kPlotBottom + 6);
}

TEST(HistogramBars, NoHistogramShowsSampling) {
  Harness h;
  // Sampling while a test runs; before it, or paused, there is no data.
  for (int state : {0, 1, 2}) {
    const char* said = state == 1 ? "采样中…" : "暂无数据";
    UiState ui = withHistogram(1000, 100, {});
    ui.testState = state;
    const std::string text = h.text(ui);
    EXPECT_NE(text.find(said), std::string::npos) << state;
    EXPECT_EQ(text.find(state == 1 ? "暂无数据" : "采样中…"), std::string::npos) << state;
    ui = withHistogram(0, 100, std::vector<uint32_t>(25, 5));
    ui.testState = state;
    EXPECT_NE(h.text(ui).find(said), std::string::npos) << state;
  }
  EXPECT_FALSE(h.hasColour(kCyanBar));
}

PollingStats quality(float jitterUs, float anomalyRatio, float stability) {
  PollingStats s;
  s.statsValid = true;
  s.baselineUs = 1000;
  s.baselineHz = 1000;
  s.jitterUs = jitterUs;
  s.anomalyRatio = anomalyRatio;
  s.anomalyCount = 3;
  s.stability = stability;
  return s;
}

TEST(QualityRows, JitterIsAmberOnlyAboveTenPercent) {
  EXPECT_EQ(qualityRow(1, quality(100, 0, 1)).colour, kColTextBright);
  EXPECT_EQ(qualityRow(1, quality(100.1f, 0, 1)).colour, kColWarn);
  EXPECT_STREQ(qualityRow(1, quality(100, 0, 1)).value, "±100.0 µs");
  EXPECT_STREQ(qualityRow(1, quality(1000, 0, 1)).value, "±1.000 ms");
  EXPECT_STREQ(qualityRow(1, quality(0, 0, 1)).value, "--");
}

TEST(QualityRows, AnomaliesAreAmberAboveTwoPercent) {
  EXPECT_EQ(qualityRow(2, quality(10, 0.02f, 1)).colour, kColTextBright);
  EXPECT_EQ(qualityRow(2, quality(10, 0.0201f, 1)).colour, kColWarn);
  EXPECT_STREQ(qualityRow(2, quality(10, 0.0201f, 1)).value, "2.01%  (3)");
}

TEST(QualityRows, StabilityGreenAmberRed) {
  EXPECT_EQ(qualityRow(3, quality(10, 0, 0.95f)).colour, kColGood);
  EXPECT_EQ(qualityRow(3, quality(10, 0, 0.9499f)).colour, kColWarn);
  EXPECT_EQ(qualityRow(3, quality(10, 0, 0.8f)).colour, kColWarn);
  EXPECT_EQ(qualityRow(3, quality(10, 0, 0.7999f)).colour, kColBad);
  EXPECT_STREQ(qualityRow(3, quality(10, 0, 0.95f)).value, "95.0%");
}

// At 8000 Hz every interval below a millisecond shows in µs with a decimal,
// so the longest never reads below the baseline, and the rate follows from
// the interval shown.
TEST(QualityRows, IntervalsBelowAMillisecondInMicroseconds) {
  const struct {
    float baselineUs, longestUs;
    const char* baseline;
    const char* longest;
  } kRows[] = {
      {125.0f, 124.96f, "125.0 µs  (8000 Hz)", "125.0 µs"},
      {124.6f, 180.0f, "124.6 µs  (8026 Hz)", "180.0 µs"},
      {125.14f, 1250.0f, "125.1 µs  (7994 Hz)", "1.25 ms"},
      {1000.4f, 31250.0f, "1.000 ms  (1000 Hz)", "31.25 ms"},
  };
  for (const auto& r : kRows) {
    PollingStats s = quality(10, 0, 1);
    s.baselineUs = r.baselineUs;
    s.baselineHz = 1e6f / r.baselineUs;
    s.longestIntervalUs = r.longestUs;
    EXPECT_STREQ(qualityRow(0, s).value, r.baseline) << r.baselineUs;
    EXPECT_STREQ(qualityRow(4, s).value, r.longest) << r.longestUs;
  }
}

TEST(QualityRows, WithoutValidStatsOnlyTheOwnTestDecidesTheText) {
  PollingStats s = quality(20, 0.5f, 0.5f);
  s.statsValid = false;
  EXPECT_STREQ(qualityRow(0, s).value, "1.000 ms  (1000 Hz)");
  EXPECT_STREQ(qualityRow(1, s).value, "±20.0 µs");
  EXPECT_STREQ(qualityRow(2, s).value, "--");
  EXPECT_STREQ(qualityRow(3, s).value, "--");
  for (int k = 0; k < 4; ++k) EXPECT_EQ(qualityRow(k, s).colour, kColTextMuted) << k;
}

TEST(QualityCard, ShowsItsFourRows) {
  Harness h;
  UiState ui;
  ui.stats = quality(20, 0.001f, 0.98f);
  const std::string text = h.text(ui);
  for (const char* s : {"基准间隔", "1.000 ms  (1000 Hz)", "抖动", "±20.0 µs", "异常间隔",
                        "0.10%  (3)", "稳定性", "98.0%"})
    EXPECT_NE(text.find(s), std::string::npos) << s;
}

// The colours of the rows reach the card: the quality card of the default
// harness window starts at (920, 568).
TEST(QualityCard, DrawsItsValuesInTheirRowColours) {
  const testing::Box card = testing::rect(920, 568, 340, 168);
  Harness h;
  UiState ui;
  ui.stats = quality(150, 0.05f, 0.7f);  // jitter and anomalies amber, stability red
  h.frame(ui);
  EXPECT_FALSE(h.boundsOf(kColBad, card).empty());
  EXPECT_FALSE(h.boundsOf(kColWarn, card).empty());
  EXPECT_FALSE(h.boundsOf(kColTextBright, card).empty()) << "the baseline row";
  ui.stats = quality(20, 0.001f, 0.99f);
  h.frame(ui);
  EXPECT_FALSE(h.boundsOf(kColGood, card).empty());
  EXPECT_TRUE(h.boundsOf(kColWarn, card).empty());
  EXPECT_TRUE(h.boundsOf(kColBad, card).empty());
  ui.stats.statsValid = false;
  h.frame(ui);
  for (ImU32 col : {kColGood, kColWarn, kColBad, kColTextBright})
    EXPECT_TRUE(h.boundsOf(col, card).empty()) << std::hex << col;
  EXPECT_FALSE(h.boundsOf(kColTextMuted, card).empty());
}

}  // namespace
}  // namespace dashboard
