// The switch test's figures and chatter list on generated click streams
// whose truth is written out by hand, and the CPI of generated strokes.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "analysis/ButtonAnalysis.h"
#include "analysis/CpiMeasure.h"

namespace {

using buttons::ButtonEdge;

constexpr uint16_t kLeft = 0x110, kRight = 0x111, kSide = 0x113, kExtra = 0x114;

int64_t ms(double v) { return static_cast<int64_t>(std::llround(v * 1e6)); }

// `count` clicks of `code` every `periodMs`, held `holdMs`, from `fromMs`.
void clicks(std::vector<ButtonEdge>& out, uint16_t code, int count, double periodMs, double holdMs,
            double fromMs = 0) {
  for (int i = 0; i < count; ++i) {
    out.push_back({ms(fromMs + i * periodMs), code, true});
    out.push_back({ms(fromMs + i * periodMs + holdMs), code, false});
  }
}

// A bounce: the switch closes again `gapMs` after the release at `releaseMs`
// and opens `holdMs` later.
void bounce(std::vector<ButtonEdge>& out, uint16_t code, double releaseMs, double gapMs,
            double holdMs) {
  out.push_back({ms(releaseMs + gapMs), code, true});
  out.push_back({ms(releaseMs + gapMs + holdMs), code, false});
}

std::vector<ButtonEdge> sorted(std::vector<ButtonEdge> e) {
  std::stable_sort(e.begin(), e.end(), [](auto& a, auto& b) { return a.ns < b.ns; });
  return e;
}

struct Expected {
  uint16_t code;
  uint32_t presses;
  double holdP50, holdMin, gapMin, gapP1;
  uint32_t fastest, chatter;
  const char* verdict;
};
struct ExpectedChatter {
  double atMs;
  uint16_t code;
  double gapMs, holdMs;
};
struct Row {
  const char* name;
  std::vector<ButtonEdge> edges;
  double chatterMs;
  std::vector<Expected> buttons;
  std::vector<ExpectedChatter> chatter;
};

std::vector<Row> rows() {
  std::vector<Row> r;
  {  // 5 clean presses a second
    Row row{"clean 5/s", {}, 30, {{kLeft, 10, 80, 80, 120, 120, 5, 0, "正常"}}, {}};
    clicks(row.edges, kLeft, 10, 200, 80);
    r.push_back(row);
  }
  {  // 12 a second, the fastest hand
    Row row{"clean 12/s", {}, 30, {{kLeft, 24, 40, 40, 44, 44, 12, 0, "正常"}}, {}};
    clicks(row.edges, kLeft, 24, 84, 40);
    r.push_back(row);
  }
  {  // bounces 1 ms and 10 ms after a release; the gaps after them shrink
    Row row{"bounces",
            {},
            30,
            {{kLeft, 10, 60, 2, 1, 1, 10, 2, "疑似连击：2 次（最短间隔 1.0 ms）"}},
            {{311, kLeft, 1, 2}, {695, kLeft, 10, 6}}};
    clicks(row.edges, kLeft, 8, 125, 60);
    bounce(row.edges, kLeft, 310, 1, 2);
    bounce(row.edges, kLeft, 685, 10, 6);
    row.edges = sorted(row.edges);
    r.push_back(row);
  }
  {  // a threshold of 10 ms: the 10 ms bounce is a (very fast) click
    Row row{"bounces, 10 ms",
            {},
            10,
            {{kLeft, 10, 60, 2, 1, 1, 10, 1, "疑似连击：1 次（最短间隔 1.0 ms）"}},
            {{311, kLeft, 1, 2}}};
    clicks(row.edges, kLeft, 8, 125, 60);
    bounce(row.edges, kLeft, 310, 1, 2);
    bounce(row.edges, kLeft, 685, 10, 6);
    row.edges = sorted(row.edges);
    r.push_back(row);
  }
  {  // gaps of 30 ms (a hand) and 29 ms (a bounce); a 4 ms press and a 5 ms one
    Row row{"thresholds",
            {{0, kLeft, true},
             {ms(50), kLeft, false},
             {ms(80), kLeft, true},
             {ms(130), kLeft, false},
             {ms(159), kLeft, true},
             {ms(209), kLeft, false},
             {ms(400), kLeft, true},
             {ms(404), kLeft, false},
             {ms(600), kLeft, true},
             {ms(605), kLeft, false}},
            30,
            {{kLeft, 5, 50, 4, 29, 29, 5, 2, "疑似连击：2 次（最短间隔 4.0 ms）"}},
            {{159, kLeft, 29, 50}, {400, kLeft, 191, 4}}};
    r.push_back(row);
  }
  {  // left and right in the same report; side buttons; autorepeat never
     // arrives here (the router drops it), a repeated press changes nothing
    Row row{"two at once, side buttons",
            {{0, kLeft, true},
             {0, kRight, true},
             {ms(70), kLeft, false},
             {ms(90), kRight, false},
             {ms(200), kSide, true},
             {ms(250), kSide, true},
             {ms(280), kSide, false},
             {ms(400), kExtra, true},
             {ms(490), kExtra, false},
             {ms(700), kSide, true},
             {ms(760), kSide, false}},
            30,
            {{kLeft, 1, 70, 70, -1, -1, 1, 0, "正常"},
             {kRight, 1, 90, 90, -1, -1, 1, 0, "正常"},
             {kSide, 2, 60, 60, 420, 420, 2, 0, "正常"},
             {kExtra, 1, 90, 90, -1, -1, 1, 0, "正常"}},
            {}};
    r.push_back(row);
  }
  return r;
}

TEST(ButtonAnalysisTest, FiguresAndChatterOfGeneratedClickStreams) {
  for (const Row& row : rows()) {
    SCOPED_TRACE(row.name);
    const buttons::ButtonSummary s = buttons::summarizeButtons(row.edges, row.chatterMs);
    ASSERT_EQ(s.buttons.size(), row.buttons.size());
    for (size_t i = 0; i < row.buttons.size(); ++i) {
      const Expected& e = row.buttons[i];
      const buttons::ButtonFigures& f = s.buttons[i];
      EXPECT_EQ(f.code, e.code);
      EXPECT_EQ(f.presses, e.presses);
      EXPECT_NEAR(f.holdP50Ms, e.holdP50, 1e-9);
      EXPECT_NEAR(f.holdMinMs, e.holdMin, 1e-9);
      EXPECT_NEAR(f.gapMinMs, e.gapMin, 1e-9);
      EXPECT_NEAR(f.gapP1Ms, e.gapP1, 1e-9);
      EXPECT_EQ(f.fastestPerSecond, e.fastest);
      EXPECT_EQ(f.chatterCount, e.chatter);
      EXPECT_EQ(buttons::buttonVerdict(f), e.verdict);
    }
    ASSERT_EQ(s.chatter.size(), row.chatter.size());
    for (size_t i = 0; i < row.chatter.size(); ++i) {
      EXPECT_EQ(s.chatter[i].atNs, ms(row.chatter[i].atMs));
      EXPECT_EQ(s.chatter[i].code, row.chatter[i].code);
      EXPECT_NEAR(s.chatter[i].gapMs, row.chatter[i].gapMs, 1e-9);
      EXPECT_NEAR(s.chatter[i].holdMs, row.chatter[i].holdMs, 1e-9);
    }
  }
}

// Three strokes of 10 cm along a ruler: the hand off by up to 3 %, one
// stroke 5° crooked; the CPI within 1 % of the sensor's.
TEST(CpiMeasureTest, StrokesGiveTheSensorsResolution) {
  struct Row {
    double cpi;
    double hand[3];      // each stroke's length error
    double angleDeg[3];  // each stroke's angle off the X axis
    bool alongY;
    int nearest;
    double spreadPct;
  };
  const Row rows[] = {{400, {0, 0, 0}, {0, 0, 0}, false, 400, 0},
                      {800, {0.03, -0.03, 0}, {0, 0, 0}, false, 800, 6},
                      {1600, {0.03, 0, -0.03}, {0, 5, 0}, true, 1600, 6.4},
                      {1600, {0, 0, 0}, {5, 5, 5}, false, 1600, 0}};
  const double inches = 10 / cpi::kCmPerInch;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.cpi);
    std::vector<cpi::Stroke> strokes;
    for (int i = 0; i < 3; ++i) {
      const double counts = inches * (1 + row.hand[i]) * row.cpi;
      const double a = row.angleDeg[i] * M_PI / 180;
      const auto along = std::llround(counts * std::cos(a));
      const auto across = std::llround(counts * std::sin(a));
      strokes.push_back(row.alongY ? cpi::Stroke{across, -along} : cpi::Stroke{along, across});
    }
    const cpi::CpiResult r = cpi::measureCpi(strokes, inches);
    EXPECT_NEAR(r.cpi, row.cpi, row.cpi * 0.01);
    EXPECT_EQ(r.nearestSetting, row.nearest);
    EXPECT_EQ(r.axis, row.alongY ? 'y' : 'x');
    EXPECT_NEAR(r.spreadPct, row.spreadPct, 0.5);
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(r.strokes[static_cast<size_t>(i)].offAxisShare,
                  std::tan(row.angleDeg[i] * M_PI / 180), 0.002);
      EXPECT_FALSE(r.strokes[static_cast<size_t>(i)].crooked());
    }
  }
}

TEST(CpiMeasureTest, DistancesAndTheirUnits) {
  EXPECT_EQ(cpi::parseDistanceMm("10cm"), 100.0);
  EXPECT_EQ(cpi::parseDistanceMm("100 mm"), 100.0);
  EXPECT_NEAR(*cpi::parseDistanceMm("4in"), 101.6, 1e-9);
  for (const char* bad : {"10", "10 km", "-3cm", "0mm", "cm", "20m"})
    EXPECT_FALSE(cpi::parseDistanceMm(bad)) << bad;
}

}  // namespace
