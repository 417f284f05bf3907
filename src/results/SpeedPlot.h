#pragma once

#include <optional>
#include <string>

#include "analysis/WholeTestAnalysis.h"
#include "results/PlotScale.h"

namespace results {

// The rate against the hand's speed, as an SVG fragment inside `box`: one bar
// per octave band of counts/s (its rate while moving that fast), the rate the
// test is held against as a dashed line and the saturation speed marked.
// Empty when the motion is unknown. Any thread.
std::string speedPlotSvg(const MotionFigures& motion, double yardstickHz,
                         std::optional<double> saturationCountsPerS, const plot::Box& box);

}  // namespace results
