#include "results/TextFormat.h"

#include <cstdint>
#include <cstdio>

namespace results {

namespace {

constexpr char32_t kInvalid = 0xFFFFFFFF;
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The code point of the UTF-8 sequence at text[i] and its length; kInvalid
// with length 1 for a byte that does not start a valid sequence (overlong
// forms, surrogates and values above U+10FFFF included).
char32_t decode(std::string_view text, std::size_t i, std::size_t& length) {
  length = 1;
  const auto b0 = static_cast<uint8_t>(text[i]);
  if (b0 < 0x80) return b0;
  std::size_t n = 0;
  char32_t cp = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2, cp = b0 & 0x1Fu;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3, cp = b0 & 0x0Fu;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4, cp = b0 & 0x07u;
  } else {
    return kInvalid;
  }
  if (i + n > text.size()) return kInvalid;
  for (std::size_t k = 1; k < n; ++k) {
    const auto b = static_cast<uint8_t>(text[i + k]);
    if ((b & 0xC0) != 0x80) return kInvalid;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
      (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
    return kInvalid;
  }
  length = n;
  return cp;
}

bool leftOut(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E) ||
         (cp >= 0x2066 && cp <= 0x2069) || cp == 0xFFFE || cp == 0xFFFF;
}

}  // namespace

void appendFormatV(std::string& out, const char* format, va_list args) {
  char buf[256];
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(buf, sizeof buf, format, args);
  if (n > 0 && static_cast<std::size_t>(n) < sizeof buf) {
    out.append(buf, static_cast<std::size_t>(n));
  } else if (n > 0) {
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data() + at, static_cast<std::size_t>(n) + 1, format, again);
    out.resize(at + static_cast<std::size_t>(n));
  }
  va_end(again);
}

void appendFormat(std::string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  appendFormatV(out, format, args);
  va_end(args);
}

std::string plainText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
    const char32_t cp = decode(text, i, length);
    if (cp == kInvalid) {
      out += kReplacement;
    } else if (!leftOut(cp)) {
      out.append(text.substr(i, length));
    }
  }
  return out;
}

std::string pathText(std::string_view path) {
  std::string escaped;
  for (const char c : path) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\t') {
      escaped += "\\t";
    } else if (u < 0x20 || u == 0x7f) {
      appendFormat(escaped, "\\x%02x", u);
    } else {
      escaped += c;
    }
  }
  return plainText(escaped);
}

std::string xmlText(std::string_view text) {
  std::string out;
  for (const char c : plainText(text)) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

int displayColumns(std::string_view text) {
  int n = 0;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c & 0xC0) != 0x80) n += c >= 0xE3 ? 2 : 1;
  }
  return n;
}

std::string cutToColumns(std::string_view text, int columns) {
  if (displayColumns(text) <= columns) return std::string(text);
  std::string out;
  int used = 0;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t next = i + 1;
    while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
    used += displayColumns(text.substr(i, next - i));
    if (used > columns - 1) break;  // a column for the ellipsis
    out += text.substr(i, next - i);
    i = next;
  }
  return out + "…";
}

std::string shownValue(std::string_view text) {
  constexpr int kMostColumns = 80;
  return cutToColumns(pathText(text.substr(0, 4 * kMostColumns + 4)), kMostColumns);
}

}  // namespace results
