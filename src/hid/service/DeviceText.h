#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace hidservice {

// The longest device string kept, in bytes, not counting a terminator.
inline constexpr size_t kMaxDeviceTextBytes = 255;

// Undoes udev's \xNN escapes (as in ID_MODEL_ENC); other text is kept.
std::string decodeUdevEscapes(std::string_view text);

// Device text as the program shows it: invalid UTF-8 sequences and control
// characters become U+FFFD, surrounding blanks are trimmed, and the result
// is cut at a character boundary to at most maxBytes bytes.
std::string cleanDeviceText(std::string_view text, size_t maxBytes = kMaxDeviceTextBytes);

}  // namespace hidservice
