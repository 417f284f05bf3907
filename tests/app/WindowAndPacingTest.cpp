// Window placement and frame pacing, on given numbers.
#include <gtest/gtest.h>

#include "app/FramePacer.h"
#include "app/WindowGeometry.h"

namespace {

void expectPlacement(const WindowPlacement& p, Rect content, int minWidth, int minHeight) {
  EXPECT_EQ(p.content.x, content.x);
  EXPECT_EQ(p.content.y, content.y);
  EXPECT_EQ(p.content.width, content.width);
  EXPECT_EQ(p.content.height, content.height);
  EXPECT_EQ(p.minWidth, minWidth);
  EXPECT_EQ(p.minHeight, minHeight);
}

TEST(WindowPlacement, FillsTheWorkAreaWithItsFrame) {
  expectPlacement(placeWindow(Rect{0, 32, 1920, 1048}, FrameExtents{2, 28, 2, 2}),
                  Rect{2, 60, 1916, 1018}, 900, 640);
}

TEST(WindowPlacement, WithoutAMonitor) {
  expectPlacement(placeWindow(std::nullopt, FrameExtents{}), Rect{0, 0, 1180, 820}, 900, 640);
}

TEST(WindowPlacement, SmallWorkAreaLimitsTheMinimumFromTheAreaNotTheContent) {
  const WindowPlacement p = placeWindow(Rect{0, 0, 800, 600}, FrameExtents{0, 30, 0, 0});
  EXPECT_EQ(p.minWidth, 800);
  EXPECT_EQ(p.minHeight, 600);
  EXPECT_EQ(p.content.height, 570);
}

TEST(FramePacer, FramesStartOnePeriodApartAndLostTimeIsNotMadeUp) {
  constexpr double T = FramePacer::kFramePeriod;
  FramePacer pacer(10.0);
  EXPECT_EQ(pacer.waitBefore(10.0), 0.0);
  pacer.begin(10.0);
  pacer.end();  // a quick frame: the next is due at 10 + T
  EXPECT_NEAR(pacer.waitBefore(10.005), T - 0.005, 1e-12);
  pacer.begin(10.005);  // woke at 10 + T, counted as such
  pacer.end();
  EXPECT_NEAR(pacer.waitBefore(10.0 + T + 0.001), T - 0.001, 1e-12);

  // A frame that ran 50 ms: the next starts at once, and the one after is a
  // full period later, not sooner.
  pacer.begin(10.0 + 2 * T);
  pacer.end();
  const double late = 10.0 + 2 * T + 0.050;
  EXPECT_EQ(pacer.waitBefore(late), 0.0);
  pacer.begin(late);
  pacer.end();
  EXPECT_NEAR(pacer.waitBefore(late), T, 1e-12);
}

}  // namespace
