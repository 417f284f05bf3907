#include "analysis/SampleComparison.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <random>

namespace samplecomparison {

namespace {

void openBlock(IntervalBlocks& b) {
  b.starts.push_back(static_cast<uint32_t>(b.steps.size()));
  b.seconds.push_back(0);
  b.intervals.push_back(0);
  b.missed.push_back(0);
  b.dropped.push_back(0);
}

// A last block too short to stand for a second joins the one before it.
void closeLastBlock(IntervalBlocks& b) {
  const std::size_t n = b.blocks();
  if (n < 2 || b.seconds[n - 1] >= kShortestLastBlock * kBlockSeconds) return;
  for (std::vector<double>* v : {&b.seconds, &b.intervals, &b.missed, &b.dropped}) {
    (*v)[n - 2] += (*v)[n - 1];
    v->pop_back();
  }
  b.starts.pop_back();
}

// The bins both runs' intervals fall in, and each block as a sparse
// histogram over them, so that a split of the blocks costs a pass over
// the blocks' bins rather than over every interval.
class BlockHistograms {
 public:
  BlockHistograms(const IntervalBlocks& a, const IntervalBlocks& b) {
    int32_t top = 0;
    for (const IntervalBlocks* r : {&a, &b}) {
      for (int32_t s : r->steps) top = std::max(top, s);
    }
    std::vector<int32_t> binOf(static_cast<std::size_t>(top) + 1, -1);
    for (const IntervalBlocks* r : {&a, &b}) {
      for (int32_t s : r->steps) binOf[static_cast<std::size_t>(s)] = 0;
    }
    for (std::size_t v = 0; v < binOf.size(); ++v) {
      if (binOf[v] < 0) continue;
      binOf[v] = static_cast<int32_t>(values_.size());
      values_.push_back(static_cast<int32_t>(v));
    }
    std::vector<uint32_t> scratch(values_.size(), 0);
    std::vector<uint32_t> touched;
    starts_.push_back(0);
    for (const IntervalBlocks* r : {&a, &b}) {
      for (std::size_t k = 0; k < r->blocks(); ++k) {
        for (std::size_t i = r->starts[k]; i < r->end(k); ++i) {
          const auto bin = static_cast<uint32_t>(binOf[static_cast<std::size_t>(r->steps[i])]);
          if (scratch[bin]++ == 0) touched.push_back(bin);
        }
        for (uint32_t bin : touched) {
          entries_.push_back({bin, scratch[bin]});
          scratch[bin] = 0;
        }
        touched.clear();
        starts_.push_back(entries_.size());
        sizes_.push_back(static_cast<double>(r->end(k) - r->starts[k]));
      }
    }
    total_.assign(values_.size(), 0);
    for (const Entry& e : entries_) total_[e.bin] += e.count;
    histogram_.assign(values_.size(), 0);
  }

  std::size_t blocks() const { return sizes_.size(); }

  void distance(const std::vector<char>& second, double& out) {
    double f[4];
    figures(second, f);
    out = f[0];
  }

