#include "app/KeyShortcuts.h"

#include <GLFW/glfw3.h>

#include "app/Shell.h"
#include "app/WindowSave.h"

ShellKey shellKeyFor(int glfwKey) {
  switch (glfwKey) {
    case GLFW_KEY_S:
      return ShellKey::Start;
    case GLFW_KEY_P:
      return ShellKey::Pause;
    case GLFW_KEY_R:
      return ShellKey::Reset;
    case GLFW_KEY_E:
      return ShellKey::Save;
    case GLFW_KEY_B:
      return ShellKey::Page;
    case GLFW_KEY_ESCAPE:
      return ShellKey::Quit;
    default:
      return ShellKey::None;
  }
}

bool handleShellKey(int glfwKey, int action) {
  const ShellKey key = shellKeyFor(glfwKey);
  if (key == ShellKey::None) return false;
  if (action != GLFW_PRESS && action != GLFW_REPEAT) return true;
  switch (key) {
    case ShellKey::Start:
      requestStart();
      break;
    case ShellKey::Pause:
      requestPause();
      break;
    case ShellKey::Reset:
      requestReset();
      break;
    case ShellKey::Save:
      // Held down, E saves once: a repeat would write folder after folder.
      if (action == GLFW_PRESS) requestSave();
      break;
    case ShellKey::Page:
      if (action == GLFW_PRESS) toggleButtonsPage();  // held down, it switches once
      break;
    case ShellKey::Quit:
      g_quitRequested = true;
      break;
    case ShellKey::None:
      break;
  }
  return true;
}

void routeKey(GLFWwindow* window, int key, int scancode, int action, int mods, GlfwKeyFn next) {
  if (handleShellKey(key, action)) return;
  if (next != nullptr) next(window, key, scancode, action, mods);
}
