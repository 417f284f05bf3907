#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/StampSeries.h"
#include "analysis/WholeTestAnalysis.h"

// The grid of slots a mouse's reports fall on, from the stamps alone or from
// the interval the host polls at; part of the whole-test analysis.
namespace reportgrid {

// The period (ns) of the reports [first, end): the lowest cluster of
// intervals holding a fair share of them, so that a mouse which skips slots
// (its intervals whole multiples of the period) and a two-peaked spread give
// the grid's period, not their median. 0 when there is none. Only clusters
// below `maxNs` are looked for.
double estimatePeriodNs(const StampSeries& s, std::size_t first, std::size_t end,
                        double maxNs = 1e12);

// Fills the grid, the slot figures (missed, idle and kernel-dropped slots)
// and the segments of `f`; each report's lateness (ns) goes to `lateness`,
// left empty when the slots cannot be known. `dropped` flags the reports
// after a kernel drop.
void gridFigures(const StampSeries& s, const std::vector<bool>& dropped,
                 const WholeTestOptions& options, WholeTestFigures& f,
                 std::vector<int32_t>& lateness);

}  // namespace reportgrid
