#pragma once

struct GLFWwindow;
using GlfwKeyFn = void (*)(GLFWwindow*, int, int, int, int);

// The keys of the shell, by key position (GLFW key tokens name the
// positions of the US layout, whatever the layout types there).
enum class ShellKey {
  None,
  Start,  // S: start or continue
  Pause,  // P
  Reset,  // R
  Save,   // E: save the result
  Page,   // B: the buttons and CPI page, and back
  Quit,   // Escape
};

ShellKey shellKeyFor(int glfwKey);

// Acts on one key event: every press and repeat of a shell key counts (E
// only its press), modifiers are not looked at. Returns true when the key is a shell key
// (consumed in every state and for every action, release included).
bool handleShellKey(int glfwKey, int action);

// Routes one GLFW key event: shell keys to the shell, every other key
// unchanged to `next` (the Dear ImGui backend's callback).
void routeKey(GLFWwindow* window, int key, int scancode, int action, int mods, GlfwKeyFn next);
