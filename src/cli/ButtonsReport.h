#pragma once

#include <string>
#include <vector>

#include "analysis/ButtonAnalysis.h"

// The switch test in words and files: the terminal summary, the JSON of
// docs/buttons-schema.md and the events CSV. They only format what
// buttons::summarizeButtons computed.
namespace cli {

struct ButtonTest {
  std::string deviceName;
  std::string node;     // empty when unknown
  double seconds = 0;   // how long the buttons were watched
  int64_t startNs = 0;  // the stamps' zero
  std::vector<buttons::ButtonEdge> edges;
  buttons::ButtonSummary summary;
};

// One line per button: presses, hold, gaps, fastest, chatter.
std::string buttonLiveLine(const buttons::ButtonFigures& figures);
std::string buttonSummaryText(const ButtonTest& test);
std::string buttonJson(const ButtonTest& test);
// time_s,button,edge,gap_ms: one line per press and release.
std::string buttonEventsCsv(const ButtonTest& test);

}  // namespace cli
