// Where the cards land: the grid's rectangles read back from the card fills
// at the smallest window the shell allows, at its default size, and with the
// banner pushing the grid down.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "DashboardHarness.h"
#include "dashboard/Palette.h"

namespace dashboard {
namespace {

using testing::Box;
using testing::Harness;
using testing::rect;

struct Grid {
  Box current, history;
  std::array<Box, 3> tiles;
  Box ratio, distribution, quality;
};

// The three tiles from the left edge, 12 pixels apart.
std::array<Box, 3> tiles(float y, float w) {
  return {rect(20, y, w, 104), rect(32 + w, y, w, 104), rect(44 + 2 * w, y, w, 104)};
}

bool same(const Box& a, const Box& b) {
  const auto near = [](float x, float y) { return std::fabs(x - y) < 0.01f; };
  return near(a.min.x, b.min.x) && near(a.min.y, b.min.y) && near(a.max.x, b.max.x) &&
         near(a.max.y, b.max.y);
}

std::string show(const Box& b) {
  char text[96];
  std::snprintf(text, sizeof text, "(%.2f, %.2f) size (%.2f, %.2f)", b.min.x, b.min.y, b.width(),
                b.height());
  return text;
}

// Every card and tile is one rounded fill in the card colour.
void expectCards(Harness& h, const UiState& ui, const Grid& g) {
  h.frame(ui);
  const std::vector<Box> drawn = h.boxesOf(kColCardFill);
  EXPECT_EQ(drawn.size(), 8u);
  const std::pair<const char*, Box> expected[] = {{"当前回报率", g.current},
                                                  {"回报率历史", g.history},
                                                  {"最高", g.tiles[0]},
                                                  {"最低", g.tiles[1]},
                                                  {"平均", g.tiles[2]},
                                                  {"达成率", g.ratio},
                                                  {"报告间隔分布", g.distribution},
                                                  {"信号质量", g.quality}};
  for (const auto& [name, box] : expected) {
    const bool found =
        std::any_of(drawn.begin(), drawn.end(), [&](const Box& d) { return same(d, box); });
    EXPECT_TRUE(found) << name << " not at " << show(box);
  }
}

TEST(DashboardGrid, SmallestWindowKeepsTheDistributionCardAtItsFloor) {
  // 900 x 640: 490 pixels for the columns, so the distribution card is held
  // at 110 and the quality card sits below it.
  Harness h(ImVec2(900, 640));
  const float tileW = 160;
  expectCards(
      h, UiState{},
      Grid{rect(20, 66, 504, 168),
           rect(20, 250, 504, 186),
           {rect(20, 452, tileW, 104), rect(192, 452, tileW, 104), rect(364, 452, tileW, 104)},
           rect(540, 66, 340, 196),
           rect(540, 278, 340, 110),
           rect(540, 404, 340, 168)});
}

TEST(DashboardGrid, DefaultWindowGrowsTheHistoryAndDistributionCards) {
  Harness h(ImVec2(1180, 820));
  expectCards(h, UiState{},
              Grid{rect(20, 66, 784, 168), rect(20, 250, 784, 366), tiles(632, 760.0f / 3),
                   rect(820, 66, 340, 196), rect(820, 278, 340, 274), rect(820, 568, 340, 168)});
}

TEST(DashboardGrid, BannerMovesTheGridDownAndShortensTheStretchingCards) {
  Harness h(ImVec2(1180, 820));
  UiState ui;
  ui.alert.title = "无法读取鼠标";
  ui.alert.detail = "详情";
  ui.alert.actions.push_back({PlatformActionKind::OpenUrl, "帮助", "https://example.com"});
  ui.alert.actions.push_back({PlatformActionKind::Relaunch, "重新启动", ""});
  h.frame(ui);
  // Two lines of the built-in 13-pixel font, the button row: 96 pixels of
  // banner from y = 66, then a 14-pixel gap.
  ASSERT_FLOAT_EQ(h.boundsOf(IM_COL32(72, 22, 22, 235)).max.y, 66 + 96);
  expectCards(h, ui,
              Grid{rect(20, 176, 784, 168), rect(20, 360, 784, 256), tiles(632, 760.0f / 3),
                   rect(820, 176, 340, 196), rect(820, 388, 340, 164), rect(820, 568, 340, 168)});
}

}  // namespace
}  // namespace dashboard
