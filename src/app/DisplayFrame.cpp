#include "app/DisplayFrame.h"

#include <GLFW/glfw3.h>

#include <algorithm>
#include <cmath>

namespace {

bool positive(FrameSize s) { return s.width > 0 && s.height > 0; }

bool same(FrameSize a, FrameSize b) { return a.width == b.width && a.height == b.height; }

// Each axis rounds to whole pixels, so the two scales of one pair differ by
// at most half a pixel per axis.
bool oneScale(float scaleX, float scaleY, FrameSize window) {
  const float rounding = 1.0f / static_cast<float>(std::min(window.width, window.height));
  return std::fabs(scaleX - scaleY) <= rounding + 0.01f * std::max(scaleX, scaleY);
}

float clampScale(float scale) {
  return std::clamp(scale, kMinFramebufferScale, kMaxFramebufferScale);
}

}  // namespace

std::optional<DisplayFrame> consistentDisplayFrame(FrameSize windowBefore, FrameSize framebuffer,
                                                   FrameSize windowAfter) {
  if (!positive(windowBefore) || !positive(framebuffer) || !same(windowBefore, windowAfter)) {
    return std::nullopt;
  }
  const float scaleX =
      static_cast<float>(framebuffer.width) / static_cast<float>(windowBefore.width);
  const float scaleY =
      static_cast<float>(framebuffer.height) / static_cast<float>(windowBefore.height);
  if (!oneScale(scaleX, scaleY, windowBefore)) return std::nullopt;
  DisplayFrame frame;
  frame.width = windowBefore.width;
  frame.height = windowBefore.height;
  frame.framebufferWidth = framebuffer.width;
  frame.framebufferHeight = framebuffer.height;
  frame.scaleX = clampScale(scaleX);
  frame.scaleY = clampScale(scaleY);
  return frame;
}

std::optional<DisplayFrame> readDisplayFrame(GLFWwindow* window) {
  FrameSize before;
  FrameSize framebuffer;
  FrameSize after;
  glfwGetWindowSize(window, &before.width, &before.height);
  glfwGetFramebufferSize(window, &framebuffer.width, &framebuffer.height);
  glfwGetWindowSize(window, &after.width, &after.height);
  return consistentDisplayFrame(before, framebuffer, after);
}
