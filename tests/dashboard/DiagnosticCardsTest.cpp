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

TEST(HistogramBars, HeightsScaleToThePeakWithAOnePixelFloor) {
  Harness h;
  std::vector<uint32_t> bins(25, 0);
  bins[10] = 100000;
  bins[11] = 1;
  h.frame(withHistogram(1000, 100, bins));
  const std::vector<testing::Box> bars = h.boxesOf(kCyanBar);
  ASSERT_EQ(bars.size(), 2u);  // zero bins draw nothing
  EXPECT_FLOAT_EQ(bars[1].height(), 1.0f);
  EXPECT_GT(bars[0].height(), 30.0f);
  EXPECT_FLOAT_EQ(bars[0].max.y, bars[1].max.y);
}

TEST(HistogramBars, NoHistogramShowsSampling) {
  Harness h;
  EXPECT_NE(h.text(withHistogram(1000, 100, {})).find("采样中…"), std::string::npos);
  EXPECT_NE(h.text(withHistogram(0, 100, std::vector<uint32_t>(25, 5))).find("采样中…"),
            std::string::npos);
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
  EXPECT_STREQ(qualityRow(1, quality(100, 0, 1)).value, "±0.100 ms");
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

TEST(QualityRows, WithoutValidStatsOnlyTheOwnTestDecidesTheText) {
  PollingStats s = quality(20, 0.5f, 0.5f);
  s.statsValid = false;
  EXPECT_STREQ(qualityRow(0, s).value, "1.000 ms  (1000 Hz)");
  EXPECT_STREQ(qualityRow(1, s).value, "±0.020 ms");
  EXPECT_STREQ(qualityRow(2, s).value, "--");
  EXPECT_STREQ(qualityRow(3, s).value, "--");
  for (int k = 0; k < 4; ++k) EXPECT_EQ(qualityRow(k, s).colour, kColTextMuted) << k;
}

TEST(QualityCard, ShowsItsFourRows) {
  Harness h;
  UiState ui;
  ui.stats = quality(20, 0.001f, 0.98f);
  const std::string text = h.text(ui);
  for (const char* s : {"基准间隔", "1.000 ms  (1000 Hz)", "抖动", "±0.020 ms", "异常间隔",
                        "0.10%  (3)", "稳定性", "98.0%"})
    EXPECT_NE(text.find(s), std::string::npos) << s;
}

}  // namespace
}  // namespace dashboard
