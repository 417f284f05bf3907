#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/CompareVerdicts.h"

// The table of `compare`: a column per setup (a run's figure, or the runs'
// median with their range), read from the same complete records as the
// verdicts. Pure.
namespace cli {

// A string of a result, safe on a terminal line; empty when not there.
std::string resultText(const nlohmann::json& result, const char* pointer);

std::string compareTable(const std::vector<SetupView>& setups);

// One run's cells by row, as the table would print them for it alone.
nlohmann::ordered_json runCells(const nlohmann::json& result);

// Why the run's rate is what it is, in the current language: the record's
// own text when it was just made, else from the stored cause's kind.
std::string causeText(const nlohmann::json& result, bool recomputed);

}  // namespace cli
