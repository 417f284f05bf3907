#pragma once

#include <GLFW/glfw3.h>

// A window that is not shown yet, with an OpenGL 3.2 core (forward-compatible)
// context, or null when GLFW cannot make one. glfwInit must have succeeded.
// Used by the program and the dashboard preview tool.
GLFWwindow* createHiddenGlWindow(int width, int height, const char* title);
