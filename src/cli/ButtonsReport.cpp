#include "cli/ButtonsReport.h"

#include <map>
#include <nlohmann/json.hpp>

#include "i18n/Translate.h"
#include "results/TextFormat.h"

namespace cli {

namespace {

using nlohmann::ordered_json;

ordered_json msOrNull(double ms) { return ms < 0 ? ordered_json(nullptr) : ordered_json(ms); }

std::string ms(double value) {
  if (value < 0) return "—";
  std::string out;
  results::appendFormat(out, "%.1f ms", value);
  return out;
}

double secondsSince(const ButtonTest& t, int64_t ns) {
  return static_cast<double>(ns - t.startNs) / 1e9;
}

std::string chatterLine(const ButtonTest& t, const buttons::Chatter& c) {
  std::string out;
  results::appendFormat(out, i18n::tr("  %.3f s  %s  松开→按下 %s  按住 %s\n"),
                        secondsSince(t, c.atNs), buttons::buttonName(c.code).c_str(),
                        ms(c.gapMs).c_str(), ms(c.holdMs).c_str());
  return out;
}

}  // namespace

std::string buttonLiveLine(const buttons::ButtonFigures& f) {
  std::string out;
  results::appendFormat(
      out,
      i18n::tr("%s：按下 %u 次，按住 p50 %s（最短 %s），松开→按下最短 %s（p1 %s），最快 %u 次/秒"),
      buttons::buttonName(f.code).c_str(), f.presses, ms(f.holdP50Ms).c_str(),
      ms(f.holdMinMs).c_str(), ms(f.gapMinMs).c_str(), ms(f.gapP1Ms).c_str(), f.fastestPerSecond);
  return out;
}

std::string buttonSummaryText(const ButtonTest& t) {
  const buttons::ButtonSummary& s = t.summary;
  std::string out;
  results::appendFormat(out, i18n::tr("鼠标：%s\n"), results::plainText(t.deviceName).c_str());
  results::appendFormat(out,
                        i18n::tr("时长 %.1f 秒；连击：同一按键松开后 %.0f ms 内又按下，"
                                 "或按住不到 %.0f ms\n"),
                        t.seconds, s.chatterMs, s.shortPressMs);
  if (s.buttons.empty()) return out + i18n::tr("没有按键事件。\n");
  for (const buttons::ButtonFigures& f : s.buttons)
    out += buttonLiveLine(f) + " — " + buttons::buttonVerdict(f) + "\n";
  if (s.chatter.empty()) return out;
  out += i18n::tr("疑似连击的按下：\n");
  for (const buttons::Chatter& c : s.chatter) out += chatterLine(t, c);
  out += i18n::tr(
      "一次点击被记成两次，是微动开关在抖动：这是开关本身老化或受潮，不是软件或驱动的问题；"
      "清洁或更换微动开关可以解决。\n");
  return out;
}

std::string buttonJson(const ButtonTest& t) {
  const buttons::ButtonSummary& s = t.summary;
  ordered_json j;
  j["schema"] = "quillmark-buttons";
  j["schema_version"] = 1;
  j["device"] = {{"name", t.deviceName},
                 {"node", t.node.empty() ? ordered_json(nullptr) : ordered_json(t.node)}};
  j["seconds"] = t.seconds;
  j["chatter_ms"] = s.chatterMs;
  j["short_press_ms"] = s.shortPressMs;
  j["clean"] = s.chatter.empty();
  j["buttons"] = ordered_json::array();
  for (const buttons::ButtonFigures& f : s.buttons) {
    j["buttons"].push_back({{"code", f.code},
                            {"button", buttons::buttonKey(f.code)},
                            {"presses", f.presses},
                            {"releases", f.releases},
                            {"hold_p50_ms", msOrNull(f.holdP50Ms)},
                            {"hold_min_ms", msOrNull(f.holdMinMs)},
                            {"gap_min_ms", msOrNull(f.gapMinMs)},
                            {"gap_p1_ms", msOrNull(f.gapP1Ms)},
                            {"fastest_presses_per_s", f.fastestPerSecond},
                            {"chatter", f.chatterCount},
                            {"shortest_chatter_ms", msOrNull(f.shortestChatterMs)},
                            {"verdict", f.chatterCount == 0 ? "clean" : "chatter"}});
  }
  j["chatter"] = ordered_json::array();
  for (const buttons::Chatter& c : s.chatter) {
    j["chatter"].push_back({{"time_s", secondsSince(t, c.atNs)},
                            {"button", buttons::buttonKey(c.code)},
                            {"code", c.code},
                            {"gap_ms", msOrNull(c.gapMs)},
                            {"hold_ms", msOrNull(c.holdMs)}});
  }
  return j.dump(2) + "\n";
}

std::string buttonEventsCsv(const ButtonTest& t) {
  std::string out = "time_s,button,edge,gap_ms\n";
  std::map<uint16_t, std::pair<bool, int64_t>> last;  // state and stamp of each button's last edge
  for (const buttons::ButtonEdge& e : t.edges) {
    auto [it, first] = last.try_emplace(e.code, false, INT64_MIN);
    if (!first && it->second.first == e.down) continue;  // no change, as in the figures
    if (first && !e.down) continue;
    results::appendFormat(out, "%.6f,%s,%s,", secondsSince(t, e.ns),
                          buttons::buttonKey(e.code).c_str(), e.down ? "press" : "release");
    if (it->second.second != INT64_MIN)
      results::appendFormat(out, "%.3f", static_cast<double>(e.ns - it->second.second) / 1e6);
    out += "\n";
    it->second = {e.down, e.ns};
  }
  return out;
}

}  // namespace cli
