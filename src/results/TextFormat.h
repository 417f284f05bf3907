#pragma once

#include <cstdarg>
#include <string>

namespace results {

// printf into the end of a string, never cut short. Any thread.
void appendFormatV(std::string& out, const char* format, va_list args);
void appendFormat(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace results
