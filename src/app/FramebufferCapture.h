#pragma once

#include "dashboard/PngWriter.h"

// The current GL context's back buffer, as the last frame drew it (call
// after rendering, before the swap): width x height RGB pixels, bottom row
// first. Main thread, with the window's context current.
PixelImage readFramebuffer(int width, int height);
