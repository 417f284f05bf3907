// Font choice and loading.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "DashboardHarness.h"
#include "dashboard/DrawKit.h"
#include "i18n/Translate.h"

namespace dashboard {
namespace {

constexpr const char* kCjkMessage = "[dashboard] no CJK\n";
constexpr const char* kSymbolMessage = "[dashboard] no symbols\n";
constexpr const char* kMissing = "/nonexistent/quillmark/font.ttc";

// A real font of the machine for the cases that load one.
const char* systemFont(const std::vector<const char*>& candidates) {
  for (const char* path : candidates)
    if (FILE* f = std::fopen(path, "rb")) {
      std::fclose(f);
      return path;
    }
  return nullptr;
}

FontConfig config(std::vector<const char*> cjk, std::vector<const char*> sym, int fontNo = 0,
                  int symbolNo = 0) {
  FontConfig c;
  c.cjkFonts = std::move(cjk);
  c.symbolFonts = std::move(sym);
  c.fontNo = fontNo;
  c.symbolFontNo = symbolNo;
  c.cjkMissingMessage = kCjkMessage;
  c.symbolMissingMessage = kSymbolMessage;
  return c;
}

struct Loaded {
  std::string stderrText;
  int fontCount;
  int bodySources;
  std::string bodyName;
  bool allHandles;
  bool defaultIsBody;
};

Loaded load(const FontConfig& c) {
  HeadlessImgui imgui;
  ::testing::internal::CaptureStderr();
  init(c);
  Loaded r{::testing::internal::GetCapturedStderr(),
           ImGui::GetIO().Fonts->Fonts.Size,
           0,
           "",
           false,
           false};
  const Fonts& f = fonts();
  r.allHandles = f.huge && f.large && f.body && f.small;
  if (f.body) {
    r.bodySources = f.body->Sources.Size;
    r.bodyName = f.body->Sources[0]->Name;
    r.defaultIsBody = ImGui::GetIO().FontDefault == f.body;
  }
  return r;
}

TEST(DashboardFonts, NeitherFileFoundPrintsBothMessagesAndLoadsNothing) {
  const Loaded r = load(config({kMissing, kMissing}, {kMissing}));
  EXPECT_EQ(r.stderrText, std::string(kCjkMessage) + kSymbolMessage);
  EXPECT_EQ(r.fontCount, 0);
  EXPECT_FALSE(fonts().huge || fonts().large || fonts().body || fonts().small);
}

TEST(DashboardFonts, WithoutCjkNotEvenTheSymbolFontIsLoaded) {
  const char* sym = systemFont(platformFontConfig().symbolFonts);
  if (!sym) GTEST_SKIP() << "no symbol font on this machine";
  const Loaded r = load(config({kMissing}, {sym}));
  EXPECT_EQ(r.stderrText, kCjkMessage);
  EXPECT_EQ(r.fontCount, 0);
}

std::string baseName(const char* path) {
  return std::string(path).substr(std::string(path).rfind('/') + 1).substr(0, 20);
}

// Chinese texts are drawn in the CJK font with the symbol font merged in;
// English ones in the symbol font (a Latin one) with the CJK font merged in
// for devices' Chinese names.
TEST(DashboardFonts, FirstReadableCjkCandidateGivesAllFourFonts) {
  const FontConfig& platform = platformFontConfig();
  const char* cjk = systemFont(platform.cjkFonts);
  const char* sym = systemFont(platform.symbolFonts);
  if (!cjk || !sym) GTEST_SKIP() << "no CJK or symbol font on this machine";
  for (const auto& [language, bodyFont] :
       {std::pair{i18n::Language::Chinese, cjk}, std::pair{i18n::Language::English, sym}}) {
    i18n::initTranslation(language);
    const Loaded r = load(
        config({kMissing, kMissing, cjk}, {kMissing, sym}, platform.fontNo, platform.symbolFontNo));
    EXPECT_EQ(r.stderrText, "");
    EXPECT_EQ(r.fontCount, 4);
    EXPECT_TRUE(r.allHandles);
    EXPECT_TRUE(r.defaultIsBody);
    EXPECT_EQ(r.bodySources, 2) << "the other font merged into the body font";
    EXPECT_EQ(r.bodyName.rfind(baseName(bodyFont), 0), 0u) << r.bodyName;
  }
  i18n::initTranslation(i18n::Language::Chinese);
}

TEST(DashboardFonts, MissingSymbolFileOnlyWarns) {
  const char* cjk = systemFont(platformFontConfig().cjkFonts);
  if (!cjk) GTEST_SKIP() << "no CJK font on this machine";
  const Loaded r = load(config({cjk}, {kMissing}, platformFontConfig().fontNo));
  EXPECT_EQ(r.stderrText, kSymbolMessage);
  EXPECT_EQ(r.fontCount, 4);
  EXPECT_EQ(r.bodySources, 1);
}

TEST(DashboardFonts, PlatformChoiceFallsBackToDebianPackagesWithTaggedMessages) {
  const FontConfig& c = platformFontConfig();
  auto lists = [](const std::vector<const char*>& v, const std::string& path) {
    for (const char* p : v)
      if (path == p) return true;
    return false;
  };
  EXPECT_TRUE(lists(c.cjkFonts, "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"));
  EXPECT_TRUE(lists(c.cjkFonts, "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc"));
  EXPECT_TRUE(lists(c.symbolFonts, "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"));
  EXPECT_EQ(std::string(c.cjkMissingMessage).rfind("[dashboard] ", 0), 0u);
  EXPECT_NE(std::string(c.cjkMissingMessage).find("fonts-noto-cjk"), std::string::npos);
  EXPECT_NE(std::string(c.symbolMissingMessage).find("fonts-dejavu-core"), std::string::npos);
}

// The machine's own choice loads and draws a frame with Chinese glyphs, in
// both languages (an English window shows a device's Chinese name).
TEST(DashboardFonts, PlatformFontsDrawChinese) {
  if (!systemFont(platformFontConfig().cjkFonts)) GTEST_SKIP() << "no CJK font on this machine";
  for (const auto& [language, said] : {std::pair{i18n::Language::Chinese, "测试中"},
                                       std::pair{i18n::Language::English, "Testing"}}) {
    i18n::initTranslation(language);
    testing::Harness h(ImVec2(1280, 820), platformFontConfig());
    ASSERT_NE(fonts().small, nullptr);
    EXPECT_TRUE(fonts().small->IsGlyphInFont(0x7387));  // 率
    EXPECT_TRUE(
        fonts().small->IsGlyphInFont(0x26A0));  // ⚠, from the symbol font if the CJK font lacks it
    UiState ui;
    ui.testState = 1;
    EXPECT_NE(h.text(ui).find(said), std::string::npos);
  }
  i18n::initTranslation(i18n::Language::Chinese);
}

// Ink height in pixels of one character drawn with a role's font and size.
float inkHeight(ImFont* font, float size, unsigned int c) {
  ImGui::NewFrame();
  float h = 0;
  {
    FontScope scope(font, size);
    const ImFontGlyph* g = ImGui::GetFontBaked()->FindGlyph(static_cast<ImWchar>(c));
    h = g ? g->Y1 - g->Y0 : 0;
  }
  ImGui::EndFrame();
  return h;
}

// A text of one role looks the same size in both languages: Chinese glyphs
// in an English window as in a Chinese one, and the English window's Latin
// letters as the Chinese window's (the CJK font's own Latin letters).
TEST(DashboardFonts, OneRoleOneApparentSizeInBothLanguages) {
  if (!systemFont(platformFontConfig().cjkFonts) || !systemFont(platformFontConfig().symbolFonts))
    GTEST_SKIP() << "no CJK or symbol font on this machine";
  struct Sizes {
    float guo, capital;
  };
  Sizes measured[2][2] = {};  // [language][small, body]
  for (int l = 0; l < 2; ++l) {
    i18n::initTranslation(l == 0 ? i18n::Language::Chinese : i18n::Language::English);
    testing::Harness h(ImVec2(1280, 820), platformFontConfig());
    for (int role = 0; role < 2; ++role) {
      ImFont* font = role == 0 ? fonts().small : fonts().body;
      const float size = role == 0 ? 13.0f : 16.0f;
      measured[l][role] = {inkHeight(font, size, 0x56FD), inkHeight(font, size, 'H')};  // 国
    }
  }
  i18n::initTranslation(i18n::Language::Chinese);
  for (int role = 0; role < 2; ++role) {
    SCOPED_TRACE(role == 0 ? "small" : "body");
    const Sizes zh = measured[0][role], en = measured[1][role];
    ASSERT_GT(zh.guo, 0);
    EXPECT_NEAR(en.guo, zh.guo, 1.0f);
    EXPECT_NEAR(en.capital, zh.capital, zh.capital * 0.08f);
  }
}

}  // namespace
}  // namespace dashboard
