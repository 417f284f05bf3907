#include "results/TextFormat.h"

#include <cstdio>

namespace results {

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

}  // namespace results
