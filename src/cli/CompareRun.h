#pragma once

#include <string>
#include <vector>

#include "cli/MeasureRun.h"

// `quillmark compare`: runs side by side (result folders, result JSON files
// or recordings), and whether each differs from the first beyond noise.
namespace cli {

struct CompareOptions {
  std::vector<std::string> inputs;  // two or more
  std::vector<std::string> labels;  // none, or one per input: runs of one setup share a label
  std::string baseline;             // the setup the others are judged against; empty: the first
  bool json = false;
  std::string plotPath;
};

// Main thread (recordings are replayed as `analyze` does).
int runCompare(const CompareOptions& options, const Console& console);

}  // namespace cli
