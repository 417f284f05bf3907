#pragma once

#include <chrono>
#include <string>

#include "dashboard/PngWriter.h"
#include "results/TestRecord.h"

// One saved result: a folder Quillmark/<date>_<time>_<device>/ under the
// documents folder with the JSON summary, the intervals CSV, the SVG plot
// and dashboard.png (the window as it looked). The folder appears whole
// under its final name, or not at all.
struct SaveOutcome {
  bool ok = false;
  std::string folder;  // the folder written, when ok
  std::string reason;  // one line, when not ok
};

// Writes the folder under documents/Quillmark; `now` names it. Main thread
// (it runs between two frames; a long test's files take a moment).
SaveOutcome saveResultFolder(const results::TestRecord& record, const PixelImage& window,
                             const std::string& documents,
                             std::chrono::system_clock::time_point now);
