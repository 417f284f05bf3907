#pragma once

#include <string>
#include <utility>
#include <vector>

#include "results/FileWriter.h"

namespace results {

// One run of a comparison: its legend text and its report intervals (µs,
// sorted ascending, rests left out). The intervals must outlive the call.
struct PlotRun {
  std::string label;
  const std::vector<double>* sortedIntervalsUs = nullptr;
  // The rate in each speed band the hand moved in: (band's lower edge in
  // counts/s, rate in Hz), ascending; empty without motion.
  std::vector<std::pair<double, double>> rateBySpeed;
};

// A self-contained SVG of the runs' interval distributions overlaid: the
// share of intervals up to each length (cumulative), on a logarithmic time
// axis, one colour per run with a legend. Its size does not grow with the
// number of intervals. Where runs have motion, a second panel gives their
// rate against the hand's speed. Any thread.
std::string comparePlotSvg(const std::vector<PlotRun>& runs);
WriteResult writeComparePlot(const std::vector<PlotRun>& runs, const std::string& path);

}  // namespace results
