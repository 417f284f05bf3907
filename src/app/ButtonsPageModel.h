#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "analysis/ButtonAnalysis.h"
#include "analysis/CpiMeasure.h"
#include "analysis/ReportMotion.h"
#include "dashboard/ButtonsPage.h"

// What the window's buttons and CPI page shows, gathered from the report
// path: the button edges while the page is open, and the motion's running
// totals for a CPI measurement. onButton() and onMotion() run on the HID
// thread; everything else on the main thread.
class ButtonsPageModel {
 public:
  using Clock = std::chrono::steady_clock;

  // HID thread.
  void onButton(Clock::time_point t, uint16_t code, int32_t value);
  void onMotion(Clock::time_point t, const ReportMotion& motion);

  void open(Clock::time_point now);
  void close();
  bool isOpen() const { return open_.load(std::memory_order_relaxed); }
  // The CPI last measured on the page; 0 before any. Main thread.
  double measuredCpi() const { return page_.cpi.result.cpi; }

  // The page's figures; the summary is computed again only after new edges.
  const dashboard::ButtonsPageState& state(Clock::time_point now);
  void apply(const dashboard::ButtonsPageActions& actions, Clock::time_point now);
  // When the page, as last drawn, changes though no edge or motion came: the
  // countdown's next second, the end of the rest before or after a stroke.
  // nullopt while nothing is timed.
  std::optional<Clock::time_point> nextChange(Clock::time_point now) const;

  // Called (from the HID thread) when a new edge or, while a CPI stroke is
  // measured, new motion should be drawn: the window's loop may be asleep.
  void (*wake)() = nullptr;

 private:
  void clear(Clock::time_point now);
  void stepCpi(Clock::time_point now);
  void wakeAt(int64_t ns);

  std::atomic<bool> open_{false};
  std::atomic<bool> measuring_{false};
  std::mutex mutex_;
  std::vector<buttons::ButtonEdge> edges_;  // guarded by mutex_
  std::atomic<int64_t> x_{0}, y_{0}, lastMotionNs_{0}, lastWakeNs_{0};

  size_t summarized_ = SIZE_MAX;  // edges in the summary shown
  dashboard::ButtonsPageState page_;
  std::vector<cpi::Stroke> strokes_;
  cpi::StrokeTracker tracker_;
  Clock::time_point countdownEnd_;
};

ButtonsPageModel& buttonsPage();
