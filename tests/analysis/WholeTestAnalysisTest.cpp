#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "analysis/WholeTestAnalysis.h"
#include "recordings/GeneratedStream.h"

namespace {

constexpr int64_t kUs = 1000;
constexpr int64_t kMs = 1000 * kUs;

WholeTestFigures analyze(const std::vector<int64_t>& ns, std::vector<std::size_t> drops = {}) {
  return analyzeWholeTest(StampSeries::fromVectors(ns, {}, StampSeries::dropMarks(drops)));
}

// 8000 Hz, each report delivered up to 60 us early or late (uniformly): the
// intervals' median is the period, their spread sqrt(2) x 120 / sqrt(12) us.
TEST(WholeTestAnalysis, EightKilohertzWithHostJitter) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int64_t> delay(-60 * kUs, 60 * kUs);
  std::vector<int64_t> ns;
  for (int64_t i = 0; i < 80'000; ++i) ns.push_back(kMs + i * 125 * kUs + delay(random));
  const WholeTestFigures f = analyze(ns);

  EXPECT_EQ(f.reports, 80'000);
  EXPECT_EQ(f.rests, 0);
  EXPECT_NEAR(f.intervalUs.p50, 125.0, 1.0);
  EXPECT_NEAR(f.intervalUs.stddev, std::sqrt(2.0 * 120 * 120 / 12), 0.02 * 48.99);
  EXPECT_NEAR(*f.movingRateHz, 8000.0, 8.0);
  EXPECT_LE(f.intervalUs.max, 245.0);
  EXPECT_GE(f.intervalUs.p1, 5.0);
  // 3.7 % of the intervals are shorter than 0.3 periods, as a link that
  // hands reports over in batches makes them: the slots cannot be known.
  EXPECT_EQ(f.grid.status, GridStatus::Batched);
  EXPECT_FALSE(f.missedSlots || f.latenessUs);
}

// Flicks: 300 ms strokes at exactly 8000 Hz with 600 ms rests between them.
TEST(WholeTestAnalysis, ShortStrokesHaveAMovingRate) {
  std::vector<int64_t> ns;
  int64_t t = kMs;
  for (int stroke = 0; stroke < 11; ++stroke, t += 600 * kMs) {
    for (int i = 0; i < 2400; ++i, t += 125 * kUs) ns.push_back(t);
  }
  const WholeTestFigures f = analyze(ns);
  EXPECT_EQ(f.rests, 10);
  EXPECT_EQ(f.intervals, 11 * 2399);
  EXPECT_NEAR(*f.movingRateHz, 8000.0, 8.0);
  EXPECT_NEAR(f.movingSeconds, 11 * 2399 * 125e-6, 1e-9);
  EXPECT_DOUBLE_EQ(f.intervalUs.max, 125.0);
  EXPECT_DOUBLE_EQ(f.latenessUs->max, 0.0);
}

// 1000 Hz with holes of known size; one of them the kernel's (a drop mark),
// which is counted as dropped reports, not as missed slots.
TEST(WholeTestAnalysis, HolesAreMissedSlotsAndDropsAreTheKernels) {
  const struct {
    int at, missing;
    bool dropped;
  } holes[] = {{100, 1, false}, {300, 3, false}, {500, 7, false}, {700, 4, true}, {800, 0, true}};
  std::vector<int64_t> ns;
  std::vector<std::size_t> drops = {0};  // before the test's first report: not the test's
  int64_t t = kMs;
  for (int i = 0; i < 1000; ++i, t += kMs) {
    for (const auto& h : holes) {
      if (h.at != i) continue;
      t += h.missing * kMs;
      if (h.dropped) drops.push_back(ns.size());
    }
    ns.push_back(t);
  }
  const WholeTestFigures f = analyze(ns, drops);
  EXPECT_EQ(f.missedSlots, 1 + 3 + 7);
  EXPECT_EQ(f.kernelDrops, 2);
  EXPECT_EQ(f.kernelDroppedReports, 4);
  EXPECT_DOUBLE_EQ(f.intervalUs.p50, 1000.0);
  EXPECT_DOUBLE_EQ(f.intervalUs.max, 8000.0);
  // Retained (up to 10 baselines) and above 1.5 baselines: all four holes.
  EXPECT_EQ(f.anomalies, 4);
  EXPECT_NEAR(f.anomalyShare, 4.0 / 999, 1e-12);
}

// Reports on a 125 us grid, each late by a known amount, the pattern the same
// read forwards and backwards so the best-fitting grid is the true one.
TEST(WholeTestAnalysis, LatenessAgainstTheFittedGrid) {
  const int64_t pattern[] = {0, 5, 20, 35, 61, 61, 35, 20, 5, 0};
  std::vector<int64_t> ns;
  for (int64_t i = 0; i < 1000; ++i) ns.push_back(kMs + i * 125 * kUs + pattern[i % 10] * kUs);
  const WholeTestFigures f = analyze(ns);
  EXPECT_NEAR(f.latenessUs->p50, 20.0, 0.002);  // rank 500 of 0,0,5,5,20,20,35,35,61,61 x 100
  EXPECT_NEAR(f.latenessUs->p99, 61.0, 0.002);
  EXPECT_NEAR(f.latenessUs->max, 61.0, 0.002);
}

// One report in a hundred delivered late by 0.6 to 0.9 of a period, into
// the next slot's time: nothing is missing, and lateness says by how much.
TEST(WholeTestAnalysis, LateReportsAreNotMissedSlots) {
  std::mt19937 random(5);
  std::uniform_int_distribution<int64_t> late(75 * kUs, 112 * kUs);
  std::vector<int64_t> ns;
  int64_t latest = 0;
  for (int64_t i = 0; i < 80'000; ++i) {
    const int64_t delay = i % 100 == 50 ? late(random) : 0;
    latest = std::max(latest, delay);
    ns.push_back(kMs + i * 125 * kUs + delay);
  }
  const WholeTestFigures f = analyze(ns);
  EXPECT_EQ(f.missedSlots, 0);
  EXPECT_NEAR(f.latenessUs->p50, 0.0, 0.5);
  EXPECT_NEAR(f.latenessUs->max, latest / 1000.0, 0.5);
  EXPECT_NEAR(*f.movingRateHz, 8000.0, 1.0);
}

TEST(WholeTestAnalysis, PercentilesByNearestRank) {
  // Intervals 1..n us in a shuffled order: the percentile p is the value
  // ceil(p x n); an odd count puts half of the ranks between two values.
  const struct {
    int n;
    double p1, p50, p99, p99_9, mean;
  } cases[] = {{1000, 10, 500, 990, 999, 500.5}, {999, 10, 500, 990, 999, 500}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    std::vector<int64_t> ns = {0};
    std::vector<int64_t> gaps(static_cast<std::size_t>(c.n));
    for (int i = 0; i < c.n; ++i) gaps[static_cast<std::size_t>(i)] = (i + 1) * kUs;
    std::shuffle(gaps.begin(), gaps.end(), std::mt19937(3));
    for (int64_t g : gaps) ns.push_back(ns.back() + g);
    const WholeTestFigures f = analyze(ns);
    EXPECT_DOUBLE_EQ(f.intervalUs.p1, c.p1);
    EXPECT_DOUBLE_EQ(f.intervalUs.p50, c.p50);
    EXPECT_DOUBLE_EQ(f.intervalUs.p99, c.p99);
    EXPECT_DOUBLE_EQ(f.intervalUs.p99_9, c.p99_9);
    EXPECT_DOUBLE_EQ(f.intervalUs.max, c.n);
    EXPECT_DOUBLE_EQ(f.intervalUs.mean, c.mean);
  }
}

TEST(WholeTestAnalysis, NothingToMeasure) {
  // Reports all delivered at one instant have no moving time: no rate, and
  // no grid to put them on.
  for (const auto& ns :
       std::vector<std::vector<int64_t>>{{}, {kMs}, {kMs, kMs - 5}, {kMs, kMs, kMs, kMs}}) {
    const WholeTestFigures f = analyze(ns);
    EXPECT_EQ(f.reports, static_cast<int64_t>(ns.size()));
    EXPECT_EQ(f.intervals, f.equalStamps);
    EXPECT_FALSE(f.movingRateHz);
    EXPECT_EQ(f.intervalUs.p50, 0.0);
    EXPECT_EQ(f.grid.status, GridStatus::None);
    EXPECT_FALSE(f.missedSlots || f.latenessUs);
  }
}

// Reports piled at one stamp are one delivery: never a million reports a
// second, never slots of their own.
TEST(WholeTestAnalysis, PilesOfReportsAtOneStamp) {
  std::vector<int64_t> pile = {kMs};
  pile.insert(pile.end(), 1000, 2 * kMs);
  const WholeTestFigures one = analyze(pile);
  EXPECT_FALSE(one.movingRateHz);
  EXPECT_FALSE(one.movingRateReason.empty());
  EXPECT_EQ(one.intervals, 1000);
  // 125 Hz, each report handed over eight times at one stamp.
  std::vector<int64_t> eightfold;
  for (int64_t i = 0; i < 1250; ++i) eightfold.insert(eightfold.end(), 8, kMs + i * 8 * kMs);
  const WholeTestFigures f = analyze(eightfold);
  EXPECT_EQ(f.grid.status, GridStatus::Batched) << f.grid.reason;
  EXPECT_NEAR(f.grid.deliveryPeriodUs, 8000, 8);
  EXPECT_DOUBLE_EQ(f.grid.reportsPerDeliveryMean, 8);
  EXPECT_EQ(f.grid.reportsPerDeliveryMax, 8);
  EXPECT_FALSE(f.missedSlots || f.latenessUs);
}

// Streams from a model of a USB host, each with its truth. Tolerances: the
// grid's period within 0.1 %, missed and idle slots within 0.1 % of the
// reports, lateness p50 and p99 within 3 µs of the host delays; slot
// figures none where the grid cannot be known.
struct HostCase {
  const char* name;
  genstream::UsbHost host;
  double configuredUs;  // what the host is known to poll at; 0 unknown
  GridStatus status;
  double periodUs;           // the grid's true period
  std::size_t removeReport;  // a report lost on the way (0: none)
  std::vector<double> segmentPeriodsUs;
  bool idleKnown;            // the truth's idle slots are on the grid's period
  bool latenessMax = false;  // the truth's largest delay is the grid's too
  bool missedTight = false;  // missed and idle within 1 % of the missed slots
};

genstream::UsbHost host(double seconds, double periodUs) {
  genstream::UsbHost h;
  h.seconds = seconds;
  h.periodNs = periodUs * 1000;
  return h;
}

std::vector<HostCase> hostCases() {
  std::vector<HostCase> cases;
  const auto add = [&](const char* name, genstream::UsbHost h, double configuredUs,
                       GridStatus status, double periodUs, std::vector<double> segments = {}) {
    cases.push_back({name, h, configuredUs, status, periodUs, 0, std::move(segments), true});
    return &cases.back();
  };
  genstream::UsbHost jitter = host(20, 125);
  jitter.delayNs = 40'000;
  jitter.tailNs = 10'000;
  add("jitter", jitter, 0, GridStatus::Ok, 125);
  add("jitter, host's interval known", jitter, 125, GridStatus::Ok, 125);
  genstream::UsbHost slew = jitter;
  slew.slewPpm = 30;
  slew.seconds = 60;
  add("slew", slew, 0, GridStatus::Ok, 125);
  slew.slewPpm = -30;
  add("slew backwards, host's interval known", slew, 125, GridStatus::Ok, 125);
  genstream::UsbHost dup = host(20, 125);
  dup.duplicateShare = 0.01;
  add("duplicate stamps", dup, 0, GridStatus::Ok, 125);
  genstream::UsbHost batched = host(20, 1000);
  batched.batch = 4;
  add("batched by four", batched, 0, GridStatus::Batched, 4000);  // the deliveries' period
  genstream::UsbHost frames = host(30, 1000);
  frames.devicePeriodNs = 1'500'000;
  frames.delayNs = 20'000;
  add("1.5 ms mouse on 1 ms frames", frames, 0, GridStatus::Ok, 1000);
  add("1.5 ms mouse on 1 ms frames, a report lost", frames, 0, GridStatus::Ok, 1000)->removeReport =
      10'000;
  genstream::UsbHost slow = jitter;
  slow.countsPerSlot = 5000.0 / 8000;
  add("speed-limited at 5000 counts/s", slow, 0, GridStatus::Ok, 125);
  genstream::UsbHost strokes = host(20, 1000);
  strokes.delayNs = 20'000;
  strokes.strokeS = 0.3;
  strokes.pauseS = 0.1;
  add("strokes with pauses", strokes, 0, GridStatus::Ok, 1000);
  genstream::UsbHost change = jitter;
  change.switchAtS = 12.3;
  change.switchPeriodNs = 1'000'000;
  add("8000 then 1000 Hz", change, 0, GridStatus::Ok, 125, {125, 1000})->idleKnown = false;
  genstream::UsbHost saving = host(18, 1000);  // a mouse that saves power now and then
  saving.delayNs = 20'000;
  saving.switchAtS = 3;
  saving.switchPeriodNs = 8'000'000;
  saving.switchBackS = 3;
  add("1 ms and 8 ms by turns", saving, 0, GridStatus::Ok, 1000,
      {1000, 8000, 1000, 8000, 1000, 8000})
      ->idleKnown = false;
  genstream::UsbHost stretches = host(44, 1000);  // 1000 and 500 Hz by turns, 1.1 s each
  stretches.delayNs = 20'000;
  stretches.switchAtS = 1.1;
  stretches.switchPeriodNs = 2'000'000;
  stretches.switchBackS = 1.1;
  std::vector<double> turns;
  for (int k = 0; k < 40; ++k) turns.push_back(k % 2 == 0 ? 1000 : 2000);
  add("1000 and 500 Hz by turns, 1.1 s each", stretches, 0, GridStatus::Ok, 1000, turns)
      ->idleKnown = false;
  // Clocks off the host's, drifting, and intervals of no whole µs.
  genstream::UsbHost offClock = host(20, 125);
  offClock.delayNs = 5'000;
  offClock.clockPpm = 250;
  add("8 kHz clock 250 ppm off, host's interval known", offClock, 125, GridStatus::Ok, 125);
  offClock.clockPpm = -500;
  add("8 kHz clock 500 ppm slow, host's interval known", offClock, 125, GridStatus::Ok, 125);
  offClock.clockPpm = 0;
  offClock.rampPpm = 1000;
  add("0.1 % drift over 20 s, host's interval known", offClock, 125, GridStatus::Ok, 125);
  genstream::UsbHost fast = host(5, 62.5);
  fast.delayNs = 3'000;
  add("16 kHz", fast, 62.5, GridStatus::Ok, 62.5);
  // A grid that is not the mouse's spreads its reports over the period: it
  // says so instead of giving figures.
  add("16 kHz on a host interval taken as 63 µs", fast, 63, GridStatus::Ambiguous, 63);
  genstream::UsbHost third = host(10, 1e3 / 3);
  third.delayNs = 3'000;
  add("3 kHz", third, 1e3 / 3, GridStatus::Ok, 1e3 / 3);
  // A period that never occurs by itself: 250 and 375 µs on 125 µs polls,
  // 2000 and 3000 µs on 1 ms frames.
  genstream::UsbHost synced = host(20, 125);
  synced.devicePeriodNs = 1e9 / 3000;
  synced.delayNs = 5'000;
  add("motion-synced 3 kHz sensor on 125 µs polls", synced, 0, GridStatus::Ok, 125);
  genstream::UsbHost slowHand = host(20, 1000);
  slowHand.devicePeriodNs = 2'500'000;
  slowHand.delayNs = 9'000;
  add("1 kHz mouse, hand at 400 counts/s", slowHand, 0, GridStatus::Ok, 1000);
  // A hand that paces every report with a single count hides the mouse's
  // period behind its multiple, unless the host's interval is known; a clean
  // 1 kHz mouse at every interval is taken at its word.
  genstream::UsbHost paced = host(20, 1000);
  paced.delayNs = 9'000;
  paced.countsPerSlot = 0.5;
  add("1 kHz mouse, hand at 500 counts/s", paced, 0, GridStatus::Ambiguous, 2000);
  add("1 kHz mouse, hand at 500 counts/s, host's interval known", paced, 1000, GridStatus::Ok,
      1000);
  paced = host(20, 125);
  paced.delayNs = 3'000;
  paced.countsPerSlot = 0.5;
  add("8 kHz mouse, hand at 4000 counts/s", paced, 0, GridStatus::Ambiguous, 250);
  paced.countsPerSlot = 3;
  paced.periodNs = 1'000'000;
  add("clean 1 kHz mouse", paced, 0, GridStatus::Ok, 1000);
  // An 8 kHz mouse whose reports reach the kernel in pairs.
  genstream::UsbHost pairs = host(10, 125);
  pairs.batch = 2;
  pairs.batchGapNs = 0;
  add("pairs at one stamp", pairs, 0, GridStatus::Batched, 250);
  pairs.batchGapNs = 2'000;
  add("pairs 2 µs apart", pairs, 125, GridStatus::Batched, 250);
  // A host that queues through a 2 ms stall each second and then hands the
  // 16 queued reports over at one stamp: as late as the stall, and no slot empty.
  genstream::UsbHost queue = host(20, 125);
  queue.delayNs = 3'000;
  queue.burstEveryS = 1;
  queue.burstStallNs = 2'000'000;
  add("bursts after a stall", queue, 125, GridStatus::Ok, 125)->latenessMax = true;
  // A host with one request in flight whose interrupts are held off: the
  // late report carries one slot's counts, the next the counts built up.
  genstream::UsbHost held = host(20, 125);
  held.delayNs = 3'000;
  held.countsPerSlot = 2.5;
  held.stallEveryS = 0.05;
  held.stallLoNs = 200'000;
  held.stallHiNs = 400'000;
  add("interrupts held off 200-400 µs every 50 ms", held, 125, GridStatus::Ok, 125)->missedTight =
      true;
  held.stallEveryS = 1;
  held.stallLoNs = held.stallHiNs = 2'000'000;
  add("a 2 ms stall each second", held, 125, GridStatus::Ok, 125)->missedTight = true;
  // 0.5 % of the polls lost; the sensor builds whole counts from the hand.
  for (const double us : {500.0, 250.0, 125.0}) {
    genstream::UsbHost lost = host(20, us);
    lost.delayNs = 3'000;
    lost.countsPerSlot = 2.4;
    lost.lostPollShare = 0.005;
    add(us == 500   ? "0.5 % of polls lost at 2 kHz"
        : us == 250 ? "0.5 % of polls lost at 4 kHz"
                    : "0.5 % of polls lost at 8 kHz",
        lost, us, GridStatus::Ok, us)
        ->missedTight = true;
  }
  return cases;
}

// Links that hand over a few reports per connection event: the grid is the
// events', never a gap inside one.
TEST(WholeTestAnalysis, LinkDeliveriesAreFoundByTheirStructure) {
  const struct {
    const char* name;
    int64_t eventUs;
    int fewest, most;
    int64_t insideLoUs, insideHiUs;
    double meanReports;
  } cases[] = {{"Bluetooth LE, 7.5 ms events", 7500, 1, 3, 300, 700, 2},
               {"Bluetooth LE, 15 ms events", 15000, 1, 3, 300, 700, 2},
               {"3 reports per 7.5 ms event, 250 µs apart", 7500, 3, 3, 249, 251, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const genstream::Stream s = genstream::makeLinkStream(10, c.eventUs * kUs, c.fewest, c.most,
                                                          c.insideLoUs * kUs, c.insideHiUs * kUs);
    std::vector<int64_t> ns;
    std::vector<ReportMotion> motion;
    for (const genstream::Report& r : s.reports) {
      ns.push_back(r.ns);
      motion.push_back({3, -2, 0, 0, 0, ReportMotion::kKnown});
    }
    const WholeTestFigures f = analyzeWholeTest(StampSeries::fromVectors(ns, motion));
    EXPECT_EQ(f.grid.status, GridStatus::Batched) << f.grid.reason;
    EXPECT_NEAR(f.grid.deliveryPeriodUs, c.eventUs, c.eventUs * 0.001);
    EXPECT_NEAR(f.grid.reportsPerDeliveryMean, c.meanReports, 0.05);
    EXPECT_EQ(f.grid.reportsPerDeliveryMax, c.most);
    EXPECT_FALSE(f.missedSlots || f.latenessUs);
  }
}

double nearestRankUs(std::vector<int64_t> v, double p) {
  std::sort(v.begin(), v.end());
  const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(v.size())));
  return static_cast<double>(v[std::clamp<std::size_t>(rank, 1, v.size()) - 1]) / 1000.0;
}

TEST(WholeTestAnalysis, GridOnStreamsFromAUsbHost) {
  for (const HostCase& c : hostCases()) {
    SCOPED_TRACE(c.name);
    genstream::HostTruth truth;
    genstream::Stream s = genstream::makeUsbStream(c.host, truth);
    if (c.removeReport > 0) s.reports.erase(s.reports.begin() + c.removeReport);
    std::vector<int64_t> ns;
    std::vector<ReportMotion> motion;
    for (const genstream::Report& r : s.reports) {
      ns.push_back(r.ns);
      motion.push_back(
          {static_cast<int16_t>(r.dx), static_cast<int16_t>(r.dy), 0, 0, 0, ReportMotion::kKnown});
    }
    const WholeTestFigures f =
        analyzeWholeTest(StampSeries::fromVectors(ns, motion), {c.configuredUs});
    EXPECT_EQ(f.grid.status, c.status) << f.grid.reason;
    EXPECT_EQ(f.grid.source, c.configuredUs > 0 ? GridSource::Configured : GridSource::Estimated);
    EXPECT_NEAR(f.grid.periodUs, c.periodUs, c.periodUs * 0.001);
    ASSERT_EQ(f.segments.size(), c.segmentPeriodsUs.size());
    for (std::size_t k = 0; k < f.segments.size(); ++k) {
      EXPECT_NEAR(f.segments[k].periodUs, c.segmentPeriodsUs[k], c.segmentPeriodsUs[k] * 0.001);
      // The first report at the new rate comes up to one slower period late.
      EXPECT_NEAR(
          f.segments[k].startS, static_cast<double>(k) * c.host.switchAtS,
          0.002 + *std::max_element(c.segmentPeriodsUs.begin(), c.segmentPeriodsUs.end()) / 1e6);
      EXPECT_NEAR(f.segments[k].movingRateHz, 1e6 / c.segmentPeriodsUs[k],
                  1e6 / c.segmentPeriodsUs[k] * 0.002);
    }
    if (c.status != GridStatus::Ok) {
      EXPECT_FALSE(f.missedSlots || f.idleSlots || f.latenessUs);
      EXPECT_FALSE(f.grid.reason.empty());
      continue;
    }
    const double tolerance = c.missedTight ? 0.01 * static_cast<double>(truth.missed) + 1
                                           : 0.001 * static_cast<double>(f.reports);
    ASSERT_TRUE(f.missedSlots && f.idleSlots && f.latenessUs);
    EXPECT_NEAR(static_cast<double>(*f.missedSlots), static_cast<double>(truth.missed), tolerance);
    if (c.idleKnown) {
      EXPECT_NEAR(static_cast<double>(*f.idleSlots), static_cast<double>(truth.idle), tolerance);
    }
    EXPECT_NEAR(f.latenessUs->p50, nearestRankUs(truth.lateNs, 0.5), 3.0);
    EXPECT_NEAR(f.latenessUs->p99, nearestRankUs(truth.lateNs, 0.99), 3.0);
    if (c.latenessMax) {
      EXPECT_NEAR(f.latenessUs->max, nearestRankUs(truth.lateNs, 1), 5.0);
    }
  }
}

}  // namespace
