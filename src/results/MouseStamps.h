#pragma once

#include <cstddef>
#include <vector>

#include "results/StampRecorder.h"

// A window test during which the selection changed holds the reports of
// several mice, one stretch after another. Their figures are each mouse's
// own: these pick one mouse's reports out of the test's. Any thread.
namespace results {

// The kept reports of the mouse `sourceIndex` (its place in the tally's
// sources), its stretches one after another. Where the mouse's reports
// pick up again after another mouse's, the gap is made at least a rest, so
// no interval spans the switch (the stamps after it move later together).
StampSeries mouseStamps(const StampSeries& all, const std::vector<StampRecorder::SourceRun>& runs,
                        std::size_t sourceIndex);

// The report indexes at which another mouse's reports begin.
std::vector<std::size_t> mouseChanges(const std::vector<StampRecorder::SourceRun>& runs);

}  // namespace results
