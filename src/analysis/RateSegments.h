#pragma once

#include <cstddef>
#include <vector>

#include "analysis/StampSeries.h"
#include "analysis/WholeTestAnalysis.h"

namespace reportgrid {

// Reports [first, end) at one grid period (ns).
struct SegmentRange {
  std::size_t first = 0, end = 0;
  double periodNs = 0;
};

// The stretches of a test at clearly different grid periods, each lasting at
// least a second; empty when the period held through the test. Blocks with
// a fair share of their intervals near `periodNs` keep that period.
std::vector<SegmentRange> rateSegments(const StampSeries& s, double periodNs);

RateSegment segmentFigures(const StampSeries& s, const SegmentRange& r);

}  // namespace reportgrid
