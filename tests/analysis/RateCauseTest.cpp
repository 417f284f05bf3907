#include <gtest/gtest.h>

#include <cmath>

#include "CjkText.h"
#include "analysis/RateCause.h"
#include "i18n/Translate.h"
#include "recordings/GeneratedStream.h"

namespace {

constexpr int64_t kSlotNs = 125'000;  // 8000 Hz

// A sensor polled at 8000 Hz that reports only in slots where a whole count
// of motion has built up, moved at each stage's speed (counts/s) for its time.
StampSeries sensor(const std::vector<std::pair<double, double>>& stages) {
  std::vector<int64_t> ns;
  std::vector<ReportMotion> motion;
  double built = 0.0;
  int64_t slot = 0;
  for (const auto& [countsPerS, seconds] : stages) {
    for (int64_t end = slot + std::llround(seconds * 8000); slot < end; ++slot) {
      built += countsPerS / 8000.0;
      if (built < 1.0) continue;
      ReportMotion m;
      m.dx = static_cast<int16_t>(std::floor(built));
      m.flags = ReportMotion::kKnown;
      built -= m.dx;
      ns.push_back(1'000'000'000 + slot * kSlotNs);
      motion.push_back(m);
    }
  }
  return StampSeries::fromVectors(ns, motion);
}

// `reportsPerSecond` evenly spaced for a second, each carrying `counts`
// (none: motion unknown); optional kernel drops each costing `dropCost`.
StampSeries steady(double reportsPerSecond, int counts, int drops = 0, int dropCost = 0) {
  std::vector<int64_t> ns;
  std::vector<ReportMotion> motion;
  std::vector<std::size_t> dropMarks;
  const auto step = static_cast<int64_t>(1e9 / reportsPerSecond);
  int64_t t = 1'000'000'000;
  for (int i = 0; i < static_cast<int>(reportsPerSecond); ++i, t += step) {
    if (drops > 0 && i % (static_cast<int>(reportsPerSecond) / drops) == 1) {
      dropMarks.push_back(ns.size());
      t += dropCost * step;
    }
    ns.push_back(t);
    ReportMotion m;
    m.dx = static_cast<int16_t>(counts);
    m.flags = counts > 0 ? ReportMotion::kKnown : 0;
    motion.push_back(m);
  }
  return StampSeries::fromVectors(ns, counts > 0 ? motion : std::vector<ReportMotion>{},
                                  StampSeries::dropMarks(dropMarks));
}

// 4000 reports in a second: `singles` of every 20 move one count, the rest three.
StampSeries mixed(int singles) {
  std::vector<int64_t> ns;
  std::vector<ReportMotion> motion;
  for (int i = 0; i < 4000; ++i) {
    ns.push_back(1'000'000'000 + int64_t{i} * 250'000);
    ReportMotion m;
    m.dx = static_cast<int16_t>(i % 20 < singles ? 1 : 3);
    m.flags = ReportMotion::kKnown;
    motion.push_back(m);
  }
  return StampSeries::fromVectors(ns, motion);
}

TEST(RateCause, EachCauseFromAStreamThatHasIt) {
  const struct {
    const char* name;
    StampSeries series;
    const char* cause;
    const char* words;
    const char* english;
  } cases[] = {
      {"fast enough", sensor({{24000, 1.0}}), "reached", "达到 8000 Hz", "Reached 8000 Hz"},
      {"slow hand", sensor({{2000, 1.0}}), "speed_limited",
       "移动速度不足：约 8000 counts/s 以上才达到 8000 Hz，请更快移动或提高 DPI",
       "Moving too slowly: about 8000 counts/s or more are needed for 8000 Hz; move faster or "
       "raise "
       "the DPI"},
      {"mouse at 4000 Hz with motion to spare", steady(4000, 5), "device_limited",
       "鼠标或其连接未达到目标", "falls short of the target"},
      {"kernel drops", steady(8000, 5, 40, 30), "kernel_drops", "内核丢弃了约 1200 个报告",
       "reports dropped by the kernel: about 1200"},
      {"no motion", steady(4000, 0), "no_motion_data", "无法判断原因", "the cause cannot be told"},
      // Just below the reached share (0.93 of 8000 Hz), and drops costing
      // 0.5 % of the reports, below the kernel's share.
      {"just short", steady(7440, 5), "device_limited", "回报率却只有 7440 Hz",
       "the rate is only 7440 Hz"},
      {"a few drops", steady(7000, 5, 10, 4), "device_limited", "目标 8000 Hz", "(target 8000 Hz)"},
      // Drops costing about 1.1 % of the reports: with them added back the rate
      // is still far from 8000 Hz, so the kernel is not the cause.
      {"drops just over a hundredth", steady(7000, 5, 10, 8), "device_limited", "回报率却只有",
       "the rate is only"},
      // At 4000 Hz, 45 % or 55 % of the reports carrying a single count and
      // the rest three: the hand moved some 7,600 counts/s, which a mouse
      // reporting every count would have sent; this one sent half.
      {"45 % single counts", mixed(9), "device_limited", "目标 8000 Hz", "(target 8000 Hz)"},
      {"55 % single counts", mixed(11), "device_limited", "回报率却只有 4000 Hz",
       "the rate is only 4000 Hz"},
  };
  for (const auto& c : cases) {
    WholeTestFigures f = analyzeWholeTest(c.series);
    judgeCapability(c.series, 8000.0, f);
    const std::optional<RateCause> cause = diagnoseRate(f, 8000.0);
    ASSERT_TRUE(cause) << c.name;
    EXPECT_STREQ(rateCauseKey(cause->kind), c.cause) << c.name;
    EXPECT_NE(cause->text.find(c.words), std::string::npos) << c.name << ": " << cause->text;
    i18n::initTranslation(i18n::Language::English);
    const std::string english = diagnoseRate(f, 8000.0)->text;
    i18n::initTranslation(i18n::Language::Chinese);
    EXPECT_NE(english.find(c.english), std::string::npos) << c.name << ": " << english;
    EXPECT_EQ(firstCjk(english), "") << c.name << ": " << english;
  }
  EXPECT_FALSE(diagnoseRate(analyzeWholeTest(StampSeries{}), 8000.0));
}

// A mouse polled at `pollHz` that can report every `every`-th poll, in
// steps of `step` counts, moved through the hand's stages (counts/s for
// seconds; 0: the mouse lies still and sends nothing).
genstream::Stream mouse(double pollHz, int every, int step,
                        const std::vector<std::pair<double, double>>& stages) {
  genstream::Stream s;
  double built = 0.0;
  int64_t slot = 0;
  for (const auto& [countsPerS, seconds] : stages) {
    for (int64_t end = slot + std::llround(seconds * pollHz); slot < end; ++slot) {
      built += countsPerS / pollHz;
      if (slot % every != 0 || built < step) continue;
      const int c = static_cast<int>(built / step) * step;
      built -= c;
      s.reports.push_back({1'000'000'000 + static_cast<int64_t>(slot * 1e9 / pollHz), c, 0});
    }
  }
  return s;
}

StampSeries seriesOf(const genstream::Stream& s, uint8_t wheel = 0, uint8_t buttons = 0) {
  std::vector<int64_t> ns;
  std::vector<ReportMotion> motion;
  for (const genstream::Report& r : s.reports) {
    ns.push_back(r.ns);
    ReportMotion m;
    m.dx = static_cast<int16_t>(r.dx);
    m.dy = static_cast<int16_t>(r.dy);
    m.wheel = static_cast<int8_t>(r.dx == 0 && r.dy == 0 ? wheel : 0);
    m.buttonChanges = r.dx == 0 && r.dy == 0 ? buttons : 0;
    m.flags = ReportMotion::kKnown;
    motion.push_back(m);
  }
  return StampSeries::fromVectors(ns, motion, StampSeries::dropMarks(s.drops));
}

// A stream with a kernel drop before every `every`-th report, each taking
// `cost` reports with it.
genstream::Stream withDrops(genstream::Stream s, std::size_t every, std::size_t cost) {
  genstream::Stream out;
  for (std::size_t i = 0; i < s.reports.size(); ++i) {
    if (i % every == every / 2 && i + cost < s.reports.size()) {
      out.drops.push_back(out.reports.size());
      i += cost;
    }
    out.reports.push_back(s.reports[i]);
  }
  return out;
}

// Reports without motion (the wheel turned, a button pressed) every 10 ms for a second.
genstream::Stream still() {
  genstream::Stream s;
  for (int i = 0; i < 100; ++i)
    s.reports.push_back({1'000'000'000 + int64_t{i} * 10'000'000, 0, 0});
  return s;
}

// A stroke at full rate, then the mouse still while a button is pressed
// and released every 60 ms.
genstream::Stream strokeThenButtons() {
  genstream::Stream s = mouse(1000, 1, 1, {{8000, 0.5}});
  for (int i = 1; i <= 20; ++i) s.reports.push_back({s.reports.back().ns + 60'000'000, 0, 0});
  return s;
}

// One report, then 1,000 at one stamp a millisecond later.
genstream::Stream pile() {
  genstream::Stream s;
  s.reports.push_back({1'000'000'000, 3, 0});
  s.reports.insert(s.reports.end(), 1000, {1'001'000'000, 3, 0});
  return s;
}

genstream::Stream batched() {
  genstream::UsbHost h;
  h.seconds = 2;
  h.batch = 2;
  genstream::HostTruth truth;
  return genstream::makeUsbStream(h, truth);
}

// Whose limit a low rate is: each row a stream whose truth is known, the
// cause, the verdict on the mouse and its capability (0: none).
TEST(RateCause, JudgesTheMouseNotTheHand) {
  RateContext eightK;
  eightK.yardstickHz = 8000;
  eightK.yardstickAsked = true;
  RateContext oneK = eightK;
  oneK.yardstickHz = 1000;
  RateContext mousepoll;  // the mouse asks for 1000 Hz, usbhid.mousepoll=8 polls it at 125
  mousepoll.yardstickHz = 125;
  mousepoll.yardstickAsked = true;
  mousepoll.hostHz = 125;
  mousepoll.requestedHz = 1000;
  mousepoll.hostReason = "usbhid_mousepoll";
  mousepoll.mousepollMs = 8;
  RateContext ownRate;  // Bluetooth at 89 Hz: the estimated grid's own rate
  ownRate.yardstickHz = 89;
  RateContext linkRate;  // Bluetooth LE: 2 reports per 7.5 ms event on average
  linkRate.yardstickHz = 2 / 7.5e-3;
  const struct {
    const char* name;
    StampSeries series;
    RateContext context;
    const char* cause;
    const char* verdict;
    double capabilityHz;
    const char* words;  // in the cause's text, or the verdict's reason
    double movingHz = 0;
  } rows[] = {
      {"healthy, fast hand", seriesOf(mouse(8000, 1, 1, {{24000, 1}})), eightK, "reached",
       "reached", 8000, "达到 8000 Hz"},
      {"healthy, slow hand", seriesOf(mouse(8000, 1, 1, {{2000, 1}})), eightK, "speed_limited",
       "unknown", 0, "手速不足以判断：需约 8000 counts/s"},
      {"interpolated DPI, counts in steps of 2", seriesOf(mouse(8000, 1, 2, {{6000, 1}})), eightK,
       "speed_limited", "unknown", 0, "手速不足以判断：需约 16000 counts/s"},
      {"interpolated DPI, fast hand", seriesOf(mouse(8000, 1, 2, {{40000, 1}})), eightK, "reached",
       "reached", 8000, "达到 8000 Hz"},
      {"capped at 4000 Hz, hand at 5000 counts/s", seriesOf(mouse(8000, 2, 1, {{5000, 1}})), eightK,
       "device_limited", "unknown", 0, "回报率却只有 4000 Hz（要求 8000 Hz）"},
      {"capped at 4000 Hz, fast hand", seriesOf(mouse(8000, 2, 1, {{24000, 1}})), eightK,
       "device_limited", "below", 4000, "回报率却只有 4000 Hz"},
      {"half-rate sensor", seriesOf(mouse(8000, 2, 2, {{4000, 0.5}, {8000, 0.5}, {40000, 1}})),
       eightK, "device_limited", "below", 4000, "回报率却只有 4000 Hz"},
      {"wheel only", seriesOf(still(), 1), eightK, "no_motion_data", "unknown", 0,
       "只有滚轮或按键"},
      {"stroke, then buttons with the mouse still", seriesOf(strokeThenButtons(), 0, 1), oneK,
       "reached", "reached", 1000, "达到 1000 Hz", 1000},
      {"strokes at full rate with pauses",
       seriesOf(mouse(
           1000, 1, 1,
           {{8000, 0.3}, {0, 0.1}, {8000, 0.3}, {0, 0.1}, {8000, 0.3}, {0, 0.1}, {8000, 0.3}})),
       oneK, "reached", "reached", 1000, "达到 1000 Hz", 1000 * 1.2 / 1.5},
      {"2 % drops on a mouse capped at half the rate",
       seriesOf(withDrops(mouse(8000, 2, 1, {{24000, 1}}), 50, 1)), eightK, "device_limited",
       "below", 4000 * 50 / 51.0, "回报率却只有"},
      {"drops that explain the shortfall",
       seriesOf(withDrops(mouse(8000, 1, 1, {{24000, 1}}), 10, 1)), eightK, "kernel_drops", "near",
       8000 * 10 / 11.0, "内核丢弃了约"},
      // Either side of the share of what the motion allowed (0.9): the hand
      // allowed 4600 and 4300 reports/s, the mouse sent 4000.
      {"capped at 4000 Hz, sending 0.87 of what the hand allowed",
       seriesOf(mouse(8000, 2, 1, {{4600, 1}})), eightK, "device_limited", "unknown", 0,
       "回报率却只有 4000 Hz"},
      {"capped at 4000 Hz, sending 0.93 of what the hand allowed",
       seriesOf(mouse(8000, 2, 1, {{4300, 1}})), eightK, "speed_limited", "unknown", 0,
       "手速不足以判断"},
      // Either side of drops that explain the shortfall (0.95 of 8000 Hz with
      // the dropped reports added back): mice polled at 7400 and 7700 Hz.
      {"drops on a 7400 Hz mouse", seriesOf(withDrops(mouse(7400, 1, 1, {{24000, 1}}), 10, 1)),
       eightK, "device_limited", "near", 7400 * 10 / 11.0, "回报率却只有"},
      {"drops on a 7700 Hz mouse", seriesOf(withDrops(mouse(7700, 1, 1, {{24000, 1}}), 10, 1)),
       eightK, "kernel_drops", "near", 7700 * 10 / 11.0, "内核丢弃了约"},
      // A healthy mouse whose reader fell behind: each drop a gap of 55 ms,
      // 8 % of the reports lost. The gaps are not the hand resting.
      {"8 % of the reports lost in drop gaps of 55 ms",
       seriesOf(withDrops(mouse(8000, 1, 1, {{24000, 4}}), 5060, 440)), eightK, "kernel_drops",
       "reached", 8000, "鼠标达到 8000 Hz，但内核丢弃了约 8 % 的报告：读取跟不上"},
      {"a pile of 1,000 reports at one stamp", seriesOf(pile()), oneK, "no_motion_data", "unknown",
       0, "移动时间太短"},
      {"host polls below what the mouse asks", seriesOf(mouse(125, 1, 1, {{4000, 2}})), mousepoll,
       "host_limited", "reached", 125, "usbhid.mousepoll=8"},
      {"Bluetooth at its own rate", seriesOf(mouse(89, 1, 1, {{4000, 3}})), ownRate, "reached",
       "reached", 89, "达到 89 Hz"},
      {"Bluetooth LE events, judged on the link's rate",
       seriesOf(genstream::makeLinkStream(10, 7'500'000, 1, 3, 300'000, 700'000)), linkRate,
       "reached", "reached", 267, "（报告成批送达：每 7.50 ms 一批，每批平均 2.0 个，最多 3 个）"},
      {"batched link, judged on the rate", seriesOf(batched()), eightK, "reached", "reached", 8000,
       "达到 8000 Hz"},
  };
  for (const auto& r : rows) {
    WholeTestFigures f = analyzeWholeTest(r.series);
    judgeCapability(r.series, r.context.yardstickHz, f);
    const std::optional<RateCause> cause = diagnoseRate(f, r.context);
    if (!cause) {
      ADD_FAILURE() << r.name << ": no cause";
      continue;
    }
    EXPECT_STREQ(rateCauseKey(cause->kind), r.cause) << r.name << ": " << cause->text;
    const JudgedMouse mouseVerdict = judgeMouse(f, r.context.yardstickHz);
    EXPECT_STREQ(mouseVerdictKey(mouseVerdict.verdict), r.verdict) << r.name;
    EXPECT_EQ(f.capabilityHz.has_value(), r.capabilityHz > 0) << r.name;
    if (f.capabilityHz && r.capabilityHz > 0) {
      EXPECT_NEAR(*f.capabilityHz, r.capabilityHz, r.capabilityHz * 0.02) << r.name;
    }
    const std::string said = cause->text + " / " + mouseVerdict.reason;
    EXPECT_NE(said.find(r.words), std::string::npos) << r.name << ": " << said;
    i18n::initTranslation(i18n::Language::English);
    const std::string english =
        diagnoseRate(f, r.context)->text + " / " + judgeMouse(f, r.context.yardstickHz).reason;
    i18n::initTranslation(i18n::Language::Chinese);
    EXPECT_EQ(firstCjk(english), "") << r.name << ": " << english;
    // No text names a rate the mouse did not ask for.
    if (!r.context.yardstickAsked) {
      EXPECT_EQ(said.find("要求"), std::string::npos) << r.name << ": " << said;
    }
    if (r.movingHz > 0) {
      ASSERT_TRUE(f.movingRateHz) << r.name;
      EXPECT_NEAR(*f.movingRateHz, r.movingHz, r.movingHz * 0.03) << r.name;
    }
  }
}

// A sweep from slow to fast: the rate follows the hand until one count per
// slot, 8000 counts/s; the bands are octaves, so the saturation speed found
// is the band that holds 8000 or the next one up.
TEST(RateCause, SweepFindsTheSaturationSpeed) {
  const StampSeries sweep = sensor({{500, 0.5},
                                    {1000, 0.5},
                                    {2000, 0.5},
                                    {3000, 0.5},
                                    {6000, 0.5},
                                    {8000, 0.5},
                                    {12000, 0.5},
                                    {20000, 0.5}});
  const WholeTestFigures f = analyzeWholeTest(sweep);
  ASSERT_TRUE(f.motion.known);
  const std::optional<RateCause> cause = diagnoseRate(f, 8000.0);
  ASSERT_TRUE(cause);
  ASSERT_TRUE(cause->saturationCountsPerS);
  EXPECT_TRUE(*cause->saturationCountsPerS == 4096.0 || *cause->saturationCountsPerS == 8192.0)
      << *cause->saturationCountsPerS;
  EXPECT_STREQ(rateCauseKey(cause->kind), "speed_limited");
  // The rate in each band follows the hand's speed below saturation.
  for (const SpeedBand& b : f.motion.bands) {
    if (b.lowCountsPerS < 4096 && b.movingSeconds > 0.3) {
      EXPECT_LT(b.rateHz, 2 * b.lowCountsPerS * 1.05) << b.lowCountsPerS;
      EXPECT_GT(b.rateHz, b.lowCountsPerS * 0.95) << b.lowCountsPerS;
    }
  }
  EXPECT_NEAR(f.motion.totalCounts, 0.5 * (500 + 1000 + 2000 + 3000 + 6000 + 8000 + 12000 + 20000),
              2.0);
  EXPECT_NEAR(f.motion.speedMax, 20000, 200);
}

}  // namespace
