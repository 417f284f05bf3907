#include "analysis/ButtonAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "i18n/Translate.h"

namespace buttons {

namespace {

double msBetween(int64_t a, int64_t b) { return static_cast<double>(b - a) / 1e6; }

// Nearest rank: the smallest value with at least p of the values at or below it.
double percentile(std::vector<double> values, double p) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<size_t>(std::ceil(p * static_cast<double>(values.size())));
  return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

double smallest(const std::vector<double>& values) {
  return values.empty() ? -1 : *std::min_element(values.begin(), values.end());
}

uint32_t mostWithin(const std::vector<int64_t>& stamps, int64_t windowNs) {
  size_t best = 0;
  size_t from = 0;
  for (size_t i = 0; i < stamps.size(); ++i) {
    while (stamps[i] - stamps[from] >= windowNs) ++from;
    best = std::max(best, i - from + 1);
  }
  return static_cast<uint32_t>(best);
}

// One button's edges, walked in order.
struct Track {
  bool down = false;
  int64_t pressNs = 0;
  int64_t releaseNs = -1;
  std::vector<double> holds, gaps;
  std::vector<int64_t> pressStamps;
  ButtonFigures figures;
  size_t openPress = SIZE_MAX;  // the summary's chatter entry of the press being held
  double openGap = -1;
};

void press(Track& t, const ButtonEdge& e, ButtonSummary& s) {
  t.down = true;
  t.pressNs = e.ns;
  ++t.figures.presses;
  t.pressStamps.push_back(e.ns);
  t.openGap = t.releaseNs >= 0 ? msBetween(t.releaseNs, e.ns) : -1;
  if (t.openGap >= 0) t.gaps.push_back(t.openGap);
  t.openPress = SIZE_MAX;
  if (t.openGap >= 0 && t.openGap < s.chatterMs) {
    t.openPress = s.chatter.size();
    s.chatter.push_back({e.ns, e.code, t.openGap, -1});
  }
}

void release(Track& t, const ButtonEdge& e, ButtonSummary& s) {
  t.down = false;
  t.releaseNs = e.ns;
  ++t.figures.releases;
  const double hold = msBetween(t.pressNs, e.ns);
  t.holds.push_back(hold);
  if (t.openPress != SIZE_MAX) {
    s.chatter[t.openPress].holdMs = hold;
  } else if (hold < s.shortPressMs) {
    s.chatter.push_back({t.pressNs, e.code, t.openGap, hold});
  }
  t.openPress = SIZE_MAX;
}

void finish(Track& t, const ButtonSummary& s) {
  ButtonFigures& f = t.figures;
  f.holdP50Ms = percentile(t.holds, 0.5);
  f.holdMinMs = smallest(t.holds);
  f.gapMinMs = smallest(t.gaps);
  f.gapP1Ms = percentile(t.gaps, 0.01);
  f.fastestPerSecond = mostWithin(t.pressStamps, kFastestWindowNs);
  for (const Chatter& c : s.chatter) {
    if (c.code != f.code) continue;
    ++f.chatterCount;
    const double ms = c.shortestMs();
    if (f.shortestChatterMs < 0 || ms < f.shortestChatterMs) f.shortestChatterMs = ms;
  }
}

}  // namespace

ButtonSummary summarizeButtons(const std::vector<ButtonEdge>& edges, double chatterMs) {
  ButtonSummary s;
  s.chatterMs = chatterMs;
  std::map<uint16_t, Track> tracks;
  for (const ButtonEdge& e : edges) {
    Track& t = tracks[e.code];
    t.figures.code = e.code;
    if (e.down == t.down) continue;  // no change: a repeat, or the state after lost reports
    if (e.down) {
      press(t, e, s);
    } else {
      release(t, e, s);
    }
  }
  // A short press is listed at its release: put the list back in time order.
  std::stable_sort(s.chatter.begin(), s.chatter.end(),
                   [](const Chatter& a, const Chatter& b) { return a.atNs < b.atNs; });
  for (auto& [code, track] : tracks) {
    finish(track, s);
    s.buttons.push_back(track.figures);
  }
  return s;
}

std::string buttonKey(uint16_t code) {
  static const char* const kKeys[] = {"left",  "right",   "middle", "side",
                                      "extra", "forward", "back",   "task"};
  if (code >= 0x110 && code < 0x118) return kKeys[code - 0x110];
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", code);
  return text;
}

std::string buttonName(uint16_t code) {
  static const char* const kNames[] = {i18n::trNoop("左键"),       i18n::trNoop("右键"),
                                       i18n::trNoop("中键"),       i18n::trNoop("侧键（后）"),
                                       i18n::trNoop("侧键（前）"), i18n::trNoop("前进键"),
                                       i18n::trNoop("后退键"),     i18n::trNoop("任务键")};
  if (code >= 0x110 && code < 0x118) return i18n::tr(kNames[code - 0x110]);
  char text[48];
  std::snprintf(text, sizeof text, i18n::tr("按键 0x%x"), code);
  return text;
}

std::string buttonVerdict(const ButtonFigures& f) {
  if (f.chatterCount == 0) return i18n::tr("正常");
  char text[128];
  std::snprintf(text, sizeof text, i18n::tr("疑似连击：%u 次（最短间隔 %.1f ms）"), f.chatterCount,
                f.shortestChatterMs);
  return text;
}

}  // namespace buttons
