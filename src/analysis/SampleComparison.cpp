#include "analysis/SampleComparison.h"

#include <algorithm>
#include <cmath>

namespace samplecomparison {

namespace {

// The value at a 1-based rank, the rank kept within the sample.
double atRank(const std::vector<double>& sorted, double rank) {
  const double clamped = std::clamp(rank, 1.0, static_cast<double>(sorted.size()));
  return sorted[static_cast<std::size_t>(clamped) - 1];
}

}  // namespace

KsResult ksTest(const std::vector<double>& a, const std::vector<double>& b) {
  KsResult r;
  if (a.empty() || b.empty()) return r;
  const auto n = static_cast<double>(a.size());
  const auto m = static_cast<double>(b.size());
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const double x = std::min(a[i], b[j]);
    while (i < a.size() && a[i] <= x) ++i;
    while (j < b.size() && b[j] <= x) ++j;
    r.d = std::max(r.d, std::abs(static_cast<double>(i) / n - static_cast<double>(j) / m));
  }
  // The asymptotic critical value: c(alpha) * sqrt((n + m) / (n m)).
  r.critical = std::sqrt(-std::log(kLevel / 2.0) / 2.0) * std::sqrt((n + m) / (n * m));
  r.different = r.d > r.critical;
  return r;
}

PercentileRange percentileRange(const std::vector<double>& sorted, double p) {
  const auto n = static_cast<double>(sorted.size());
  const double spread = kZ * std::sqrt(n * p * (1.0 - p));
  PercentileRange r;
  r.value = atRank(sorted, std::ceil(p * n));
  r.low = atRank(sorted, std::floor(p * n - spread));
  r.high = atRank(sorted, std::ceil(p * n + spread) + 1.0);
  return r;
}

bool rangesDiffer(const PercentileRange& a, const PercentileRange& b) {
  return a.high < b.low || b.high < a.low;
}

CountTest countRatesTest(double countA, double exposureA, double countB, double exposureB) {
  CountTest t;
  const double n = countA + countB;
  if (n <= 0.0 || exposureA <= 0.0 || exposureB <= 0.0) return t;
  const double share = exposureB / (exposureA + exposureB);
  t.z = (countB - n * share) / std::sqrt(n * share * (1.0 - share));
  t.different = std::abs(t.z) > kZ;
  return t;
}

}  // namespace samplecomparison
