#include "app/FramebufferCapture.h"

#include <GLFW/glfw3.h>

PixelImage readFramebuffer(int width, int height) {
  PixelImage image;
  image.width = width;
  image.height = height;
  image.format = PixelImage::Format::Rgb;  // the window is opaque
  image.bottomUp = true;
  image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, image.pixels.data());
  return image;
}
