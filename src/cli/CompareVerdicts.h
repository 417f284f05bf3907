#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "analysis/RunComparison.h"

// What `compare` says of each setup against the baseline setup, in words
// and in its JSON: the bottom line, a verdict per figure, and the spread of
// each setup's runs. Pure.
namespace cli {

struct CompareRunView {
  std::string label;                                         // "A", "B1", …
  const nlohmann::json* result = nullptr;                    // the run's complete record
  const samplecomparison::IntervalBlocks* blocks = nullptr;  // null without intervals
};

// Runs that share a label: one setup.
struct SetupView {
  std::string letter;  // "A", "B", …
  std::string label;   // the label; empty when the runs have none
  std::vector<const CompareRunView*> runs;
  // "B（port-b）", or "B" without a label.
  std::string name() const;
};

struct CompareVerdict {
  std::string setup, against;  // the setups' letters
  runcomparison::FigureVerdict figure;
  std::string text;
};

// A run's grid period (µs): the grid's own, else the slots its figures
// count over the moving time, else the median interval; 0 when unknown.
double comparePeriodUs(const nlohmann::json& result);

// A run's figure from its record, null when the run does not have it
// (never 0 for a missing one): JSON pointer under whole_test.
std::optional<double> runFigure(const nlohmann::json& result, const char* pointer);

// Each setup but the baseline against it: by the runs' spread when both
// have two runs or more, else by the block tests on their runs joined.
std::vector<CompareVerdict> compareVerdicts(const std::vector<SetupView>& setups,
                                            std::size_t baseline);

// One line per setup: the same as the baseline, different in a way that
// matters (and how), or why it cannot be told.
struct BottomLine {
  std::string setup, against;
  std::string key;  // "same", "differs", "unknown", "not_comparable"
  std::string text;
};
std::vector<BottomLine> bottomLines(const std::vector<SetupView>& setups, std::size_t baseline,
                                    const std::vector<CompareVerdict>& verdicts);

nlohmann::ordered_json verdictsJson(const std::vector<CompareVerdict>& verdicts);
nlohmann::ordered_json bottomJson(const std::vector<BottomLine>& lines);
// `repeats[]`: each setup of two runs or more, with the spread of their figures.
nlohmann::ordered_json repeatsJson(const std::vector<SetupView>& setups);

// The lines after the bottom line: what the words mean, each verdict, and
// the spread of the repeats.
std::string verdictsText(const std::vector<SetupView>& setups, std::size_t baseline,
                         const std::vector<CompareVerdict>& verdicts);

}  // namespace cli
