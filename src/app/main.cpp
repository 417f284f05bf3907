// Quillmark's entry point: window and GL context, Dear ImGui, the HID
// monitor, then a self-paced frame loop until a quit; then the monitor is
// stopped before anything it feeds goes away.
#include <GLFW/glfw3.h>
#include <imgui.h>
#include <imgui_impl_glfw.h>
#include <imgui_impl_opengl3.h>
#include <imgui_internal.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include <unistd.h>

#include "QuillmarkVersion.h"
#include "app/BackBufferAge.h"
#include "app/ButtonsPageModel.h"
#include "app/DisplayFrame.h"
#include "app/DrawingPriority.h"
#include "app/FramePacer.h"
#include "app/FramebufferCapture.h"
#include "app/HiddenGlWindow.h"
#include "app/KeyShortcuts.h"
#include "app/PartialRedraw.h"
#include "app/PlatformActions.h"
#include "app/ProcessLaunch.h"
#include "app/QuitSignals.h"
#include "app/Shell.h"
#include "app/SolidFill.h"
#include "app/TestState.h"
#include "app/WindowGeometry.h"
#include "app/WindowSave.h"
#include "app/WindowVerdict.h"
#include "cli/Cli.h"
#include "dashboard/Dashboard.h"
#include "dashboard/DrawKit.h"
#include "dashboard/FontConfig.h"
#include "dashboard/Palette.h"
#include "i18n/Translate.h"
#include "results/FileWriter.h"