  // The figures of the split that puts the flagged blocks in the second
  // group: the distance, then each percentile's difference (second less first).
  void figures(const std::vector<char>& second, double out[4], Tested* values = nullptr) {
    std::fill(histogram_.begin(), histogram_.end(), 0);
    double nB = 0, n = 0;
    for (std::size_t k = 0; k < sizes_.size(); ++k) {
      n += sizes_[k];
      if (!second[k]) continue;
      nB += sizes_[k];
      for (std::size_t e = starts_[k]; e < starts_[k + 1]; ++e)
        histogram_[entries_[e].bin] += entries_[e].count;
    }
    const double nA = n - nB;
    double rankA[3], rankB[3], valueA[3] = {}, valueB[3] = {};
    for (int p = 0; p < 3; ++p) {
      rankA[p] = std::clamp(std::ceil(kPercentiles[p] * nA - 1e-9), 1.0, nA);
      rankB[p] = std::clamp(std::ceil(kPercentiles[p] * nB - 1e-9), 1.0, nB);
    }
    double cumA = 0, cumB = 0, distance = 0;
    int pa = 0, pb = 0;
    for (std::size_t bin = 0; bin < values_.size(); ++bin) {
      cumB += histogram_[bin];
      cumA += total_[bin] - histogram_[bin];
      distance = std::max(distance, std::abs(cumA / nA - cumB / nB));
      for (; pa < 3 && cumA >= rankA[pa]; ++pa) valueA[pa] = values_[bin] * kStepUs;
      for (; pb < 3 && cumB >= rankB[pb]; ++pb) valueB[pb] = values_[bin] * kStepUs;
    }
    out[0] = distance;
    for (int p = 0; p < 3; ++p) out[p + 1] = valueB[p] - valueA[p];
    if (values == nullptr) return;
    values[0] = {0, distance, distance, 1};
    for (int p = 0; p < 3; ++p) values[p + 1] = {valueA[p], valueB[p], out[p + 1], 1};
  }

