#pragma once

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
// written only when it is a regular file owned by this user; a symbolic link
// is never followed. Returns false when the text was dropped.
bool appendToLog(const char* path, const char* text, size_t len);
}  // namespace tracelog
