// quillmark-preview: draws the dashboard for a set of named states into PNG
// files through the real OpenGL 3 renderer, in a hidden GLFW window, so every
// state can be looked at without a mouse.
//
//   quillmark-preview [--size WxH] [--triangles] [output-directory] [fixture-name ...]
//
// --size draws every state at that window size instead of its own;
// --triangles draws the cards as triangles, as the headless tests see them,
// instead of the window's solid fill.
// The texts follow the locale, as the program's do: LANG=en_US.UTF-8 draws
// the English window.
#include <GLFW/glfw3.h>
// glext.h needs the GL types that glfw3.h brings in first.
#include <GL/glext.h>

#include <imgui.h>
#include <imgui_impl_opengl3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Fixtures.h"
#include "app/FramebufferCapture.h"
#include "app/HiddenGlWindow.h"
#include "app/SolidFill.h"
#include "dashboard/Dashboard.h"
#include "dashboard/DashboardState.h"
#include "dashboard/DrawKit.h"
#include "dashboard/PngWriter.h"
#include "i18n/Language.h"
#include "i18n/Translate.h"

namespace {

// Framebuffer-object entry points, fetched at run time like every GL 3 call.
struct FboGl {
  PFNGLGENFRAMEBUFFERSPROC genFramebuffers;
  PFNGLBINDFRAMEBUFFERPROC bindFramebuffer;
  PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers;
  PFNGLGENRENDERBUFFERSPROC genRenderbuffers;
  PFNGLBINDRENDERBUFFERPROC bindRenderbuffer;
  PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage;
  PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer;
  PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus;

  bool load() {
    genFramebuffers =
        reinterpret_cast<PFNGLGENFRAMEBUFFERSPROC>(glfwGetProcAddress("glGenFramebuffers"));
    bindFramebuffer =
        reinterpret_cast<PFNGLBINDFRAMEBUFFERPROC>(glfwGetProcAddress("glBindFramebuffer"));
    deleteFramebuffers =
        reinterpret_cast<PFNGLDELETEFRAMEBUFFERSPROC>(glfwGetProcAddress("glDeleteFramebuffers"));
    genRenderbuffers =
        reinterpret_cast<PFNGLGENRENDERBUFFERSPROC>(glfwGetProcAddress("glGenRenderbuffers"));
    bindRenderbuffer =
        reinterpret_cast<PFNGLBINDRENDERBUFFERPROC>(glfwGetProcAddress("glBindRenderbuffer"));
    renderbufferStorage =
        reinterpret_cast<PFNGLRENDERBUFFERSTORAGEPROC>(glfwGetProcAddress("glRenderbufferStorage"));
    framebufferRenderbuffer = reinterpret_cast<PFNGLFRAMEBUFFERRENDERBUFFERPROC>(
        glfwGetProcAddress("glFramebufferRenderbuffer"));
    deleteRenderbuffers =
        reinterpret_cast<PFNGLDELETERENDERBUFFERSPROC>(glfwGetProcAddress("glDeleteRenderbuffers"));
    checkFramebufferStatus = reinterpret_cast<PFNGLCHECKFRAMEBUFFERSTATUSPROC>(
        glfwGetProcAddress("glCheckFramebufferStatus"));
    return genFramebuffers && bindFramebuffer && deleteFramebuffers && genRenderbuffers &&
           bindRenderbuffer && renderbufferStorage && framebufferRenderbuffer &&
           deleteRenderbuffers && checkFramebufferStatus;
  }
};

// An offscreen colour target of the fixture's size.
class Target {
 public:
  Target(const FboGl& gl, int w, int h) : gl_(gl) {
    gl_.genFramebuffers(1, &fbo_);
    gl_.genRenderbuffers(1, &rbo_);
    gl_.bindRenderbuffer(GL_RENDERBUFFER, rbo_);
    gl_.renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, w, h);
    gl_.bindFramebuffer(GL_FRAMEBUFFER, fbo_);
    gl_.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rbo_);
    ok_ = gl_.checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
  }
  ~Target() {
    gl_.bindFramebuffer(GL_FRAMEBUFFER, 0);
    gl_.deleteFramebuffers(1, &fbo_);
    gl_.deleteRenderbuffers(1, &rbo_);
  }
  bool ok() const { return ok_; }
  void bind() const { gl_.bindFramebuffer(GL_FRAMEBUFFER, fbo_); }

 private:
  const FboGl& gl_;
  GLuint fbo_ = 0, rbo_ = 0;
  bool ok_ = false;
};

