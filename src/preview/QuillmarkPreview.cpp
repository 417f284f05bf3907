// quillmark-preview: draws the dashboard for a set of named states into PNG
// files through the real OpenGL 3 renderer, in a hidden GLFW window, so every
// state can be looked at without a mouse.
//
//   quillmark-preview [--size WxH] [--triangles] [--over NAME [--whole]]
//                     [output-directory] [fixture-name ...]
//
// --size draws every state at that window size instead of its own;
// --triangles draws the cards as triangles, as the headless tests see them,
// instead of the window's solid fill; --over draws each state over the
// state NAME as the window does, drawing again only what changed (with
// --whole, drawing each frame whole: the same pictures).
// The texts follow the locale, as the program's do: LANG=en_US.UTF-8 draws
// the English window.
#include <imgui.h>
#include <imgui_impl_opengl3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Fixtures.h"
#include "app/FramebufferCapture.h"
#include "app/HiddenGlWindow.h"
#include "app/OffscreenTarget.h"
#include "app/PartialRedraw.h"
#include "app/SolidFill.h"
#include "dashboard/Dashboard.h"
#include "dashboard/DashboardState.h"
#include "dashboard/DrawKit.h"
#include "dashboard/Palette.h"
#include "dashboard/PngWriter.h"
#include "i18n/Language.h"
#include "i18n/Translate.h"

namespace {

// Draws a fixture's frames as a new window settles them: a new window is
// hidden in its first frame, a few frames settle the layout, and 0.4 s
// each give the hints their second. With `age` 1 each frame is drawn over
// the last, only what changed (as the window draws); with 0, whole. The
// share of the picture its first frame drew.
double drawSettled(const dashboard::Fixture& f, PartialRedraw& redraw, int age) {
  const int w = static_cast<int>(f.windowSize.x), h = static_cast<int>(f.windowSize.y);
  ImGuiIO& io = ImGui::GetIO();
  io.DisplaySize = f.windowSize;
  io.DeltaTime = 0.4f;
  dashboard::UiState before = f.state;
  before.testState = 1;
  before.stats.currentHz = f.ranAtHz;
  double firstShare = 1.0;
  for (int frame = 0; frame < 6; ++frame) {
    ImGui_ImplOpenGL3_NewFrame();
    ImGui::NewFrame();
    if (f.page) {
      dashboard::drawButtonsPage(*f.page);
    } else {
      dashboard::draw(frame < 2 && f.ranAtHz > 0 ? before : f.state);
    }
    ImGui::Render();
    redraw.draw(*ImGui::GetDrawData(), w, h, age);
    if (frame == 0) firstShare = redraw.redrawnShare();
  }
  return firstShare;
}

bool renderFixture(const FramebufferGl& gl, const dashboard::Fixture& f, const std::string& dir,
                   ImDrawCallback fill, const dashboard::Fixture* over, int age) {
  const int w = static_cast<int>(f.windowSize.x), h = static_cast<int>(f.windowSize.y);
  OffscreenTarget target(gl, w, h);
  if (!target.ok()) {
    std::fprintf(stderr, "quillmark-preview: no framebuffer for %s\n", f.name.c_str());
    return false;
  }
  target.bind();
  dashboard::detail::resetState();
  PartialRedraw redraw(fill, dashboard::kColBackground);
  double changed = 1.0;
  if (over != nullptr) {
    dashboard::Fixture first = *over;
    first.windowSize = f.windowSize;
    drawSettled(first, redraw, age);
    dashboard::detail::resetState();
    changed = drawSettled(f, redraw, age);
  } else {
    drawSettled(f, redraw, 0);
  }
  glFinish();
  const std::string path = dir + "/" + f.name + ".png";
  std::string error;
  if (!writePng(path, readFramebuffer(w, h, PixelImage::Format::Rgba), error)) {
    std::fprintf(stderr, "quillmark-preview: %s\n", error.c_str());
    return false;
  }
  if (over != nullptr) {
    std::printf("%s (%.0f %% drawn again over %s)\n", path.c_str(), 100 * changed,
                over->name.c_str());
  } else {
    std::printf("%s\n", path.c_str());
  }
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
  std::string over;        // --over NAME: each state drawn over that one, as the window does
  bool whole = false;      // --whole: with --over, every frame drawn whole
};

// The leading options, taken out of argv; false on a bad one.
bool takeOptions(int& argc, char** argv, Options& o) {
  int used = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--triangles") {
      o.triangles = true;
      used = i;
    } else if (arg == "--whole") {
      o.whole = true;
      used = i;
    } else if (arg == "--over" && i + 1 < argc) {
      o.over = argv[++i];
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
  FramebufferGl gl;
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
  const ImDrawCallback fill = options.triangles ? nullptr : glSolidFill;
  dashboard::setSolidFill(fill);
  std::optional<dashboard::Fixture> over;
  for (const dashboard::Fixture& f : dashboard::previewFixtures())
    if (f.name == options.over) over = f;
  if (!options.over.empty() && !over) {
    std::fprintf(stderr, "quillmark-preview: no state named %s\n", options.over.c_str());
    return 2;
  }

  int failures = 0;
  for (dashboard::Fixture f : dashboard::previewFixtures()) {
    if (options.size.x > 0) f.windowSize = options.size;
    if (wanted(f.name, argc, argv) &&
        !renderFixture(gl, f, dir, fill, over ? &*over : nullptr, options.whole ? 0 : 1))
      ++failures;
  }

  ImGui_ImplOpenGL3_Shutdown();
  ImGui::DestroyContext();
  glfwDestroyWindow(window);
  glfwTerminate();
  return failures == 0 ? 0 : 1;
}
