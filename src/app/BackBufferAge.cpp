#include "app/BackBufferAge.h"

#include <GL/glx.h>

#include <cstring>

#ifndef GLX_BACK_BUFFER_AGE_EXT
#define GLX_BACK_BUFFER_AGE_EXT 0x20F4
#endif
#ifndef GLX_SWAP_METHOD_OML
#define GLX_SWAP_METHOD_OML 0x8060
#define GLX_SWAP_COPY_OML 0x8062
#endif

namespace {

bool hasWord(const char* list, const char* word) {
  if (list == nullptr) return false;
  const size_t n = std::strlen(word);
  for (const char* p = std::strstr(list, word); p != nullptr; p = std::strstr(p + n, word))
    if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0')) return true;
  return false;
}

bool swapCopies(Display* display, GLXContext context) {
  int id = 0;
  if (glXQueryContext(display, context, GLX_FBCONFIG_ID, &id) != Success) return false;
  const int wanted[] = {GLX_FBCONFIG_ID, id, None};
  int count = 0;
  GLXFBConfig* configs = glXChooseFBConfig(display, DefaultScreen(display), wanted, &count);
  int method = 0;
  if (configs != nullptr && count > 0)
    glXGetFBConfigAttrib(display, configs[0], GLX_SWAP_METHOD_OML, &method);
  if (configs != nullptr) XFree(configs);
  return method == GLX_SWAP_COPY_OML;
}

bool mesaSoftware() {
  const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  return renderer != nullptr &&
         (std::strncmp(renderer, "llvmpipe", 8) == 0 || std::strncmp(renderer, "softpipe", 8) == 0);
}

}  // namespace

BackBufferAge::BackBufferAge() {
  Display* display = glXGetCurrentDisplay();
  GLXContext context = glXGetCurrentContext();
  if (display == nullptr || context == nullptr || glXGetCurrentDrawable() == 0) return;
  const char* extensions = glXQueryExtensionsString(display, DefaultScreen(display));
  if (hasWord(extensions, "GLX_EXT_buffer_age")) {
    kind_ = Kind::Queried;
  } else if (swapCopies(display, context) || mesaSoftware()) {
    kind_ = Kind::Kept;
  }
}

int BackBufferAge::beforeFrame() const {
  if (kind_ == Kind::Kept) return 1;
  if (kind_ != Kind::Queried) return 0;
  unsigned int age = 0;
  glXQueryDrawable(glXGetCurrentDisplay(), glXGetCurrentDrawable(), GLX_BACK_BUFFER_AGE_EXT, &age);
  return static_cast<int>(age);
}
