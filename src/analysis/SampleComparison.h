#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Whether two runs differ beyond the noise between runs. Host phases and
// slow drifts make neighbouring intervals alike, so tests that treat every
// interval as independent call repeat runs of one setup different; here the
// unit is a block of one second of moving time: the interval figures are
// tested by permuting whole blocks between the two runs, and counts by their
// spread from second to second. Pure functions; any thread. The methods are
// stated in docs/result-schema.md (`quillmark-compare`).
namespace samplecomparison {

// The level of every test.
inline constexpr double kLevel = 0.01;
inline constexpr double kBlockSeconds = 1.0;
// A last block shorter than this share of a block joins the one before it.
inline constexpr double kShortestLastBlock = 0.5;
inline constexpr int kPermutations = 200;
inline constexpr uint64_t kSeed = 20261207;
// Splits of the blocks at least needed before a permutation can reach kLevel;
// fewer than that are enumerated, and the test cannot decide.
inline constexpr double kLeastSplits = 2.0 / kLevel;
// Intervals are compared in steps of this many µs.
inline constexpr double kStepUs = 0.1;

// One run's intervals that are not rests, in time order, cut into blocks.
struct IntervalBlocks {
  std::vector<int32_t> steps;     // each interval in kStepUs
  std::vector<uint32_t> starts;   // the first interval of each block
  std::vector<double> seconds;    // each block's moving time
  std::vector<double> intervals;  // each block's intervals
  std::vector<double> missed;     // slots of the grid left empty in each block
  std::vector<double> dropped;    // of those, in gaps that held a kernel drop
  std::size_t blocks() const { return starts.size(); }
  std::size_t end(std::size_t block) const {
    return block + 1 < starts.size() ? starts[block + 1] : steps.size();
  }
};

// Cuts a run's stamps (ns, ascending) into blocks; intervals longer than
// `restNs` or going backwards are left out, and so are those that end at a
// report flagged in `still` (no X/Y motion: the whole test leaves them out
// too; may be empty). Zero intervals (reports delivered together) count for
// the rate but not among the steps. `dropBefore` flags the reports whose gap
// held a kernel drop (may be empty); `periodUs` is the run's grid period, 0
// when unknown (the missed and dropped slots are then left empty).
IntervalBlocks intervalBlocks(const std::vector<int64_t>& stampsNs,
                              const std::vector<bool>& dropBefore, int64_t restNs, double periodUs,
                              const std::vector<bool>& still = {});

// Several runs of one setup as one run: their blocks one after another.
IntervalBlocks joinedBlocks(const std::vector<const IntervalBlocks*>& runs);

// Host phases make neighbouring blocks alike. The tests resample units of
// this many blocks: one while the blocks' figures do not follow each other
// (lag-1 correlation r, each run about its own mean, at most
// kMostLagCorrelation or within kLagStandardErrors of 0), else the blocks an
// AR(1) dependence of that r spans, (1 + r) / (1 − r). Each run's per-block
// figures in `runs[r][figure][block]`. 0 when that leaves fewer than
// kLeastUnitsPerRun units in some run: too short to tell.
inline constexpr double kMostLagCorrelation = 0.25;
inline constexpr double kLagStandardErrors = 1.65;
inline constexpr std::size_t kLeastUnitsPerRun = 3;
std::size_t unitBlocks(const std::vector<std::vector<std::vector<double>>>& runs);

// A difference of the second run from the first, and how often splitting
// the blocks at random gave one at least as large.
struct Tested {
  double first = 0, second = 0;  // the figure in each run (the distance: 0 and itself)
  double difference = 0;
  double pValue = 1;
};

struct IntervalTests {
  bool decidable = false;  // enough blocks for the level
  // Blocks per resampled unit (unitBlocks); 0: the runs are too short for
  // the dependence their blocks show.
  std::size_t unitBlocks = 1;
  Tested distance;       // the largest distance between the two distributions (0..1)
  Tested percentile[3];  // p50, p99, p99.9 (µs; nearest rank)
  // Each percentile's gap between the nearest blocks of the two runs when
  // every block of one lies beyond every block of the other and each run has
  // kLeastSeparatedBlocks; else 0. Shown even when the runs are too short for
  // the permutation test, which cannot reach kLevel with a few blocks.
  double separation[3] = {};
};
inline constexpr std::size_t kLeastSeparatedBlocks = 2;
inline constexpr double kPercentiles[3] = {0.5, 0.99, 0.999};

IntervalTests permutationTests(const IntervalBlocks& a, const IntervalBlocks& b);

// A count over an exposure in each run (per block when known). The spread
// of the blocks' counts around their run's rate, over what counting
// independent events would give, is the dispersion: the variance of each
// count is that many times its mean. Events (missed slots) are never
// counted as less dispersed than independent ones; the reports of a mouse's
// clock (the rate) are far more regular, down to kLeastRegularDispersion.
inline constexpr double kLeastRegularDispersion = 1e-4;
struct CountRun {
  double count = 0, exposure = 0;
  const std::vector<double>* blockCounts = nullptr;  // null when not known
  const std::vector<double>* blockExposures = nullptr;
};
struct CountTest {
  bool decidable = false;      // some run's blocks gave the dispersion
  std::size_t unitBlocks = 1;  // blocks per unit the dispersion was taken over; 0: too short
  double dispersion = 1;
  double z = 0;
  double pValue = 1;
};
CountTest overdispersedCountTest(const CountRun& a, const CountRun& b, bool events = true);

}  // namespace samplecomparison
