#pragma once

#include <vector>

// The plot's axes: a logarithmic interval axis in milliseconds and a linear
// time axis in seconds, mapped onto pixel boxes.
namespace results::plot {

struct Box {
  double left = 0, top = 0, width = 0, height = 0;
  double right() const { return left + width; }
  double bottom() const { return top + height; }
};

struct LogAxis {
  double lowMs = 0.01;                        // a power of ten
  double highMs = 100;                        // a power of ten, at least two decades above lowMs
  double y(double ms, const Box& box) const;  // clamped into the box
};

// The decades around [minMs, maxMs] (both > 0).
LogAxis logAxisFor(double minMs, double maxMs);
// Values to mark on the axis: 1, 2 and 5 per decade, or only decades for a
// wide range.
std::vector<double> logTicks(const LogAxis& axis);

// A tick step of 1, 2 or 5 times a power of ten giving at most about 8 steps.
double niceStep(double span);

}  // namespace results::plot
