#include "app/FramebufferCapture.h"

#include <GLFW/glfw3.h>

PixelImage readFramebuffer(int width, int height, PixelImage::Format format) {
  const bool rgba = format == PixelImage::Format::Rgba;
  PixelImage image;
  image.width = width;
  image.height = height;
  image.format = format;
  image.bottomUp = true;  // GL rows run bottom-up
  image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * (rgba ? 4 : 3));
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width, height, rgba ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE, image.pixels.data());
  return image;
}