namespace {

std::string s_glfwError = "unknown error";
// Drawing runs this many nice steps below the HID thread.
constexpr int kDrawingNiceSteps = 5;
GlfwKeyFn s_imguiKeyCallback = nullptr;

void rememberGlfwError(int, const char* description) {
  s_glfwError = description ? description : "unknown error";
}

void onKey(GLFWwindow* window, int key, int scancode, int action, int mods) {
  routeKey(window, key, scancode, action, mods, s_imguiKeyCallback);
}

std::optional<Rect> primaryWorkArea() {
  GLFWmonitor* monitor = glfwGetPrimaryMonitor();
  if (monitor == nullptr) return std::nullopt;
  Rect r;
  glfwGetMonitorWorkarea(monitor, &r.x, &r.y, &r.width, &r.height);
  if (r.width <= 0 || r.height <= 0) return std::nullopt;
  return r;
}

// A hidden window with an OpenGL 3 core context, or null.
GLFWwindow* createWindow() {
  const std::optional<Rect> area = primaryWorkArea();
  const Rect first = area.value_or(kNoMonitorArea);
  GLFWwindow* window = createHiddenGlWindow(first.width, first.height, "Quillmark");
  if (window == nullptr) return nullptr;

  FrameExtents frame;
  glfwGetWindowFrameSize(window, &frame.left, &frame.top, &frame.right, &frame.bottom);
  const WindowPlacement place = placeWindow(area, frame);
  glfwSetWindowSizeLimits(window, place.minWidth, place.minHeight, GLFW_DONT_CARE, GLFW_DONT_CARE);
  glfwSetWindowSize(window, place.content.width, place.content.height);
  glfwSetWindowPos(window, place.content.x, place.content.y);
  return window;
}

void checkPermission() {
  const PermissionStatus before = HIDMonitor::permissionStatus();
  const bool granted = HIDMonitor::requestPermission();
  const PermissionStatus after = HIDMonitor::permissionStatus();
  g_lastPermissionCheck = ImGui::GetTime();
  std::fprintf(stderr, i18n::tr("[权限] 读取鼠标设备: %s -> %s (requestAccess=%s)\n"),
               permissionStatusName(before), permissionStatusName(after),
               granted ? "true" : "false");
  g_permission = after;
  if (after != PermissionStatus::Granted) std::fputs(permissionStartupText().c_str(), stderr);
}

void drawFrame(GLFWwindow* window, const DisplayFrame& frame, PartialRedraw& redraw,
               const BackBufferAge& age) {
  ImGui_ImplOpenGL3_NewFrame();
  ImGui_ImplGlfw_NewFrame();
  // The backend reads the two sizes at two moments; around a resize they
  // can pair a 1x1 window with a 2000x1500 framebuffer.
  ImGuiIO& io = ImGui::GetIO();
  io.DisplaySize = ImVec2(static_cast<float>(frame.width), static_cast<float>(frame.height));
  io.DisplayFramebufferScale = ImVec2(frame.scaleX, frame.scaleY);
  ImGui::NewFrame();
  drawUI();
  ImGui::Render();
  redraw.draw(*ImGui::GetDrawData(), frame.framebufferWidth, frame.framebufferHeight,
              age.beforeFrame());
  // A save asked for in this frame keeps the frame as drawn, before the swap.
  if (takeSaveRequest()) {
    saveWindowResult(readFramebuffer(frame.framebufferWidth, frame.framebufferHeight));
  }
  glfwSwapBuffers(window);
}

// Input reached Dear ImGui in this pump (keys, mouse, focus), or the
// window's size changed: something on the screen may change.
bool inputArrived(const std::optional<DisplayFrame>& frame, std::optional<DisplayFrame>& last) {
  const bool resized =
      frame && (!last || frame->width != last->width || frame->height != last->height ||
                frame->framebufferWidth != last->framebufferWidth);
  last = frame;
  return ImGui::GetCurrentContext()->InputEventsQueue.Size > 0 || resized;
}

// Dear ImGui's clock stands still between frames: its moments are placed on
// the loop's clock by the two clocks' readings at the last frame.
double s_frameLoopTime = 0.0;
double s_frameImguiTime = 0.0;

void noteFrameClocks(double loopTime) {
  s_frameLoopTime = loopTime;
  s_frameImguiTime = ImGui::GetTime();
}

// The next change on the screen that no event announces, in glfwGetTime
// seconds: a notice's end, the verdict line's next judgement or its
// arrival, the buttons page's countdown and stroke.
double nextTimedMoment(double now) {
  const double imguiNow = s_frameImguiTime + (now - s_frameLoopTime);
  const double imguiMoment =
      std::min(noticeEndsAt(), windowVerdictDueAt(imguiNow, g_testState != TestState::Idle));
  double moment = imguiMoment < 1e300 ? now + (imguiMoment - imguiNow) : 1e300;
  const auto steadyNow = std::chrono::steady_clock::now();
  if (const auto page = buttonsPage().nextChange(steadyNow))
    moment = std::min(moment, now + std::chrono::duration<double>(*page - steadyNow).count());
  return moment;
}

// While no test runs, waits for events up to the next timed moment; true
// when a frame is due now (an event came, or the moment is reached).
bool waitWhileIdle(const IdleSchedule& idle, double now, double wait) {
  glfwWaitEventsTimeout(wait);
  const double after = glfwGetTime();
  // Woken early: an event came (a key of the shell's own, a click, an
  // expose): one frame shows what it changed; input that reached Dear ImGui
  // also starts the settling frames (see inputArrived).
  if (after < now + wait - 0.002) return true;
  if (idle.waitBefore(after, false, nextTimedMoment(after)) <= 0.0) return true;
  // No frame yet; the rate history still takes its samples on time.
  advanceWithoutFrame();
  return false;
}

void runFrameLoop(GLFWwindow* window) {
  FramePacer pacer(glfwGetTime());
  IdleSchedule idle;
  std::optional<DisplayFrame> lastFrame;
  PartialRedraw redraw(glSolidFill, dashboard::kColBackground);
  const BackBufferAge age;
  while (!g_quitRequested) {
    const double now = glfwGetTime();
    const bool running = g_testState == TestState::Running;
    const double idleWait = idle.waitBefore(now, running, nextTimedMoment(now));
    bool due = true;
    if (idleWait > 0.0) {
      due = waitWhileIdle(idle, now, idleWait);
    } else {
      const double wait = pacer.waitBefore(now);
      if (wait > 0.0) std::this_thread::sleep_for(std::chrono::duration<double>(wait));
      pacer.begin(now);
      glfwPollEvents();
    }
    if (quitSignalReceived()) g_quitRequested = true;
    if (g_quitRequested || glfwWindowShouldClose(window)) break;
    if (!due) continue;

    // The framebuffer follows the window (and its content scale) every
    // frame; a minimised window has nothing to draw, nor has a frame caught
    // in the middle of a resize, and Dear ImGui time stands still meanwhile.
    const std::optional<DisplayFrame> frame = readDisplayFrame(window);
    if (inputArrived(frame, lastFrame)) idle.noteInput(glfwGetTime());
    if (frame && !glfwGetWindowAttrib(window, GLFW_ICONIFIED)) {
      const double start = glfwGetTime();
      drawFrame(window, *frame, redraw, age);
      noteFrameClocks(start);
    }
    idle.noteFrame(glfwGetTime());
    pacer.end();
  }
}

void shutDown(GLFWwindow* window) {
  stopMonitorBeforeExit();
  ImGui_ImplOpenGL3_Shutdown();
  ImGui_ImplGlfw_Shutdown();
  ImGui::DestroyContext(nullptr);
  glfwDestroyWindow(window);
  glfwTerminate();
}

// Any argument makes this the terminal program; no display is touched.
int runTerminal(int argc, char** argv) {
  // A reader that goes away (`measure | head`) makes a write fail, which is
  // reported; it must not end the program before the result files are written.
  std::signal(SIGPIPE, SIG_IGN);
  cli::Console console;
  console.liveLine = isatty(STDERR_FILENO) != 0;
  console.outClosed = results::standardOutputClosed();
  console.hidThreadStarted = [] {
    acceptQuitSignals();
    // Nothing is drawn here, but a busy host delays the reading thread too.
    raiseHIDThread();
  };
  console.stopRequested = quitSignalReceived;
  console.urgentStopNotice = setUrgentQuitNotice;
  console.endOnStopRequest = [] {
    endAtOnceOnQuitSignal(results::removePendingTemporaryFile, results::filesWrittenSoFar);
  };
  return cli::run(argc, argv, console);
}

}  // namespace

