#pragma once

// Dear ImGui with no platform or renderer backend: the library builds its own
// font atlas, frames are drawn into draw lists that nothing renders. One
// context per object; the tests and the benchmarks share it.
#include <imgui.h>

class HeadlessImgui {
 public:
  explicit HeadlessImgui(ImVec2 displaySize = ImVec2(1180, 820)) {
    IMGUI_CHECKVERSION();
    context_ = ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.BackendFlags |= ImGuiBackendFlags_RendererHasTextures;
    io.DisplaySize = displaySize;
    io.DeltaTime = 1.0f / 60.0f;
  }
  ~HeadlessImgui() { ImGui::DestroyContext(context_); }
  HeadlessImgui(const HeadlessImgui&) = delete;
  HeadlessImgui& operator=(const HeadlessImgui&) = delete;

 private:
  ImGuiContext* context_ = nullptr;
};
