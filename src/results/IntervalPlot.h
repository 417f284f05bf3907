#pragma once

#include <string>

#include "results/FileWriter.h"
#include "results/TestRecord.h"

namespace results {

// A self-contained SVG picture of a test's report intervals: interval (ms,
// logarithmic) over time (s) as a min/max envelope per pixel column with
// every outlier drawn on its own (at most kMaxOutlierMarks, the largest
// first), the baseline and target intervals as lines, and the interval
// histogram beside it on the same scale. Its size does not grow with the
// number of reports beyond the outlier marks (well under 1 MB). Any thread.
std::string intervalPlotSvg(const TestRecord& record);
WriteResult writeIntervalPlot(const TestRecord& record, const std::string& path);

inline constexpr std::size_t kMaxOutlierMarks = 4000;

}  // namespace results
