#include "app/ButtonsPageModel.h"

#include <cmath>

namespace {

using namespace std::chrono_literals;

constexpr auto kCountdown = 3s;
// Live counts are redrawn at most this often.
constexpr int64_t kWakePeriodNs = 16'000'000;

int64_t toNs(ButtonsPageModel::Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// Which buttons are down after the edges.
uint32_t heldAfter(const std::vector<buttons::ButtonEdge>& edges) {
  uint32_t held = 0;
  for (const buttons::ButtonEdge& e : edges) {
    if (e.code < 0x110 || e.code >= 0x130) continue;
    const uint32_t bit = 1u << (e.code - 0x110);
    held = e.down ? held | bit : held & ~bit;
  }
  return held;
}

}  // namespace

ButtonsPageModel& buttonsPage() {
  static ButtonsPageModel s_model;
  return s_model;
}

void ButtonsPageModel::onButton(Clock::time_point t, uint16_t code, int32_t value) {
  if (!open_.load(std::memory_order_relaxed)) return;
  {
    std::lock_guard lock(mutex_);
    edges_.push_back({toNs(t), code, value == 1});
  }
  if (wake != nullptr) wake();
}

void ButtonsPageModel::onMotion(Clock::time_point t, const ReportMotion& m) {
  if (m.dx == 0 && m.dy == 0) return;
  x_.fetch_add(m.dx, std::memory_order_relaxed);
  y_.fetch_add(m.dy, std::memory_order_relaxed);
  lastMotionNs_.store(toNs(t), std::memory_order_release);
  if (measuring_.load(std::memory_order_relaxed)) wakeAt(toNs(t));
}

void ButtonsPageModel::wakeAt(int64_t ns) {
  if (wake == nullptr || ns - lastWakeNs_.load(std::memory_order_relaxed) < kWakePeriodNs) return;
  lastWakeNs_.store(ns, std::memory_order_relaxed);
  wake();
}

void ButtonsPageModel::open(Clock::time_point now) {
  if (isOpen()) return;
  clear(now);
  open_.store(true);
}

void ButtonsPageModel::close() {
  open_.store(false);
  measuring_.store(false);
  if (page_.cpi.step != dashboard::CpiView::Step::Done)
    page_.cpi.step = dashboard::CpiView::Step::Idle;
}

void ButtonsPageModel::clear(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  edges_.clear();
  summarized_ = SIZE_MAX;
  page_.startNs = toNs(now);
}

const dashboard::ButtonsPageState& ButtonsPageModel::state(Clock::time_point now) {
  {
    std::lock_guard lock(mutex_);
    if (edges_.size() != summarized_) {
      summarized_ = edges_.size();
      page_.summary = buttons::summarizeButtons(edges_);
      page_.held = heldAfter(edges_);
    }
  }
  stepCpi(now);
  return page_;
}

void ButtonsPageModel::apply(const dashboard::ButtonsPageActions& a, Clock::time_point now) {
  if (a.clear) clear(now);
  if (a.distanceIndex >= 0 && a.distanceIndex < dashboard::kCpiDistanceCount)
    page_.cpi.distanceIndex = a.distanceIndex;
  if (!a.measureCpi) return;
  strokes_.clear();
  page_.cpi.step = dashboard::CpiView::Step::Countdown;
  page_.cpi.stroke = 1;
  countdownEnd_ = now + kCountdown;
  measuring_.store(true);
}

std::optional<ButtonsPageModel::Clock::time_point> ButtonsPageModel::nextChange(
    Clock::time_point now) const {
  if (!isOpen()) return std::nullopt;
  switch (page_.cpi.step) {
    case dashboard::CpiView::Step::Countdown: {
      // The seconds shown are the time left rounded up.
      const auto shown = std::chrono::ceil<std::chrono::seconds>(countdownEnd_ - now);
      return shown <= 0s ? now : countdownEnd_ - (shown - 1s);
    }
    case dashboard::CpiView::Step::Stroke: {
      const Clock::time_point still(
          std::chrono::nanoseconds(lastMotionNs_.load(std::memory_order_acquire)));
      switch (tracker_.phase()) {
        case cpi::StrokeTracker::Phase::WaitingForRest:
          return still + std::chrono::nanoseconds(cpi::StrokeTracker::kRestBeforeNs);
        case cpi::StrokeTracker::Phase::Moving:
          return still + std::chrono::nanoseconds(cpi::StrokeTracker::kRestAfterNs);
        default:
          return std::nullopt;  // waits for motion, which wakes the loop
      }
    }
    default:
      return std::nullopt;
  }
}

// The countdown, then a stroke, three times; the result after the third.
void ButtonsPageModel::stepCpi(Clock::time_point now) {
  dashboard::CpiView& v = page_.cpi;
  if (v.step == dashboard::CpiView::Step::Countdown) {
    const double left = std::chrono::duration<double>(countdownEnd_ - now).count();
    v.secondsLeft = static_cast<int>(std::ceil(left));
    if (left > 0) return;
    v.step = dashboard::CpiView::Step::Stroke;
    tracker_ = cpi::StrokeTracker{};
  }
  if (v.step != dashboard::CpiView::Step::Stroke) return;
  const std::optional<cpi::Stroke> done =
      tracker_.step(toNs(now), x_.load(), y_.load(), lastMotionNs_.load(std::memory_order_acquire));
  v.live = tracker_.live();
  if (!done) return;
  strokes_.push_back(*done);
  if (static_cast<int>(strokes_.size()) < cpi::kStrokes) {
    v.step = dashboard::CpiView::Step::Countdown;
    ++v.stroke;
    countdownEnd_ = now + kCountdown;
    return;
  }
  const double mm = *cpi::parseDistanceMm(dashboard::kCpiDistances[v.distanceIndex]);
  v.result = cpi::measureCpi(strokes_, mm / (cpi::kCmPerInch * 10));
  v.step = dashboard::CpiView::Step::Done;
  measuring_.store(false);
}
