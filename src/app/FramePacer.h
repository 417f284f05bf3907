#pragma once

#include <algorithm>

// Frame pacing on a monotonic clock in seconds: frames start at least
// kFramePeriod apart, counted from the previous frame's start after its
// wait; a frame that ran long is followed at once and the lost time is not
// made up.
class FramePacer {
 public:
  static constexpr double kFramePeriod = 1.0 / 60.0;

  explicit FramePacer(double now) : next_(now) {}

  // Seconds to wait before the frame that would start at `now`.
  double waitBefore(double now) const { return next_ > now ? next_ - now : 0.0; }

  // The frame has begun; `now` is the clock before the wait.
  void begin(double now) { start_ = next_ > now ? next_ : now; }

  // Schedules the next frame one period after this one's start.
  void end() { next_ = start_ + kFramePeriod; }

 private:
  double next_;
  double start_ = 0.0;
};

// When the window draws while no test runs. A running test is drawn every
// period; otherwise a frame is drawn only when something can have changed:
// input (and a short settling time after it, for hover, popups and tooltips
// that Dear ImGui shows a frame or a delay later), or a timed moment (the
// once-a-second refresh of devices and permission, a notice that expires).
// In between the loop waits for events, so an idle window costs nothing.
class IdleSchedule {
 public:
  static constexpr double kRefreshPeriod = 1.0;
  static constexpr double kSettleSeconds = 0.6;
  // The longest single wait: the rate history's sampling period, so the
  // history keeps its time axis while nothing is drawn; a quit signal is
  // noticed as soon.
  static constexpr double kLongestWait = 0.05;

  // Seconds to wait for events before deciding again; 0 means a frame is
  // due now (on the 60 fps pace). `moment` is the next timed change (e.g. a
  // notice's end), or a large number when there is none.
  double waitBefore(double now, bool animating, double moment) const {
    if (animating || now < settleUntil_) return 0.0;
    const double due = std::min(lastFrame_ + kRefreshPeriod, moment);
    return due <= now ? 0.0 : std::min(due - now, kLongestWait);
  }

  void noteInput(double now) { settleUntil_ = now + kSettleSeconds; }
  void noteFrame(double now) { lastFrame_ = now; }

 private:
  double settleUntil_ = 0.0;
  double lastFrame_ = -1e9;
};
