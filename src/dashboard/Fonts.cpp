// dashboard::init: fonts and the dark theme.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "dashboard/Dashboard.h"
#include "dashboard/DrawKit.h"
#include "i18n/Translate.h"

namespace dashboard {
namespace {

// Merged from the symbol font into the two text fonts.
constexpr ImWchar kSymbolRanges[] = {
    0x00A0, 0x00FF, 0x2000, 0x206F, 0x2190, 0x21FF, 0x2200, 0x22FF, 0x2500,
    0x257F, 0x25A0, 0x25FF, 0x2600, 0x27BF, 0x3000, 0x303F, 0,
};

// Common simplified Chinese plus the symbols the interface uses.
const ImWchar* glyphRanges(ImFontAtlas* atlas) {
  static ImVector<ImWchar> s_ranges;  // must outlive every font that uses it
  if (s_ranges.empty()) {
    ImFontGlyphRangesBuilder builder;
    builder.AddRanges(atlas->GetGlyphRangesChineseSimplifiedCommon());
    builder.AddText("●○◆▴▾░█×°µ–—…›→↑↓≥≤⚠");
    builder.BuildRanges(&s_ranges);
  }
  return s_ranges.Data;
}

const char* firstOpenable(const std::vector<const char*>& paths) {
  for (const char* path : paths) {
    if (path == nullptr) continue;
    if (FILE* f = std::fopen(path, "rb")) {
      std::fclose(f);
      return path;
    }
  }
  return nullptr;
}

// Font files mapped read-only, once per process, shared by every size that
// is loaded from them: Dear ImGui draws glyphs on demand and keeps reading a
// font's bytes, so only the pages of the glyphs drawn are ever resident (a
// copy per size kept four whole copies of a 19 MB CJK collection). Never
// unmapped, as an atlas may outlive init().
struct FontBytes {
  std::string path;
  void* data = nullptr;
  size_t size = 0;
};
constexpr size_t kMaxMappedFonts = 8;
std::array<FontBytes, kMaxMappedFonts> s_mapped;
// The data pointers alone, read by the free function from any thread.
std::array<std::atomic<const void*>, kMaxMappedFonts> s_mappedData{};

bool isMappedFont(const void* p) {
  for (const auto& data : s_mappedData)
    if (p != nullptr && data.load(std::memory_order_relaxed) == p) return true;
  return false;
}

// Dear ImGui 1.92 copies font data it does not own; it gets the mapping as
// its own, and its free function leaves mappings alone.
ImGuiMemAllocFunc s_nextAlloc = nullptr;
ImGuiMemFreeFunc s_nextFree = nullptr;
void* s_nextUserData = nullptr;

void* allocate(size_t size, void*) { return s_nextAlloc(size, s_nextUserData); }
void release(void* p, void*) {
  if (!isMappedFont(p)) s_nextFree(p, s_nextUserData);
}

void keepMappingsFromFree() {
  static bool s_installed = false;
  if (s_installed) return;
  s_installed = true;
  ImGui::GetAllocatorFunctions(&s_nextAlloc, &s_nextFree, &s_nextUserData);
  ImGui::SetAllocatorFunctions(allocate, release, nullptr);
}

// Null when the file cannot be mapped (or too many are).
const FontBytes* mappedFont(const char* path) {
  size_t slot = 0;
  while (slot < kMaxMappedFonts && s_mapped[slot].data != nullptr) {
    if (s_mapped[slot].path == path) return &s_mapped[slot];
    ++slot;
  }
  if (slot == kMaxMappedFonts) return nullptr;
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  void* data = MAP_FAILED;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && st.st_size < INT32_MAX)
    data = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (data == MAP_FAILED) return nullptr;
  s_mapped[slot] = FontBytes{path, data, static_cast<size_t>(st.st_size)};
  s_mappedData[slot].store(data, std::memory_order_relaxed);
  return &s_mapped[slot];
}

uint32_t bigEndian(const uint8_t* p, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

// (hhea ascent - descent) / head unitsPerEm of face `fontNo` of a TrueType
// or OpenType file or collection: the ratio by which Dear ImGui's size (the
// line height) exceeds the em. 1 when the tables cannot be read.
float readLinePerEm(const uint8_t* data, size_t size, int fontNo) {
  if (size < 12) return 1.0f;
  size_t face = 0;
  if (bigEndian(data, 4) == 0x74746366) {  // 'ttcf'
    const size_t entry = 12 + 4 * static_cast<size_t>(fontNo);
    if (entry + 4 > size || static_cast<uint32_t>(fontNo) >= bigEndian(data + 8, 4)) return 1.0f;
    face = bigEndian(data + entry, 4);
  }
  if (face + 12 > size) return 1.0f;
  const size_t tables = bigEndian(data + face + 4, 2);
  size_t head = 0, hhea = 0;
  for (size_t i = 0; i < tables; ++i) {
    const size_t rec = face + 12 + 16 * i;
    if (rec + 16 > size) return 1.0f;
    const uint32_t tag = bigEndian(data + rec, 4), at = bigEndian(data + rec + 8, 4);
    if (tag == 0x68656164) head = at;  // 'head'
    if (tag == 0x68686561) hhea = at;  // 'hhea'
  }
  if (head == 0 || hhea == 0 || head + 20 > size || hhea + 8 > size) return 1.0f;
  const float em = static_cast<float>(bigEndian(data + head + 18, 2));
  const auto ascent = static_cast<int16_t>(bigEndian(data + hhea + 4, 2));
  const auto descent = static_cast<int16_t>(bigEndian(data + hhea + 6, 2));
  const float line = static_cast<float>(ascent - descent);
  return em > 0 && line > 0 ? line / em : 1.0f;
}

float linePerEmOf(const char* path, int fontNo) {
  const FontBytes* bytes = mappedFont(path);
  return bytes ? readLinePerEm(static_cast<const uint8_t*>(bytes->data), bytes->size, fontNo)
               : 1.0f;
}

ImFont* addFont(const char* path, float size, int fontNo, const ImWchar* ranges, bool merge) {
  ImFontConfig cfg;
  cfg.FontNo = fontNo;
  cfg.MergeMode = merge;
  ImFontAtlas* atlas = ImGui::GetIO().Fonts;
  const FontBytes* bytes = mappedFont(path);
  if (bytes == nullptr) return atlas->AddFontFromFileTTF(path, size, &cfg, ranges);
  keepMappingsFromFree();
  // Named after the file, as a font loaded from the file is.
  const char* base = std::strrchr(path, '/');
  std::snprintf(cfg.Name, sizeof cfg.Name, "%s", base != nullptr ? base + 1 : path);
  cfg.FontDataOwnedByAtlas = true;  // no copy; see release()
  return atlas->AddFontFromMemoryTTF(bytes->data, static_cast<int>(bytes->size), size, &cfg,
                                     ranges);
}

// A text font. Chinese texts take the CJK font, with the symbols it lacks
// from the symbol font. English texts take the symbol font (DejaVu Sans, a
// Latin font) with every glyph it lacks, such as a device's Chinese name,
// from the CJK font.
// Every text at the CJK font's em for its size: a merged font's size is
// scaled by the ratio of the two fonts' lines per em, so its glyphs match
// the main font's, and the English font is pushed smaller (setSizeScale).
ImFont* addTextFont(const FontConfig& config, const char* cjk, const char* sym, float size) {
  const float cjkLine = linePerEmOf(cjk, config.fontNo);
  const float symLine = sym ? linePerEmOf(sym, config.symbolFontNo) : 1.0f;
  if (sym && i18n::currentLanguage() == i18n::Language::English) {
    ImFont* font = addFont(sym, size, config.symbolFontNo, nullptr, false);
    addFont(cjk, size * cjkLine / symLine, config.fontNo, nullptr, true);
    setSizeScale(font, symLine / cjkLine);
    return font;
  }
  ImFont* font = addFont(cjk, size, config.fontNo, glyphRanges(ImGui::GetIO().Fonts), false);
  if (sym) addFont(sym, size * symLine / cjkLine, config.symbolFontNo, kSymbolRanges, true);
  return font;
}

void loadFonts(const FontConfig& config, const char* cjk, const char* sym) {
  Fonts& f = fonts();
  f.huge = addFont(cjk, 92, config.fontNo, nullptr, false);
  f.large = addFont(cjk, 30, config.fontNo, nullptr, false);
  f.body = addTextFont(config, cjk, sym, 16);
  f.small = addTextFont(config, cjk, sym, 13);
}

void applyTheme() {
  ImGui::StyleColorsDark();
  ImGuiStyle& s = ImGui::GetStyle();
  s.WindowRounding = s.ChildRounding = 0;
  s.FrameRounding = s.PopupRounding = s.ScrollbarRounding = s.GrabRounding = 6;
  s.FramePadding = ImVec2(12, 8);
  s.ItemSpacing = ImVec2(10, 10);
  ImVec4* c = s.Colors;
  c[ImGuiCol_Text] = ImVec4(0.90f, 0.92f, 0.94f, 1.00f);
  c[ImGuiCol_TextDisabled] = ImVec4(0.45f, 0.48f, 0.53f, 1.00f);
  c[ImGuiCol_WindowBg] = ImVec4(0.055f, 0.059f, 0.067f, 1.00f);
  c[ImGuiCol_ChildBg] = ImVec4(0, 0, 0, 0);
  c[ImGuiCol_PopupBg] = ImVec4(0.09f, 0.10f, 0.12f, 0.98f);
  c[ImGuiCol_Border] = c[ImGuiCol_Separator] = ImVec4(0.16f, 0.18f, 0.21f, 1.00f);
  c[ImGuiCol_FrameBg] = ImVec4(0.11f, 0.12f, 0.14f, 1.00f);
  c[ImGuiCol_FrameBgHovered] = ImVec4(0.15f, 0.17f, 0.20f, 1.00f);
  c[ImGuiCol_FrameBgActive] = ImVec4(0.18f, 0.20f, 0.24f, 1.00f);
  c[ImGuiCol_Button] = ImVec4(0.14f, 0.16f, 0.19f, 1.00f);
  c[ImGuiCol_ButtonHovered] = ImVec4(0.20f, 0.23f, 0.27f, 1.00f);
  c[ImGuiCol_ButtonActive] = ImVec4(0.00f, 0.50f, 0.66f, 1.00f);
  c[ImGuiCol_Header] = ImVec4(0.00f, 0.45f, 0.60f, 0.55f);
  c[ImGuiCol_HeaderHovered] = ImVec4(0.00f, 0.55f, 0.72f, 0.65f);
  c[ImGuiCol_HeaderActive] = ImVec4(0.00f, 0.60f, 0.78f, 0.80f);
  c[ImGuiCol_CheckMark] = c[ImGuiCol_SliderGrab] = c[ImGuiCol_TextLink] =
      ImVec4(0.00f, 0.76f, 1.00f, 1.00f);
}

}  // namespace

void init(const FontConfig& config) {
  const char* cjk = firstOpenable(config.cjkFonts);
  const char* sym = firstOpenable(config.symbolFonts);
  if (!cjk && config.cjkMissingMessage) std::fputs(config.cjkMissingMessage, stderr);
  if (!sym && config.symbolMissingMessage) std::fputs(config.symbolMissingMessage, stderr);
  fonts() = Fonts{};
  clearSizeScales();
  if (cjk) loadFonts(config, cjk, sym);
  if (fonts().body) ImGui::GetIO().FontDefault = fonts().body;
  applyTheme();
}

}  // namespace dashboard
