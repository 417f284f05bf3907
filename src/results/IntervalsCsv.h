#pragma once

#include <string>

#include "results/FileWriter.h"
#include "results/TestRecord.h"

namespace results {

// One line per recorded report: "t_us,interval_us,dx,dy", microseconds with
// three decimals (the stamps are nanoseconds), t_us since the test's first
// report; the first report has no interval; dx and dy are the report's counts,
// both empty when its motion is not known. At most StampRecorder's limit of lines
// (ten minutes at 8000 Hz); the JSON says when the test had more. Any thread.
std::string intervalsCsv(const StampSeries& stamps);
// The file is written in blocks, never held whole in memory.
WriteResult writeIntervalsCsv(const TestRecord& record, const std::string& path);

}  // namespace results
