#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The sensor's resolution from strokes of a known length along a ruler:
// counts per inch along the axis the strokes follow. Plain values; any
// thread.
namespace cpi {

inline constexpr double kCmPerInch = 2.54;
inline constexpr int kStrokes = 3;
// The settings mouse software offers; the measured CPI is named by the
// nearest of them.
inline constexpr int kCommonSettings[] = {400,  800,  1000, 1200,  1600,  2000,  2400, 3200,
                                          4000, 6400, 8000, 12000, 16000, 26000, 30000};
// A stroke whose off-axis counts exceed this share of its main-axis counts
// (about 6°) is crooked: its main-axis counts fall short by over 0.5 %.
inline constexpr double kCrookedShare = 0.10;

// The counts one stroke summed, each axis with its sign.
struct Stroke {
  int64_t x = 0, y = 0;
};

struct StrokeFigures {
  char axis = 'x';          // the main axis: the one with more counts
  int64_t mainCounts = 0;   // absolute
  double offAxisShare = 0;  // |off-axis counts| / |main-axis counts|
  double cpi = 0;           // mainCounts / inches
  bool crooked() const { return offAxisShare > kCrookedShare; }
};

struct CpiResult {
  double inches = 0;
  std::vector<StrokeFigures> strokes;
  char axis = 'x';           // the axis most strokes followed
  double cpi = 0;            // mean of the strokes' CPI
  double spreadPct = 0;      // (largest − smallest) / mean × 100
  int nearestSetting = 0;    // from kCommonSettings
  double offSettingPct = 0;  // (cpi − nearest) / nearest × 100
};

// Millimetres from "10cm", "100mm", "4in" (also "4 in", "3.5cm"); nullopt
// for anything else or a length not above 0 or above 10 m.
std::optional<double> parseDistanceMm(const std::string& text);

// Finds the strokes in a mouse's running totals, for the terminal and the
// window alike: a stroke starts at the first motion after kRestBeforeNs
// without any, and ends once the mouse has been still for kRestAfterNs.
// Fed on one thread with the totals and the stamp of the last report that
// moved; times in nanoseconds of one clock.
class StrokeTracker {
 public:
  static constexpr int64_t kRestBeforeNs = 250'000'000;
  static constexpr int64_t kRestAfterNs = 400'000'000;
  enum class Phase { WaitingForRest, Ready, Moving, Done };

  // The stroke ends here with its counts; nullopt while it goes on.
  std::optional<Stroke> step(int64_t nowNs, int64_t x, int64_t y, int64_t lastMotionNs);
  Phase phase() const { return phase_; }
  // The counts of the stroke so far.
  Stroke live() const { return live_; }

 private:
  Phase phase_ = Phase::WaitingForRest;
  int64_t baseX_ = 0, baseY_ = 0;
  Stroke live_;
};

StrokeFigures strokeFigures(const Stroke& stroke, double inches);
CpiResult measureCpi(const std::vector<Stroke>& strokes, double inches);

}  // namespace cpi
