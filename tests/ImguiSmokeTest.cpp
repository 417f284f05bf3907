// Dear ImGui runs headless in the tests: no platform or renderer backend,
// the atlas built by the library itself.
#include <gtest/gtest.h>
#include <imgui.h>

#include <cstdio>

#include "HeadlessImgui.h"

namespace {

const char* firstExisting(std::initializer_list<const char*> paths) {
  for (const char* p : paths) {
    if (FILE* f = std::fopen(p, "rb")) {
      std::fclose(f);
      return p;
    }
  }
  return nullptr;
}

}  // namespace

TEST(ImguiSmoke, DrawsAFrameWithTheCjkFontWhenPresent) {
  HeadlessImgui imgui;
  ImGuiIO& io = ImGui::GetIO();

  const char* cjk = firstExisting({"/usr/share/fonts/truetype/wqy/wqy-microhei.ttc",
                                   "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc"});
  ImFont* font = nullptr;
  if (cjk) {
    font = io.Fonts->AddFontFromFileTTF(cjk, 16.0f);
    ASSERT_NE(font, nullptr);
  }

  // A new window is hidden in its first frame while it measures itself.
  for (int frame = 0; frame < 2; ++frame) {
    ImGui::NewFrame();
    if (font) ImGui::PushFont(font, 21.0f);
    ImGui::Begin("smoke");
    ImGui::TextUnformatted("回报率 1000 Hz");
    ImGui::End();
    if (font) ImGui::PopFont();
    ImGui::Render();
  }

  ImDrawData* data = ImGui::GetDrawData();
  ASSERT_NE(data, nullptr);
  EXPECT_GT(data->TotalVtxCount, 0);
  if (font) {
    EXPECT_TRUE(font->IsGlyphInFont(0x7387));  // 率
  }
}
