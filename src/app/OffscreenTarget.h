#pragma once

#include <GLFW/glfw3.h>
// glext.h needs the GL types that glfw3.h brings in first.
#include <GL/glext.h>

// Framebuffer-object entry points, fetched at run time like every GL 3 call.
struct FramebufferGl {
  PFNGLGENFRAMEBUFFERSPROC genFramebuffers = nullptr;
  PFNGLBINDFRAMEBUFFERPROC bindFramebuffer = nullptr;
  PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers = nullptr;
  PFNGLGENRENDERBUFFERSPROC genRenderbuffers = nullptr;
  PFNGLBINDRENDERBUFFERPROC bindRenderbuffer = nullptr;
  PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage = nullptr;
  PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer = nullptr;
  PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers = nullptr;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus = nullptr;

  // False when the current context lacks any of them.
  bool load();
};

// An offscreen colour target (RGBA8) of a fixed size. The context that made
// it must be current whenever it is used or destroyed.
class OffscreenTarget {
 public:
  OffscreenTarget(const FramebufferGl& gl, int width, int height);
  ~OffscreenTarget();
  OffscreenTarget(const OffscreenTarget&) = delete;
  OffscreenTarget& operator=(const OffscreenTarget&) = delete;

  bool ok() const { return ok_; }
  int width() const { return width_; }
  int height() const { return height_; }
  // Draws and reads go to this target.
  void bind() const;

 private:
  const FramebufferGl& gl_;
  GLuint fbo_ = 0, rbo_ = 0;
  int width_ = 0, height_ = 0;
  bool ok_ = false;
};
