#pragma once

#include <array>
#include <charconv>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "i18n/Translate.h"
#include "results/TextFormat.h"

// Small parsers for the fields of text recordings: whole numbers and
// decimal seconds or microseconds turned exactly into nanoseconds, never
// through floating point. Plain functions; any thread.
namespace recordings {

inline std::optional<int64_t> parseInteger(std::string_view text, int base = 10) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return v;
}

// "12.345678": a decimal number of a
// unit worth `unitNs` nanoseconds, e.g. microseconds (1000) or seconds
// (10^9); digits finer than a nanosecond are cut off.
inline std::optional<int64_t> parseDecimalNs(std::string_view text, int64_t unitNs) {
  // A sign before a zero whole part ("-0.5") is still a sign.
  if (text.starts_with('-')) return std::nullopt;
  const std::size_t dot = text.find('.');
  const std::optional<int64_t> whole = parseInteger(text.substr(0, dot));
  if (!whole || *whole < 0 || *whole > INT64_MAX / unitNs / 2) return std::nullopt;
  int64_t ns = *whole * unitNs;
  if (dot == std::string_view::npos) return ns;
  int64_t place = unitNs;
  for (const char c : text.substr(dot + 1)) {
    if (c < '0' || c > '9') return std::nullopt;
    place /= 10;
    ns += (c - '0') * place;
  }
  return ns;
}

enum class NumberTrouble { NotANumber, Negative, OutOfRange };

// Why a field that did not parse failed, when it is a number all the same:
// negative where none may be, or out of range.
inline NumberTrouble numberTrouble(std::string_view text) {
  bool negative = false;
  if (text.starts_with('-') || text.starts_with('+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  const std::size_t dot = text.find('.');
  const auto digits = [](std::string_view d) {
    return d.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (dot == 0 || text.empty() || !digits(text.substr(0, dot)) ||
      (dot != std::string_view::npos && !digits(text.substr(dot + 1)))) {
    return NumberTrouble::NotANumber;
  }
  return negative ? NumberTrouble::Negative : NumberTrouble::OutOfRange;
}

// A reason with its values put in, in the reader's language.
inline std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string formatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out;
  results::appendFormatV(out, format, args);
  va_end(args);
  return out;
}

// The reason for a field `name` that did not parse: numberTrouble()'s when
// it is a number (a fraction where a whole number belongs is not an
// integer), else `expected`. Chinese puts a space between a Latin name and
// the words after it, none after a Chinese one. The value is cut short.
inline std::string fieldFault(std::string_view name, std::string_view text,
                              const std::string& expected, bool integer = false) {
  static constexpr const char* kFormats[3][2] = {
      {i18n::trNoop("%s不能是负数：「%s」"), i18n::trNoop("%s 不能是负数：「%s」")},
      {i18n::trNoop("%s超出范围：「%s」"), i18n::trNoop("%s 超出范围：「%s」")},
      {i18n::trNoop("%s不是整数：「%s」"), i18n::trNoop("%s 不是整数：「%s」")}};
  const NumberTrouble trouble = numberTrouble(text);
  if (trouble == NumberTrouble::NotANumber) return expected;
  const bool fraction = integer && text.find('.') != std::string_view::npos;
  const bool latin = !name.empty() && static_cast<unsigned char>(name.back()) < 0x80;
  const char* format = kFormats[fraction ? 2 : trouble == NumberTrouble::OutOfRange ? 1 : 0][latin];
  return formatText(i18n::tr(format), std::string(name).c_str(), results::shownValue(text).c_str());
}

// Splits `line` at each `separator` into at most N fields; returns how many
// there were (more than N when the line has too many).
template <std::size_t N>
std::size_t splitFields(std::string_view line, std::array<std::string_view, N>& fields,
                        char separator = ',') {
  std::size_t count = 0;
  for (;;) {
    const std::size_t at = line.find(separator);
    if (count < N) fields[count] = line.substr(0, at);
    ++count;
    if (at == std::string_view::npos) return count;
    line.remove_prefix(at + 1);
  }
}

}  // namespace recordings
