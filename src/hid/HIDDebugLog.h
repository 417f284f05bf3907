#pragma once

#include <chrono>
#include <cstdarg>
#include <cstddef>

// Developer trace log. Switched on for the life of the process when
// kTraceSwitchPath exists at the first call; lines go to kTraceLogPath with a
// "[%9.3f] " millisecond prefix counted from the first line written.
inline constexpr const char* kTraceSwitchPath = "/tmp/tavo_debug_on";
inline constexpr const char* kTraceLogPath = "/tmp/tavo_debug.log";

bool hidDebugLogEnabled();
void hidDebugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

namespace tracelog {
// Appends len bytes to path as one write. The file is created 0600 and is
// written only when it is a regular file with a single link, owned by this
// user; a symbolic link is never followed and a FIFO never blocks. Returns
// false when the text was dropped.
bool appendToLog(const char* path, const char* text, size_t len);

// Formats one trace line - the "[%9.3f] " prefix for `elapsed` since the
// first line, the message, one newline - and appends it with appendToLog.
bool writeLine(const char* path, std::chrono::nanoseconds elapsed, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));
}  // namespace tracelog
