#include "app/OffscreenTarget.h"

namespace {

template <typename Proc>
bool fetch(Proc& proc, const char* name) {
  proc = reinterpret_cast<Proc>(glfwGetProcAddress(name));
  return proc != nullptr;
}

}  // namespace

bool FramebufferGl::load() {
  // Every entry is fetched, so none is left unset by an early miss.
  bool all = fetch(genFramebuffers, "glGenFramebuffers");
  all &= fetch(bindFramebuffer, "glBindFramebuffer");
  all &= fetch(deleteFramebuffers, "glDeleteFramebuffers");
  all &= fetch(genRenderbuffers, "glGenRenderbuffers");
  all &= fetch(bindRenderbuffer, "glBindRenderbuffer");
  all &= fetch(renderbufferStorage, "glRenderbufferStorage");
  all &= fetch(framebufferRenderbuffer, "glFramebufferRenderbuffer");
  all &= fetch(deleteRenderbuffers, "glDeleteRenderbuffers");
  all &= fetch(checkFramebufferStatus, "glCheckFramebufferStatus");
  return all;
}

OffscreenTarget::OffscreenTarget(const FramebufferGl& gl, int width, int height)
    : gl_(gl), width_(width), height_(height) {
  gl_.genFramebuffers(1, &fbo_);
  gl_.genRenderbuffers(1, &rbo_);
  gl_.bindRenderbuffer(GL_RENDERBUFFER, rbo_);
  gl_.renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  gl_.bindFramebuffer(GL_FRAMEBUFFER, fbo_);
  gl_.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rbo_);
  ok_ = gl_.checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
}

OffscreenTarget::~OffscreenTarget() {
  gl_.bindFramebuffer(GL_FRAMEBUFFER, 0);
  gl_.deleteFramebuffers(1, &fbo_);
  gl_.deleteRenderbuffers(1, &rbo_);
}

void OffscreenTarget::bind() const { gl_.bindFramebuffer(GL_FRAMEBUFFER, fbo_); }
