#pragma once

#include <cstddef>
#include <vector>

// Whether two runs' report intervals differ beyond noise: the two-sample
// Kolmogorov–Smirnov test on the whole distributions, and distribution-free
// confidence intervals of percentiles (from the binomial law of the ranks).
// Pure functions of sorted samples; any thread. The methods are stated in
// docs/result-schema.md (`quillmark-compare`).
namespace samplecomparison {

// The significance level of every verdict, and the normal quantile of the
// matching two-sided confidence intervals.
inline constexpr double kLevel = 0.01;
inline constexpr double kZ = 2.5758;

struct KsResult {
  double d = 0;         // largest distance between the two empirical distributions
  double critical = 0;  // D beyond which the samples differ at kLevel
  bool different = false;
};
KsResult ksTest(const std::vector<double>& sortedA, const std::vector<double>& sortedB);

struct PercentileRange {
  double value = 0;  // by nearest rank
  double low = 0;    // the confidence interval at 1 - kLevel
  double high = 0;
};
// p in (0, 1); the sample must not be empty.
PercentileRange percentileRange(const std::vector<double>& sorted, double p);

// Two percentiles differ when their confidence intervals do not overlap.
bool rangesDiffer(const PercentileRange& a, const PercentileRange& b);

// Whether two counts of events over their exposures (reports over moving
// seconds, missed slots over reports) come from the same rate: given the
// total, the second count is binomial with the second exposure's share if
// they do; z of its normal approximation. Counting as if events were
// independent makes it conservative for a regular stream.
struct CountTest {
  double z = 0;
  bool different = false;
};
CountTest countRatesTest(double countA, double exposureA, double countB, double exposureB);

}  // namespace samplecomparison
