// The display size and framebuffer scale a frame is drawn with, from the
// window and framebuffer sizes read around a resize.
#include <gtest/gtest.h>

#include "app/DisplayFrame.h"

namespace {

TEST(DisplayFrame, AConsistentPairIsDrawnAtItsScale) {
  const auto plain = consistentDisplayFrame({1280, 800}, {1280, 800}, {1280, 800});
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->width, 1280);
  EXPECT_EQ(plain->height, 800);
  EXPECT_EQ(plain->framebufferWidth, 1280);
  EXPECT_EQ(plain->scaleX, 1.0f);
  EXPECT_EQ(plain->scaleY, 1.0f);

  const auto hidpi = consistentDisplayFrame({1280, 800}, {2560, 1600}, {1280, 800});
  ASSERT_TRUE(hidpi);
  EXPECT_EQ(hidpi->framebufferHeight, 1600);
  EXPECT_EQ(hidpi->scaleX, 2.0f);
  EXPECT_EQ(hidpi->scaleY, 2.0f);

  // A fractional scale rounds each axis to whole pixels; also for a tiny window.
  EXPECT_TRUE(consistentDisplayFrame({1001, 1000}, {1502, 1500}, {1001, 1000}));
  EXPECT_TRUE(consistentDisplayFrame({3, 2}, {5, 3}, {3, 2}));
}

TEST(DisplayFrame, AFrameCaughtInAResizeIsSkipped) {
  // The window changed between the reads, either way round.
  EXPECT_FALSE(consistentDisplayFrame({1, 1}, {2000, 1500}, {2000, 1500}));
  EXPECT_FALSE(consistentDisplayFrame({2000, 1500}, {1, 1}, {1, 1}));
  // Two resizes between the reads: the framebuffer is not the window at any one scale.
  EXPECT_FALSE(consistentDisplayFrame({1, 1}, {2000, 1500}, {1, 1}));
  EXPECT_FALSE(consistentDisplayFrame({2000, 1500}, {1280, 1500}, {2000, 1500}));
  // Minimised or not yet mapped.
  EXPECT_FALSE(consistentDisplayFrame({0, 0}, {0, 0}, {0, 0}));
  EXPECT_FALSE(consistentDisplayFrame({800, 600}, {0, 600}, {800, 600}));
}

TEST(DisplayFrame, TheScaleStaysWhereFontsCanBeRasterised) {
  const auto huge = consistentDisplayFrame({1, 1}, {2000, 2000}, {1, 1});
  ASSERT_TRUE(huge);
  EXPECT_EQ(huge->scaleX, kMaxFramebufferScale);
  EXPECT_EQ(huge->scaleY, kMaxFramebufferScale);
  const auto tiny = consistentDisplayFrame({2000, 2000}, {1, 1}, {2000, 2000});
  ASSERT_TRUE(tiny);
  EXPECT_EQ(tiny->scaleX, kMinFramebufferScale);
}

}  // namespace
