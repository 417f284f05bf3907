#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "results/TestRecord.h"

// Result files given back to the commands that read them (analyze,
// compare): a result JSON, the intervals CSV that belongs to it, and the
// facts the JSON keeps about the mouse and the machine.
namespace cli {

// The result document at `path`, its fields of the types the readers
// expect; nullopt, with the reason in `trouble`, when the file cannot be
// read, nests deeper than any result, or is not a Quillmark result.
std::optional<nlohmann::json> readResultJson(const std::filesystem::path& path,
                                             std::string* trouble = nullptr);

// The document's schema_version; 0 when it has none.
int schemaVersion(const nlohmann::json& result);
// The test's verdict in words, read by the version's own meaning; "too
// short to judge" for a test under the least moving time or intervals
// whatever the file says.
std::string verdictTextOf(const nlohmann::json& result);

// A result JSON's intervals file: the same name ending in .csv, else
// intervals.csv beside it.
std::optional<std::string> intervalsBeside(const std::filesystem::path& jsonPath);
// The result JSON an intervals CSV belongs to: the same name ending in
// .json, else result.json beside it, whichever names this CSV as its own.
std::optional<std::filesystem::path> resultBeside(const std::filesystem::path& csvPath);

// What a result document says about its test beyond the reports: the mouse,
// the machine's kernel and the start. Fields it does not hold stay unknown.
struct ResultFacts {
  results::DeviceIdentity device;
  std::string kernelRelease;
  std::optional<std::chrono::system_clock::time_point> start;
  std::string label;  // the setup's label (`measure --label`); empty when none
};
ResultFacts resultFacts(const nlohmann::json& result);

}  // namespace cli
