#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "analysis/RunComparison.h"

// What `compare` says of each later run against the first, in words and in
// its JSON, and the spread of repeat runs (runs given one --label). Pure.
namespace cli {

struct CompareRunView {
  std::string label;                                         // "A", "B", …
  std::string userLabel;                                     // empty when not given
  const nlohmann::json* result = nullptr;                    // the run's result document
  const samplecomparison::IntervalBlocks* blocks = nullptr;  // null without intervals
};

struct CompareVerdict {
  std::string run, against;
  runcomparison::FigureVerdict figure;
  std::string text;
};

// A run's grid period (µs): the grid's own, else the slots its figures
// count over the moving time, else the median interval; 0 when unknown.
double comparePeriodUs(const nlohmann::json& result);

std::vector<CompareVerdict> compareVerdicts(const std::vector<CompareRunView>& runs);

// The verdicts as `verdicts[]` of the compare document.
nlohmann::ordered_json verdictsJson(const std::vector<CompareVerdict>& verdicts);
// `repeats[]`: each label shared by two or more runs, with the spread of their figures.
nlohmann::ordered_json repeatsJson(const std::vector<CompareRunView>& runs);

// The lines after the table: what the two words mean, each verdict, the
// advice to repeat runs and the spread of the repeats.
std::string verdictsText(const std::vector<CompareRunView>& runs,
                         const std::vector<CompareVerdict>& verdicts);

}  // namespace cli
