// Font files on Linux: fontconfig first, then the Debian packages' paths.
#include "dashboard/FontConfig.h"

#include <fontconfig/fontconfig.h>

#include <cstdio>
#include <deque>
#include <optional>
#include <string>

#include "i18n/Translate.h"

namespace {

struct FontFile {
  std::string path;
  int index = 0;  // face inside a collection
};

constexpr const char* kWqyMicroHei = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";
constexpr const char* kNotoSansCjk = "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc";
constexpr int kNotoSansCjkScFace = 2;  // the Simplified Chinese face of the collection
constexpr const char* kDejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// The symbols the interface draws; a symbol font must have all of them.
constexpr FcChar32 kSymbols[] = {0x25CF, 0x25CB, 0x25C6, 0x25B4, 0x25BE, 0x2591, 0x2588,
                                 0x00D7, 0x00B0, 0x00B5, 0x2013, 0x2014, 0x2026, 0x203A,
                                 0x2192, 0x2191, 0x2193, 0x2265, 0x2264, 0x26A0};

// Dear ImGui's loader reads TrueType and CFF outlines only.
bool loadableFormat(FcPattern* font) {
  FcChar8* format = nullptr;
  if (FcPatternGetString(font, FC_FONTFORMAT, 0, &format) != FcResultMatch) return false;
  const std::string f(reinterpret_cast<const char*>(format));
  return f == "TrueType" || f == "CFF";
}

bool speaksSimplifiedChinese(FcPattern* font) {
  FcLangSet* langs = nullptr;
  if (FcPatternGetLangSet(font, FC_LANG, 0, &langs) != FcResultMatch) return false;
  return FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>("zh-cn")) == FcLangEqual;
}

bool hasAllSymbols(FcPattern* font) {
  FcCharSet* chars = nullptr;
  if (FcPatternGetCharSet(font, FC_CHARSET, 0, &chars) != FcResultMatch) return false;
  for (FcChar32 c : kSymbols)
    if (!FcCharSetHasChar(chars, c)) return false;
  return true;
}

// The best font for the pattern, in fontconfig's order, that passes the test.
template <typename Accept>
std::optional<FontFile> bestFont(FcPattern* pattern, Accept accept) {
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcFontSet* set = FcFontSort(nullptr, pattern, FcFalse, nullptr, &result);
  std::optional<FontFile> found;
  for (int i = 0; set && i < set->nfont && !found; ++i) {
    FcPattern* font = set->fonts[i];
    FcChar8* file = nullptr;
    int index = 0;
    if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) continue;
    FcPatternGetInteger(font, FC_INDEX, 0, &index);
    if (loadableFormat(font) && accept(font))
      found = FontFile{reinterpret_cast<const char*>(file), index};
  }
  if (set) FcFontSetDestroy(set);
  return found;
}

std::optional<FontFile> fontconfigCjk() {
  FcPattern* p = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif:lang=zh-cn"));
  if (!p) return std::nullopt;
  auto found = bestFont(p, speaksSimplifiedChinese);
  FcPatternDestroy(p);
  return found;
}

std::optional<FontFile> fontconfigSymbols() {
  FcPattern* p = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
  if (!p) return std::nullopt;
  FcCharSet* chars = FcCharSetCreate();
  for (FcChar32 c : kSymbols) FcCharSetAddChar(chars, c);
  FcPatternAddCharSet(p, FC_CHARSET, chars);
  FcCharSetDestroy(chars);
  auto found = bestFont(p, hasAllSymbols);
  FcPatternDestroy(p);
  return found;
}

bool readable(const std::string& path) {
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    std::fclose(f);
    return true;
  }
  return false;
}

// Candidate paths go into `out` (which owns the strings); returns the face
// index of the first candidate that can be read, 0 if none.
int addCandidates(std::deque<std::string>& store, std::vector<const char*>& out,
                  std::optional<FontFile> best, std::initializer_list<FontFile> fallbacks) {
  std::vector<FontFile> all;
  if (best) all.push_back(*best);
  all.insert(all.end(), fallbacks);
  int face = -1;
  for (const FontFile& f : all) {
    bool seen = false;
    for (const char* p : out) seen = seen || f.path == p;
    if (seen) continue;
    out.push_back(store.emplace_back(f.path).c_str());
    if (face < 0 && readable(f.path)) face = f.index;
  }
  return face < 0 ? 0 : face;
}

struct PlatformFonts {
  std::deque<std::string> paths;  // owns the strings the config points at
  FontConfig config;

  PlatformFonts() {
    const bool fc = FcInit();
    config.fontNo = addCandidates(paths, config.cjkFonts, fc ? fontconfigCjk() : std::nullopt,
                                  {{kWqyMicroHei, 0}, {kNotoSansCjk, kNotoSansCjkScFace}});
    config.symbolFontNo = addCandidates(
        paths, config.symbolFonts, fc ? fontconfigSymbols() : std::nullopt, {{kDejaVuSans, 0}});
    config.cjkMissingMessage = i18n::tr(
        "[dashboard] 未找到 CJK 字体，中文将显示为空白。请安装 fonts-noto-cjk 或 "
        "fonts-wqy-microhei\n");
    config.symbolMissingMessage = i18n::tr(
        "[dashboard] 未找到 DejaVuSans.ttf，符号字形（⚠ › 等）可能显示为方框。请安装 "
        "fonts-dejavu-core\n");
  }
};

}  // namespace

const FontConfig& platformFontConfig() {
  static const PlatformFonts s_fonts;
  return s_fonts.config;
}
