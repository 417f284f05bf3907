#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace results {

// printf into the end of a string, never cut short. Any thread.
void appendFormatV(std::string& out, const char* format, va_list args);
void appendFormat(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Text from outside (a device name) made safe to show on one terminal line
// or to use in a file or folder name: valid UTF-8 (each invalid byte becomes
// U+FFFD), with control characters (C0, DEL, C1) and the bidirectional
// embeddings, overrides and isolates (U+202A-U+202E, U+2066-U+2069) left
// out, since they could hide or reorder the text around them. The
// noncharacters U+FFFE and U+FFFF go too. Any thread.
std::string plainText(std::string_view text);

// A file name on one terminal line: plainText(), with the control
// characters written out instead of left out (a line break as \n, a tab as
// \t, others as \xNN), so the name shown is the name. Any thread.
std::string pathText(std::string_view path);

// plainText() as XML character data or an attribute value: only characters
// XML 1.0 allows, with & < > " escaped. Any thread.
std::string xmlText(std::string_view text);

// Columns a text takes on a terminal: CJK characters and full-width forms
// (from U+3000) two, others one. Any thread.
int displayColumns(std::string_view text);

// The text in at most `columns`, ending in "…" where it was cut; never cut
// inside a character. Any thread.
std::string cutToColumns(std::string_view text, int columns);

// A value from outside (an option's, a field's) as a message echoes it:
// pathText(), cut to at most 80 columns with "…", so one bad value of
// 100 KB still makes a short line. Any thread.
std::string shownValue(std::string_view text);

}  // namespace results
