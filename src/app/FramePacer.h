#pragma once

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
