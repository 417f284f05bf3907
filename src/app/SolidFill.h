#pragma once

#include <imgui.h>

// The dashboard's solid fill (dashboard::setSolidFill) under OpenGL: each
// rectangle cleared through a scissor, to the pixels a triangle fill would
// cover. Runs inside ImGui_ImplOpenGL3_RenderDrawData; the backend sets its
// own scissor again for the next command.
void glSolidFill(const ImDrawList* list, const ImDrawCmd* cmd);