 private:
  struct Entry {
    uint32_t bin, count;
  };
  std::vector<int32_t> values_;  // each bin's interval in steps, ascending
  std::vector<Entry> entries_;
  std::vector<std::size_t> starts_;  // each block's first entry
  std::vector<double> sizes_;        // each block's intervals
  std::vector<uint32_t> total_, histogram_;
};

// Each block's percentiles (µs, nearest rank), the first run's blocks first.
std::vector<std::array<double, 3>> blockPercentiles(const IntervalBlocks& a,
                                                    const IntervalBlocks& b) {
  std::vector<std::array<double, 3>> out;
  std::vector<int32_t> v;
  for (const IntervalBlocks* r : {&a, &b}) {
    for (std::size_t k = 0; k < r->blocks(); ++k) {
      v.assign(r->steps.begin() + r->starts[k],
               r->steps.begin() + static_cast<std::ptrdiff_t>(r->end(k)));
      std::array<double, 3> x{};
      for (int p = 0; p < 3; ++p) {
        const double rank = std::ceil(kPercentiles[p] * static_cast<double>(v.size()) - 1e-9);
        const auto at = v.begin() + static_cast<std::ptrdiff_t>(
                                        std::clamp(rank, 1.0, static_cast<double>(v.size())) - 1);
        std::nth_element(v.begin(), at, v.end());
        x[p] = *at * kStepUs;
      }
      out.push_back(x);
    }
  }
  return out;
}

// Ways to choose k of n, as a double (large values only need to be large).
double splits(std::size_t n, std::size_t k) {
  double c = 1;
  for (std::size_t i = 1; i <= k; ++i)
    c = c * static_cast<double>(n - k + i) / static_cast<double>(i);
  return c;
}

// Splits up to this many are all tried; beyond, kPermutations at random.
constexpr double kEnumerateUpTo = 2000;

}  // namespace

IntervalBlocks intervalBlocks(const std::vector<int64_t>& stampsNs,
                              const std::vector<bool>& dropBefore, int64_t restNs, double periodUs,
                              const std::vector<bool>& still) {
  IntervalBlocks b;
  b.steps.reserve(stampsNs.size());
  for (std::size_t i = 1; i < stampsNs.size(); ++i) {
    const int64_t d = stampsNs[i] - stampsNs[i - 1];
    if (d < 0 || d > restNs || (i < still.size() && still[i])) continue;
    if (b.starts.empty() || b.seconds.back() >= kBlockSeconds) openBlock(b);
    const double us = static_cast<double>(d) / 1000.0;
    if (d > 0) b.steps.push_back(static_cast<int32_t>(std::llround(us / kStepUs)));
    b.seconds.back() += us / 1e6;
    b.intervals.back() += 1;
    if (periodUs <= 0) continue;
    const double empty = std::max(0.0, std::round(us / periodUs) - 1.0);
    const bool dropped = i < dropBefore.size() && dropBefore[i];
    (dropped ? b.dropped : b.missed).back() += empty;
  }
  closeLastBlock(b);
  return b;
}

IntervalBlocks joinedBlocks(const std::vector<const IntervalBlocks*>& runs) {
  IntervalBlocks out;
  for (const IntervalBlocks* r : runs) {
    const auto offset = static_cast<uint32_t>(out.steps.size());
    out.steps.insert(out.steps.end(), r->steps.begin(), r->steps.end());
    for (uint32_t start : r->starts) out.starts.push_back(start + offset);
    for (auto [to, from] : {std::pair{&out.seconds, &r->seconds},
                            {&out.intervals, &r->intervals},
                            {&out.missed, &r->missed},
                            {&out.dropped, &r->dropped}})
      to->insert(to->end(), from->begin(), from->end());
  }
  return out;
}

std::size_t unitBlocks(const std::vector<std::vector<std::vector<double>>>& runs) {
  // Too few blocks to see any dependence: each block is a unit, as ever.
  std::size_t fewest = SIZE_MAX;
  for (const auto& run : runs) fewest = std::min(fewest, run.empty() ? 0 : run.front().size());
  if (runs.empty() || fewest < kLeastUnitsPerRun) return 1;
  double worst = -1, pairs = 0;
  for (std::size_t f = 0; f < runs.front().size(); ++f) {
    double products = 0, squares = 0;
    pairs = 0;
    for (const auto& run : runs) {
      const std::vector<double>& x = run[f];
      const double mean = std::accumulate(x.begin(), x.end(), 0.0) / static_cast<double>(x.size());
      for (std::size_t k = 0; k < x.size(); ++k) {
        squares += (x[k] - mean) * (x[k] - mean);
        if (k > 0) products += (x[k] - mean) * (x[k - 1] - mean);
      }
      pairs += static_cast<double>(x.size() - 1);
    }
    if (squares > 0) worst = std::max(worst, products / squares);
  }
  if (worst <= std::max(kMostLagCorrelation, kLagStandardErrors / std::sqrt(pairs))) return 1;
  // As many blocks as an AR(1) dependence of this correlation spans.
  const double r = std::min(worst, 0.9);
  const auto unit = static_cast<std::size_t>(std::ceil((1 + r) / (1 - r)));
  return fewest / unit < kLeastUnitsPerRun ? 0 : unit;
}

namespace {

// Which unit each block belongs to: `unit` blocks in a row of one run, the
// last few joining the unit before; the units of a second run after the first's.
std::vector<std::size_t> unitsOf(std::size_t blocksA, std::size_t blocksB, std::size_t unit,
                                 std::size_t& unitsA, std::size_t& unitsB) {
  unitsA = std::max<std::size_t>(1, blocksA / unit);
  unitsB = std::max<std::size_t>(1, blocksB / unit);
  std::vector<std::size_t> out;
  for (std::size_t k = 0; k < blocksA; ++k) out.push_back(std::min(k / unit, unitsA - 1));
  for (std::size_t k = 0; k < blocksB; ++k) out.push_back(unitsA + std::min(k / unit, unitsB - 1));
  return out;
}

// Each block's figures the dependence is judged on: its mean interval, their
// spread, p50 and p99 (a block's p99.9 rests on a handful of intervals).
std::vector<std::vector<std::vector<double>>> blockFigures(
    const IntervalBlocks& a, const IntervalBlocks& b,
    const std::vector<std::array<double, 3>>& perBlock) {
  std::vector<std::vector<std::vector<double>>> out(2, std::vector<std::vector<double>>(4));
  for (std::size_t k = 0; k < perBlock.size(); ++k) {
    const bool second = k >= a.blocks();
    const IntervalBlocks& r = second ? b : a;
    const std::size_t j = second ? k - a.blocks() : k;
    double sum = 0, squares = 0;
    const auto n = static_cast<double>(r.end(j) - r.starts[j]);
    for (std::size_t i = r.starts[j]; i < r.end(j); ++i) sum += r.steps[i];
    for (std::size_t i = r.starts[j]; i < r.end(j); ++i)
      squares += (r.steps[i] - sum / n) * (r.steps[i] - sum / n);
    out[second][0].push_back(n > 0 ? sum / n : 0.0);
    out[second][1].push_back(n > 1 ? std::sqrt(squares / (n - 1)) : 0.0);
    out[second][2].push_back(perBlock[k][0]);
    out[second][3].push_back(perBlock[k][1]);
  }
  return out;
}

// The gap between the two runs' blocks, per percentile, when they do not overlap.
void separations(const std::vector<std::array<double, 3>>& perBlock, std::size_t blocksA,
                 double out[3]) {
  if (blocksA < kLeastSeparatedBlocks || perBlock.size() - blocksA < kLeastSeparatedBlocks) return;
  for (int p = 0; p < 3; ++p) {
    double low[2] = {INFINITY, INFINITY}, high[2] = {-INFINITY, -INFINITY};
    for (std::size_t k = 0; k < perBlock.size(); ++k) {
      const int run = k >= blocksA ? 1 : 0;
      low[run] = std::min(low[run], perBlock[k][p]);
      high[run] = std::max(high[run], perBlock[k][p]);
    }
    out[p] = std::max({0.0, low[1] - high[0], low[0] - high[1]});
  }
}

}  // namespace

IntervalTests permutationTests(const IntervalBlocks& a, const IntervalBlocks& b) {
  IntervalTests t;
  if (a.blocks() == 0 || b.blocks() == 0 || a.steps.empty() || b.steps.empty()) return t;
  BlockHistograms h(a, b);
  const std::size_t n = h.blocks();
  std::vector<char> second(n, 0);
  std::fill(second.begin() + static_cast<std::ptrdiff_t>(a.blocks()), second.end(), 1);
  double pooled[4];
  Tested values[4];
  h.figures(second, pooled, values);
  t.distance = values[0];
  for (int p = 0; p < 3; ++p) t.percentile[p] = values[p + 1];

  // The distance is tested as it is; a percentile by the mean of its value
  // in each block, which a mixture of unlike blocks cannot swing as it
  // swings the percentile of their pooled intervals.
  const std::vector<std::array<double, 3>> perBlock = blockPercentiles(a, b);
  separations(perBlock, a.blocks(), t.separation);
  t.unitBlocks = unitBlocks(blockFigures(a, b, perBlock));
  if (t.unitBlocks == 0) return t;
  std::size_t unitsA = 0, unitsB = 0;
  const std::vector<std::size_t> unitOf =
      unitsOf(a.blocks(), b.blocks(), t.unitBlocks, unitsA, unitsB);
  const double ways = splits(unitsA + unitsB, unitsB);
  t.decidable = ways >= kLeastSplits;
  if (!t.decidable) return t;
  // A split of the units, as a split of the blocks.
  std::vector<char> blockSplit(n, 0);
  const auto expand = [&](const std::vector<char>& units) -> const std::vector<char>& {
    for (std::size_t k = 0; k < n; ++k) blockSplit[k] = units[unitOf[k]];
    return blockSplit;
  };
  const auto statistics = [&](const std::vector<char>& units, double out[4]) {
    const std::vector<char>& split = expand(units);
    h.distance(split, out[0]);
    double sums[2][3] = {}, counts[2] = {};
    for (std::size_t k = 0; k < n; ++k) {
      counts[split[k] ? 1 : 0] += 1;
      for (int p = 0; p < 3; ++p) sums[split[k] ? 1 : 0][p] += perBlock[k][p];
    }
    for (int p = 0; p < 3; ++p) out[p + 1] = sums[1][p] / counts[1] - sums[0][p] / counts[0];
  };
  std::vector<char> secondUnits(unitsA + unitsB, 0);
  std::fill(secondUnits.begin() + static_cast<std::ptrdiff_t>(unitsA), secondUnits.end(), 1);
  double observed[4];
  statistics(secondUnits, observed);
  int extreme[4] = {};
  double tried = 0;
  const auto count = [&](const std::vector<char>& split) {
    double f[4];
    statistics(split, f);
    for (int j = 0; j < 4; ++j) extreme[j] += std::abs(f[j]) >= std::abs(observed[j]) - 1e-9;
    tried += 1;
  };
  double pValues[4];
  if (ways <= kEnumerateUpTo) {
    // Every split once (the observed one among them): an exact p.
    std::vector<char> split(unitsA + unitsB, 0);
    std::fill(split.end() - static_cast<std::ptrdiff_t>(unitsB), split.end(), 1);
    do count(split);
    while (std::next_permutation(split.begin(), split.end()));
    for (int j = 0; j < 4; ++j) pValues[j] = extreme[j] / tried;
  } else {
    std::mt19937_64 rng(kSeed);
    std::vector<char> split = secondUnits;
    for (int i = 0; i < kPermutations; ++i) {
      std::shuffle(split.begin(), split.end(), rng);
      count(split);
    }
    for (int j = 0; j < 4; ++j) pValues[j] = (1.0 + extreme[j]) / (1.0 + tried);
  }
  t.distance.pValue = pValues[0];
  for (int p = 0; p < 3; ++p) t.percentile[p].pValue = pValues[p + 1];
  return t;
}

CountTest overdispersedCountTest(const CountRun& a, const CountRun& b, bool events) {
  CountTest t;
  if (a.exposure <= 0 || b.exposure <= 0) return t;
  // The blocks' rates decide how many blocks make an independent unit.
  std::vector<std::vector<std::vector<double>>> rates;
  for (const CountRun* r : {&a, &b}) {
    if (r->blockCounts == nullptr || r->blockExposures == nullptr) continue;
    if (r->blockCounts->size() < 2 || r->blockCounts->size() != r->blockExposures->size()) continue;
    rates.push_back({{}});
    for (std::size_t k = 0; k < r->blockCounts->size(); ++k) {
      const double e = (*r->blockExposures)[k];
      rates.back()[0].push_back(e > 0 ? (*r->blockCounts)[k] / e : 0.0);
    }
  }
  t.unitBlocks = rates.empty() ? 1 : unitBlocks(rates);
  if (t.unitBlocks == 0) return t;
  double pearson = 0, freedom = 0;
  for (const CountRun* r : {&a, &b}) {
    if (r->blockCounts == nullptr || r->blockExposures == nullptr) continue;
    if (r->blockCounts->size() < 2 || r->blockCounts->size() != r->blockExposures->size()) continue;
    std::vector<double> c, e;
    for (std::size_t k = 0; k < r->blockCounts->size(); ++k) {
      if (k % t.unitBlocks == 0 && k + t.unitBlocks <= r->blockCounts->size()) {
        c.push_back(0);
        e.push_back(0);
      }
      c.back() += (*r->blockCounts)[k];
      e.back() += (*r->blockExposures)[k];
    }
    if (c.size() < 2) continue;
    const double exposure = std::accumulate(e.begin(), e.end(), 0.0);
    if (exposure <= 0) continue;
    const double rate = std::accumulate(c.begin(), c.end(), 0.0) / exposure;
    for (std::size_t k = 0; k < c.size(); ++k) {
      const double mean = rate * e[k];
      if (mean > 0) pearson += (c[k] - mean) * (c[k] - mean) / mean;
    }
    freedom += static_cast<double>(c.size()) - 1.0;
  }
  t.decidable = freedom >= 1;
  t.dispersion =
      t.decidable ? std::max(events ? 1.0 : kLeastRegularDispersion, pearson / freedom) : 1.0;
  const double pooled = (a.count + b.count) / (a.exposure + b.exposure);
  const double variance = t.dispersion * pooled * (1.0 / a.exposure + 1.0 / b.exposure);
  if (variance <= 0) return t;
  t.z = (b.count / b.exposure - a.count / a.exposure) / std::sqrt(variance);
  t.pValue = std::erfc(std::abs(t.z) / std::sqrt(2.0));
  return t;
}

}  // namespace samplecomparison
