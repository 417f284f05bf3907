#pragma once

#include "dashboard/PngWriter.h"

// The bound framebuffer of the current GL context as the last frame drew it
// (for the window: after rendering, before the swap): width x height pixels,
// bottom row first. The thread whose context is current.
PixelImage readFramebuffer(int width, int height,
                           PixelImage::Format format = PixelImage::Format::Rgb);
