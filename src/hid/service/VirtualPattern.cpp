#include "hid/service/VirtualPattern.h"

#include <linux/input.h>

#include <cmath>
#include <cstdlib>

#include "analysis/CpiMeasure.h"
#include "hid/service/VirtualHIDService.h"
#include "i18n/Translate.h"

namespace hidservice {

namespace {

// Numbers separated by ':'; false when any is not one.
bool parseNumbers(std::string_view text, double* out, size_t least, size_t most) {
  size_t n = 0;
  while (n < most) {
    const size_t colon = text.find(':');
    const std::string item(text.substr(0, colon));
    char* end = nullptr;
    out[n] = std::strtod(item.c_str(), &end);
    if (item.empty() || *end != '\0' || !std::isfinite(out[n])) return false;
    ++n;
    if (colon == std::string_view::npos) break;
    text.remove_prefix(colon + 1);
    if (n == most) return false;
  }
  return n >= least;
}

std::string clickProblem(std::string_view text, VirtualClicks& clicks) {
  double v[3] = {0, 0, 0};
  const char* why = i18n::tr("点击须为 click=每秒次数:按住毫秒[:抖动比例]（如 click=8:60:0.25）");
  if (!parseNumbers(text, v, 2, 3)) return why;
  if (v[0] <= 0 || v[0] > 50 || v[1] <= 0 || v[2] < 0 || v[2] > 1) return why;
  const double periodMs = 1000 / v[0];
  if (v[1] + VirtualClicks::kBounceGapMs + VirtualClicks::kBounceHoldMs >= periodMs)
    return i18n::tr("按住时间加上抖动须短于一次点击的周期");
  clicks = VirtualClicks{v[0], v[1], v[2]};
  return {};
}

std::string strokeProblem(std::string_view text, VirtualStrokes& strokes) {
  const size_t colon = text.find(':');
  const std::optional<double> mm = cpi::parseDistanceMm(std::string(text.substr(0, colon)));
  double cpiValue = 0;
  const char* why = i18n::tr("划动须为 stroke=长度:CPI（如 stroke=10cm:800，长度用 cm、mm 或 in）");
  if (!mm || colon == std::string_view::npos ||
      !parseNumbers(text.substr(colon + 1), &cpiValue, 1, 1))
    return why;
  if (cpiValue < 50 || cpiValue > 50000) return why;
  strokes = VirtualStrokes{*mm, cpiValue};
  return {};
}

std::string bufferProblem(std::string_view text, int32_t& reports) {
  double v = 0;
  if (!parseNumbers(text, &v, 1, 1) || v != std::floor(v) || v < 1 || v > kMaxBufferReports)
    return i18n::tr("缓冲须为 buffer=报告数（1–4096 的整数，如 buffer=42）");
  reports = static_cast<int32_t>(v);
  return {};
}

// Whether the button is down at `ms` after the mouse started.
bool clickDown(const VirtualClicks& c, double ms) {
  const double periodMs = 1000 / c.perSecond;
  const double cycle = std::floor(ms / periodMs);
  const double in = ms - cycle * periodMs;
  if (in < c.holdMs) return true;
  const bool bounces = std::floor((cycle + 1) * c.bounceShare) > std::floor(cycle * c.bounceShare);
  const double bounceAt = c.holdMs + VirtualClicks::kBounceGapMs;
  return bounces && in >= bounceAt && in < bounceAt + VirtualClicks::kBounceHoldMs;
}

// Whole counts the strokes have moved by `seconds`.
double strokeCounts(const VirtualStrokes& s, double seconds) {
  const double perStroke = s.lengthMm / (cpi::kCmPerInch * 10) * s.cpi;
  const double cycleS = VirtualStrokes::kMoveSeconds + VirtualStrokes::kRestSeconds;
  const double cycle = std::floor(seconds / cycleS);
  const double in = std::min(1.0, (seconds - cycle * cycleS) / VirtualStrokes::kMoveSeconds);
  return std::floor(cycle * perStroke + in * perStroke);
}

uint8_t* putEvent(uint8_t* p, uint16_t type, uint16_t code, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  const uint8_t bytes[8] = {static_cast<uint8_t>(type),    static_cast<uint8_t>(type >> 8),
                            static_cast<uint8_t>(code),    static_cast<uint8_t>(code >> 8),
                            static_cast<uint8_t>(v),       static_cast<uint8_t>(v >> 8),
                            static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  for (const uint8_t b : bytes) *p++ = b;
  return p;
}

int32_t motionCounts(const VirtualMouseRate& m, int64_t index) {
  if (m.strokes.lengthMm > 0) {
    const double now = static_cast<double>(index) / m.rateHz;
    const double before = static_cast<double>(index - 1) / m.rateHz;
    return static_cast<int32_t>(strokeCounts(m.strokes, now) - strokeCounts(m.strokes, before));
  }
  // A mouse that only clicks stays still unless a hand speed is given.
  if (m.clicks.perSecond > 0 && m.countsPerS <= 0) return 0;
  return VirtualDevice::slotCounts(m, index);
}

}  // namespace

std::string patternProblem(std::string_view part, VirtualMouseRate& mouse) {
  if (part.substr(0, 6) == "click=") return clickProblem(part.substr(6), mouse.clicks);
  if (part.substr(0, 7) == "stroke=") return strokeProblem(part.substr(7), mouse.strokes);
  if (part.substr(0, 7) == "buffer=") return bufferProblem(part.substr(7), mouse.bufferReports);
  return i18n::tr("「/」后只能是 click=…、stroke=… 或 buffer=…");
}

size_t slotFrame(const VirtualMouseRate& m, int64_t index, uint8_t* out) {
  uint8_t* p = out;
  if (const int32_t counts = motionCounts(m, index); counts != 0)
    p = putEvent(p, EV_REL, REL_X, counts);
  if (m.clicks.perSecond > 0) {
    const bool now = clickDown(m.clicks, static_cast<double>(index) * 1000 / m.rateHz);
    const bool before = clickDown(m.clicks, static_cast<double>(index - 1) * 1000 / m.rateHz);
    if (now != before) p = putEvent(p, EV_KEY, BTN_LEFT, now ? 1 : 0);
  }
  return static_cast<size_t>(p - out);
}

}  // namespace hidservice
