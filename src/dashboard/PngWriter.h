#pragma once

#include <cstdint>
#include <string>
#include <vector>

// 8-bit pixels as read back from a framebuffer or drawn by the preview tool.
struct PixelImage {
  enum class Format { Rgb, Rgba };
  int width = 0;
  int height = 0;
  Format format = Format::Rgba;
  bool bottomUp = false;        // rows as OpenGL reads them: the bottom row first
  std::vector<uint8_t> pixels;  // width x height x 3 or 4 bytes, rows without padding
};

// Writes the image as a compressed PNG file (libpng) through the result
// files' writer (replaced whole, flushed to disk). Returns false with a
// one-line reason in `error` when it cannot be written. Any thread.
bool writePng(const std::string& path, const PixelImage& image, std::string& error);
