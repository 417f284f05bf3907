#pragma once

#include <optional>

struct GLFWwindow;

// One frame's display: the window's size in screen units and its
// framebuffer's size in pixels, taken as one consistent pair.
struct DisplayFrame {
  int width = 0;
  int height = 0;
  int framebufferWidth = 0;
  int framebufferHeight = 0;
  float scaleX = 1.0f;  // framebuffer pixels per screen unit
  float scaleY = 1.0f;
};

struct FrameSize {
  int width = 0;
  int height = 0;
};

// Fonts are rasterised at the framebuffer scale; beyond this range a
// glyph's bitmap no longer fits any font atlas.
inline constexpr float kMinFramebufferScale = 0.25f;
inline constexpr float kMaxFramebufferScale = 4.0f;

// The frame to draw, from the window's size read before and after its
// framebuffer's size. nullopt means skip the frame: a size is not positive
// (minimised), the window changed between the reads (a resize landed in
// between), or the framebuffer is not the window at one scale on both axes.
// The scale is clamped to [kMinFramebufferScale, kMaxFramebufferScale].
std::optional<DisplayFrame> consistentDisplayFrame(FrameSize windowBefore, FrameSize framebuffer,
                                                   FrameSize windowAfter);

// Reads the three sizes of `window` for the frame about to start. Main thread.
std::optional<DisplayFrame> readDisplayFrame(GLFWwindow* window);