int main(int argc, char** argv) {
  results::guardStandardStreams();
  i18n::initTranslation(i18n::languageFromEnvironment());
  setLaunchArguments(argc, argv);
  installQuitSignals(results::removePendingTemporaryFile, results::filesWrittenCount);
  if (argc > 1) return runTerminal(argc, argv);
  installExitGuard();

  glfwSetErrorCallback(rememberGlfwError);
  if (!glfwInit()) {
    std::fprintf(stderr,
                 i18n::tr("[窗口] 窗口需要图形显示（%s）；在终端里测量请用 quillmark measure\n"),
                 s_glfwError.c_str());
    return 1;
  }
  GLFWwindow* window = createWindow();
  if (window == nullptr) {
    std::fputs("OpenGL is not supported.\n", stderr);
    glfwTerminate();
    return 1;
  }
  glfwMakeContextCurrent(window);
  glfwSwapInterval(0);  // the loop paces itself; vsync would be a second wait

  IMGUI_CHECKVERSION();
  ImGui::CreateContext(nullptr);
  ImGui::GetIO().IniFilename = nullptr;
  ImGui_ImplGlfw_InitForOpenGL(window, true);
  // The backend's key callback is now installed; put the shell in front of
  // it so the shell keys stop here and every other key goes on.
  s_imguiKeyCallback = glfwSetKeyCallback(window, onKey);
  if (!ImGui_ImplOpenGL3_Init("#version 150")) {
    std::fputs("OpenGL is not supported.\n", stderr);
    ImGui_ImplGlfw_Shutdown();
    ImGui::DestroyContext(nullptr);
    glfwDestroyWindow(window);
    glfwTerminate();
    return 1;
  }
  dashboard::init(platformFontConfig());
  dashboard::setSolidFill(glSolidFill);
  glfwShowWindow(window);
  glfwFocusWindow(window);

  std::fprintf(stderr, i18n::tr("[版本] %s\n"), quillmark::kVersionLine);
  checkPermission();
  connectMonitor();
  // The buttons page's news wakes a loop that waits for events.
  buttonsPage().wake = [] { glfwPostEmptyEvent(); };
  try {
    g_monitor.start();
  } catch (const std::system_error& e) {
    std::fprintf(stderr, i18n::tr("[HID] 无法启动 HID 线程：%s\n"), e.what());
    shutDown(window);
    return 1;
  }
  acceptQuitSignals();
  yieldToHIDThread(kDrawingNiceSteps);
  raiseHIDThread();

  runFrameLoop(window);
  shutDown(window);
  return 0;
}
