#pragma once

#include <optional>
#include <string>

#include "results/FileWriter.h"
#include "results/TestRecord.h"

namespace results {

// The version of the document's layout (docs/result-schema.md); raised
// whenever a field changes meaning or goes away.
inline constexpr int kResultSchemaVersion = 4;

// The JSON summary of a test, indented, ending in a newline. Any thread.
std::string resultJson(const TestRecord& record);
WriteResult writeResultJson(const TestRecord& record, const std::string& path);

// ISO 8601 in the local time zone with its offset, to the millisecond:
// "2026-12-07T18:15:02.125+08:00".
std::string isoLocalTime(std::chrono::system_clock::time_point t);
// A test's start as isoLocalTime gives it, "未知" when it is not known.
std::string startText(const std::optional<std::chrono::system_clock::time_point>& start);

}  // namespace results