bool renderFixture(const FboGl& gl, const dashboard::Fixture& f, const std::string& dir) {
  const int w = static_cast<int>(f.windowSize.x), h = static_cast<int>(f.windowSize.y);
  Target target(gl, w, h);
  if (!target.ok()) {
    std::fprintf(stderr, "quillmark-preview: no framebuffer for %s\n", f.name.c_str());
    return false;
  }
  dashboard::detail::resetState();
  ImGuiIO& io = ImGui::GetIO();
  io.DisplaySize = f.windowSize;
  // A new window is hidden in its first frame; a few frames settle the
  // layout, and 0.4 s each give the hints their second.
  io.DeltaTime = 0.4f;
  dashboard::UiState before = f.state;
  before.testState = 1;
  before.stats.currentHz = f.ranAtHz;
  for (int frame = 0; frame < 6; ++frame) {
    ImGui_ImplOpenGL3_NewFrame();
    ImGui::NewFrame();
    if (f.page) {
      dashboard::drawButtonsPage(*f.page);
    } else {
      dashboard::draw(frame < 2 && f.ranAtHz > 0 ? before : f.state);
    }
    ImGui::Render();
    target.bind();
    glViewport(0, 0, w, h);
    glClearColor(0.055f, 0.059f, 0.067f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
  }
  glFinish();
  const std::string path = dir + "/" + f.name + ".png";
  std::string error;
  if (!writePng(path, readFramebuffer(w, h, PixelImage::Format::Rgba), error)) {
    std::fprintf(stderr, "quillmark-preview: %s\n", error.c_str());
    return false;
  }
  std::printf("%s\n", path.c_str());
  return true;
}

bool wanted(const std::string& name, int argc, char** argv) {
  if (argc <= 2) return true;
  for (int i = 2; i < argc; ++i)
    if (name == argv[i]) return true;
  return false;
}

struct Options {
  ImVec2 size{0, 0};       // --size WxH: every state at that window size
  bool triangles = false;  // --triangles: cards as triangles, no solid fill
};

// The leading options, taken out of argv; false on a bad one.
bool takeOptions(int& argc, char** argv, Options& o) {
  int used = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--triangles") {
      o.triangles = true;
      used = i;
    } else if (arg == "--size" && i + 1 < argc) {
      int w = 0, h = 0;
      if (std::sscanf(argv[i + 1], "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0) return false;
      o.size = ImVec2(static_cast<float>(w), static_cast<float>(h));
      used = ++i;
    } else {
      break;
    }
  }
  for (int i = used + 1; i <= argc; ++i) argv[i - used] = argv[i];
  argc -= used;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  i18n::initTranslation(i18n::languageFromEnvironment());
  Options options;
  if (!takeOptions(argc, argv, options)) {
    std::fprintf(stderr, "quillmark-preview: --size wants WxH, e.g. 900x640\n");
    return 2;
  }
  const std::string dir = argc > 1 ? argv[1] : ".";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    std::fprintf(stderr, "quillmark-preview: cannot create %s: %s\n", dir.c_str(),
                 ec.message().c_str());
    return 1;
  }
  if (!glfwInit()) {
    std::fprintf(stderr,
                 "quillmark-preview: GLFW cannot start (is there a display? try xvfb-run)\n");
    return 1;
  }
  GLFWwindow* window = createHiddenGlWindow(64, 64, "quillmark-preview");
  FboGl gl{};
  if (!window) {
    std::fprintf(stderr, "quillmark-preview: OpenGL is not supported.\n");
    glfwTerminate();
    return 1;
  }
  glfwMakeContextCurrent(window);
  if (!gl.load()) {
    std::fprintf(stderr, "quillmark-preview: no framebuffer objects in this OpenGL\n");
    return 1;
  }

  ImGui::CreateContext();
  ImGui::GetIO().IniFilename = nullptr;
  ImGui_ImplOpenGL3_Init("#version 150");
  dashboard::init(platformFontConfig());
  if (!options.triangles) dashboard::setSolidFill(glSolidFill);

  int failures = 0;
  for (dashboard::Fixture f : dashboard::previewFixtures()) {
    if (options.size.x > 0) f.windowSize = options.size;
    if (wanted(f.name, argc, argv) && !renderFixture(gl, f, dir)) ++failures;
  }

  ImGui_ImplOpenGL3_Shutdown();
  ImGui::DestroyContext();
  glfwDestroyWindow(window);
  glfwTerminate();
  return failures == 0 ? 0 : 1;
}
