#pragma once

#include <string>
#include <string_view>

// The first Chinese, Japanese or Korean character of a text (ideographs,
// kana, hangul, CJK punctuation and full-width forms), empty when it has
// none: what an English screen or file must not show outside device names.
inline std::string firstCjk(std::string_view text) {
  for (std::size_t i = 0; i + 2 < text.size(); ++i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if ((b0 & 0xF0) != 0xE0) continue;
    const char32_t cp =
        (static_cast<char32_t>(b0 & 0x0F) << 12) |
        (static_cast<char32_t>(static_cast<unsigned char>(text[i + 1]) & 0x3F) << 6) |
        (static_cast<unsigned char>(text[i + 2]) & 0x3F);
    if ((cp >= 0x2E80 && cp <= 0x9FFF) || (cp >= 0xAC00 && cp <= 0xD7AF) ||
        (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFF00 && cp <= 0xFFEF)) {
      return std::string(text.substr(i, 3));
    }
  }
  return {};
}
