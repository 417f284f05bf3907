#pragma once

#include <string_view>

// The one way numbers are written on the command line and in the
// environment's variables: decimal digits, with a fraction after a point
// where a fraction is allowed; leading zeros are only zeros. No sign,
// exponent, "inf" or hexadecimal: "0x10" and "1e3" are refused rather than
// read one way by one option and another way by the next.
namespace decimal {

inline bool isDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// "10", "0.5", ".5" or "5."; not "." alone.
inline bool isNumber(std::string_view text) {
  const std::size_t dot = text.find('.');
  if (dot == std::string_view::npos) return isDigits(text);
  const std::string_view whole = text.substr(0, dot);
  const std::string_view fraction = text.substr(dot + 1);
  return (whole.empty() || isDigits(whole)) && (fraction.empty() || isDigits(fraction)) &&
         !(whole.empty() && fraction.empty());
}

}  // namespace decimal
