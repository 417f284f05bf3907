#pragma once

#include <cstdint>
#include <vector>

// Which font files the dashboard tries, most preferred first.
struct FontConfig {
  std::vector<const char*> cjkFonts;
  std::vector<const char*> symbolFonts;
  int32_t fontNo = 0;  // face index inside the CJK file (a .ttc holds several)
  const char* cjkMissingMessage = "";
  const char* symbolMissingMessage = "";
  // Face index inside the symbol file. Kept apart from fontNo: the CJK face
  // of a collection (e.g. 2 for the Simplified Chinese face of Noto CJK) does
  // not exist in a single-face symbol font, which then would not load.
  int32_t symbolFontNo = 0;
};

// The process-wide choice for this machine, asked from fontconfig once.
const FontConfig& platformFontConfig();
