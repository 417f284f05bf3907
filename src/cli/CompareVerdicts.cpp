#include "cli/CompareVerdicts.h"

#include <algorithm>
#include <cmath>
#include <deque>

#include "i18n/Translate.h"
#include "results/TextFormat.h"

namespace cli {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;
namespace rc = runcomparison;
namespace sc = samplecomparison;

const json* at(const json& j, const std::string& pointer) {
  const json::json_pointer p(pointer);
  return j.contains(p) && !j.at(p).is_null() ? &j.at(p) : nullptr;
}

std::optional<double> numberAt(const json& j, const std::string& pointer) {
  const json* v = at(j, pointer);
  if (v == nullptr || !v->is_number()) return std::nullopt;
  return v->get<double>();
}

rc::RunFigures figuresOf(const CompareRunView& r) {
  const json& j = *r.result;
  rc::RunFigures f;
  f.intervals = numberAt(j, "/whole_test/intervals").value_or(0);
  f.movingSeconds = numberAt(j, "/whole_test/moving_s").value_or(0);
  f.reports = numberAt(j, "/whole_test/reports").value_or(0);
  f.missedSlots = numberAt(j, "/whole_test/missed_slots");
  f.droppedReports = numberAt(j, "/whole_test/kernel_dropped_reports");
  f.periodUs = comparePeriodUs(j);
  f.yardstickHz = numberAt(j, "/whole_test/cause/yardstick_hz")
                      .value_or(numberAt(j, "/whole_test/target/hz").value_or(0));
  f.blocks = r.blocks;
  f.p50 = runFigure(j, "interval_us/p50");
  f.p99 = runFigure(j, "interval_us/p99");
  f.p99_9 = runFigure(j, "interval_us/p99_9");
  return f;
}

// A setup's runs as one run, for the block tests; `joined` keeps the blocks.
rc::RunFigures joinedFigures(const SetupView& s, std::deque<sc::IntervalBlocks>& joined) {
  rc::RunFigures out = figuresOf(*s.runs.front());
  if (s.runs.size() == 1) return out;
  std::vector<const sc::IntervalBlocks*> blocks;
  for (std::size_t i = 1; i < s.runs.size(); ++i) {
    const rc::RunFigures f = figuresOf(*s.runs[i]);
    out.intervals += f.intervals;
    out.movingSeconds += f.movingSeconds;
    out.reports += f.reports;
    if (out.missedSlots && f.missedSlots) *out.missedSlots += *f.missedSlots;
    if (!f.missedSlots) out.missedSlots.reset();
    if (out.droppedReports && f.droppedReports) *out.droppedReports += *f.droppedReports;
    if (!f.droppedReports) out.droppedReports.reset();
  }
  for (const CompareRunView* r : s.runs) {
    if (r->blocks == nullptr) return out.blocks = nullptr, out;
    blocks.push_back(r->blocks);
  }
  out.blocks = &joined.emplace_back(sc::joinedBlocks(blocks));
  return out;
}

struct Words {
  const char* name;
  const char* format;
  const char* unit;
  bool count;  // "多/少" rather than "高/低"
  const char* method;
};

const char* const kCountMethod =
    "count over its exposure; z test whose variance is scaled by the counts' dispersion between "
    "units of 1-second blocks of moving time (as many blocks as their dependence needs), 1% level";
const char* const kBlockMethod =
    "permutation of units of 1-second blocks of moving time between the two runs (as many blocks "
    "per unit as their dependence needs; every split up to 2000, else 200 at random), 1% level";
const char* const kSetupMethod = "Welch's t test on the runs' own values, 1% level";

Words wordsOf(rc::Figure f) {
  switch (f) {
    case rc::Figure::MovingRate:
      return {i18n::trNoop("移动回报率"), "%.1f", "Hz", false, kCountMethod};
    case rc::Figure::MissedSlots:
      return {i18n::trNoop("缺失报告"), "%.2f", "‰", true, kCountMethod};
    case rc::Figure::DroppedReports:
      return {i18n::trNoop("内核丢弃的报告"), "%.2f", "‰", true, kCountMethod};
    case rc::Figure::Distribution:
      return {i18n::trNoop("分布距离"), "%.2f", "", false, kBlockMethod};
    case rc::Figure::P50:
      return {i18n::trNoop("间隔 p50"), "%.1f", "µs", false, kBlockMethod};
    case rc::Figure::P99:
      return {i18n::trNoop("间隔 p99"), "%.1f", "µs", false, kBlockMethod};
    case rc::Figure::P99_9:
      break;
  }
  return {i18n::trNoop("间隔 p99.9"), "%.1f", "µs", false, kBlockMethod};
}

// A figure's name inside a sentence: English names are capitalised as labels.
std::string inSentence(const char* name) {
  std::string out = i18n::tr(name);
  if (!out.empty() && out[0] >= 'A' && out[0] <= 'Z') out[0] = static_cast<char>(out[0] + 32);
  return out;
}

std::string amountText(double x, const Words& w, const char* format = nullptr) {
  std::string out;
  results::appendFormat(out, format != nullptr ? format : w.format, std::abs(x));
  if (*w.unit != '\0') out += std::string(std::string(w.unit) == "‰" ? "" : " ") + w.unit;
  return out;
}

// A difference that the shown digits make 0 is no difference.
bool shownAsZero(double x, const Words& w) {
  std::string shown;
  results::appendFormat(shown, w.format, std::abs(x));
  return shown.find_first_not_of("0.") == std::string::npos;
}

std::string pText(double p) {
  std::string out;
  if (p < 0.0005) return "p < 0.001";
  results::appendFormat(out, "p = %.3f", p);
  return out;
}

std::string marginText(const rc::FigureVerdict& v, const Words& w) {
  std::string out;
  if (w.count) {
    results::appendFormat(out, i18n::tr("多 %g‰ 且至少两倍"), v.margin);
    return out;
  }
  return amountText(v.margin, w);
}

std::string lackText(const rc::FigureVerdict& v, const std::string& first,
                     const std::string& other) {
  std::string who;
  if (v.firstLacks && v.otherLacks) {
    results::appendFormat(who, i18n::tr("%s 和 %s"), first.c_str(), other.c_str());
  } else {
    who = v.firstLacks ? first : other;
  }
  std::string out;
  results::appendFormat(out, i18n::tr("无法比较：%s 没有这个数值"), who.c_str());
  return out;
}

// The tail after the difference: inside the margin, undecidable, noise or matters.
std::string tailText(const rc::FigureVerdict& v, const Words& w) {
  std::string out;
  if (!v.beyondMargin) {
    results::appendFormat(out, i18n::tr("，在界限（%s）以内，可视为相同"),
                          marginText(v, w).c_str());
  } else if (v.separated) {
    results::appendFormat(out,
                          i18n::tr("：可分辨（每秒都差 %g 倍界限以上），且有实际意义（界限 %s）"),
                          rc::kSeparatedMargins, marginText(v, w).c_str());
  } else if (!v.decidable && v.unitBlocks == 0) {
    out = i18n::tr("，但相邻几秒的数值互相关联，运行这么短无法判断");
  } else if (!v.decidable) {
    out = i18n::tr("，但运行太短，无法与运行之间的噪声分开");
  } else if (!v.distinguishable) {
    results::appendFormat(out, i18n::tr("，但在运行之间的噪声范围内（%s）"),
                          pText(v.pValue).c_str());
  } else {
    results::appendFormat(out, i18n::tr("：可分辨（%s），且有实际意义（界限 %s）"),
                          pText(v.pValue).c_str(), marginText(v, w).c_str());
  }
  return out;
}

std::string verdictText(const rc::FigureVerdict& v, const std::string& first,
                        const std::string& other) {
  const Words w = wordsOf(v.figure);
  std::string out = std::string(i18n::tr(w.name)) + i18n::tr("：");
  if (!v.comparable()) return out + lackText(v, first, other);
  if (v.figure == rc::Figure::Distribution) {
    results::appendFormat(out, i18n::tr("%s 与 %s 相距 %.2f"), other.c_str(), first.c_str(),
                          v.difference);
    return out + tailText(v, w);
  }
  if (shownAsZero(v.difference, w)) {
    results::appendFormat(out, i18n::tr("%s 与 %s 相同"), other.c_str(), first.c_str());
    return out;
  }
  const bool up = v.difference > 0;
  const char* format = w.count ? (up ? i18n::tr("%s 比 %s 多 %s") : i18n::tr("%s 比 %s 少 %s"))
                               : (up ? i18n::tr("%s 比 %s 高 %s") : i18n::tr("%s 比 %s 低 %s"));
  results::appendFormat(out, format, other.c_str(), first.c_str(),
                        amountText(v.difference, w).c_str());
  return out + tailText(v, w);
}

// "移动回报率低 412 Hz（5.2 %）" for the bottom line.
std::string changeText(const rc::FigureVerdict& v) {
  const Words w = wordsOf(v.figure);
  if (v.figure == rc::Figure::Distribution) {
    std::string out;
    results::appendFormat(out, i18n::tr("分布距离 %.2f"), v.difference);
    return out;
  }
  const bool up = v.difference > 0;
  const char* format = w.count ? (up ? i18n::tr("%s多 %s") : i18n::tr("%s少 %s"))
                               : (up ? i18n::tr("%s高 %s") : i18n::tr("%s低 %s"));
  std::string name = inSentence(w.name);
  // Latin letters and CJK stand apart ("p50 高"); the English has its space.
  if (!name.empty() && static_cast<unsigned char>(name.back()) < 0x80 &&
      static_cast<unsigned char>(format[2]) >= 0x80)
    name += ' ';
  std::string out;
  results::appendFormat(out, format, name.c_str(),
                        amountText(v.difference, w, w.count ? "%.1f" : "%.0f").c_str());
  if (v.figure == rc::Figure::MovingRate && v.first > 0)
    results::appendFormat(out, i18n::tr("（%.1f %%）"), 100.0 * std::abs(v.difference) / v.first);
  return out;
}

// The longest line the bottom line makes of its changes.
constexpr int kLineColumns = 100;

ordered_json rounded(double x, double step) { return std::round(x / step) * step; }

struct Spread {
  const char* key;
  std::optional<double> (*of)(const json&);
};
const Spread kSpreads[] = {
    {"moving_rate_hz", [](const json& j) { return runFigure(j, "moving_rate_hz"); }},
    {"p99_us", [](const json& j) { return runFigure(j, "interval_us/p99"); }},
    {"missed_per_1000",
     [](const json& j) -> std::optional<double> {
       const auto missed = runFigure(j, "missed_slots");
       const double reports = runFigure(j, "reports").value_or(0);
       if (!missed || reports <= 0) return std::nullopt;
       return 1000.0 * *missed / reports;
     }},
};

}  // namespace

std::string SetupView::name() const {
  if (label.empty()) return letter;
  std::string out;
  results::appendFormat(out, i18n::tr("%s（%s）"), letter.c_str(), label.c_str());
  return out;
}

double comparePeriodUs(const json& result) {
  const double grid = numberAt(result, "/whole_test/grid/period_us").value_or(0);
  if (grid > 0) return grid;
  const std::optional<double> missed = numberAt(result, "/whole_test/missed_slots");
  const double slots = numberAt(result, "/whole_test/intervals").value_or(0) + missed.value_or(0) +
                       numberAt(result, "/whole_test/kernel_dropped_reports").value_or(0);
  const double moving = numberAt(result, "/whole_test/moving_s").value_or(0);
  if (missed && slots > 0 && moving > 0) return moving * 1e6 / slots;
  return runFigure(result, "interval_us/p50").value_or(0);
}

std::optional<double> runFigure(const json& result, const char* pointer) {
  const std::string p = pointer;
  // Interval figures need intervals that are not 0 (equal stamps say
  // nothing of the spacing): without any, the run does not have them.
  if (p.rfind("interval_us/", 0) == 0 &&
      numberAt(result, "/whole_test/intervals").value_or(0) -
              numberAt(result, "/whole_test/equal_stamps").value_or(0) <=
          0)
    return std::nullopt;
  return numberAt(result, "/whole_test/" + p);
}

std::vector<CompareVerdict> compareVerdicts(const std::vector<SetupView>& setups,
                                            std::size_t baseline) {
  std::vector<CompareVerdict> out;
  std::deque<sc::IntervalBlocks> joined;
  const SetupView& first = setups[baseline];
  for (std::size_t i = 0; i < setups.size(); ++i) {
    if (i == baseline) continue;
    const SetupView& s = setups[i];
    std::vector<rc::FigureVerdict> vs;
    if (first.runs.size() >= 2 && s.runs.size() >= 2) {
      std::vector<rc::RunFigures> a, b;
      for (const CompareRunView* r : first.runs) a.push_back(figuresOf(*r));
      for (const CompareRunView* r : s.runs) b.push_back(figuresOf(*r));
      vs = rc::compareSetups(a, b);
    } else {
      vs = rc::compareRuns(joinedFigures(first, joined), joinedFigures(s, joined));
    }
    for (const rc::FigureVerdict& v : vs)
      out.push_back({s.letter, first.letter, v, verdictText(v, first.letter, s.letter)});
  }
  return out;
}

std::vector<BottomLine> bottomLines(const std::vector<SetupView>& setups, std::size_t baseline,
                                    const std::vector<CompareVerdict>& verdicts) {
  std::vector<BottomLine> out;
  const SetupView& first = setups[baseline];
  for (std::size_t i = 0; i < setups.size(); ++i) {
    if (i == baseline) continue;
    const SetupView& s = setups[i];
    std::vector<const rc::FigureVerdict*> matters;
    bool unknown = false, anyComparable = false;
    for (const CompareVerdict& v : verdicts) {
      if (v.setup != s.letter) continue;
      const rc::FigureVerdict& f = v.figure;
      anyComparable = anyComparable || f.comparable();
      if (f.matters) matters.push_back(&f);
      unknown = unknown || (f.comparable() && f.beyondMargin && !f.decidable && !f.separated);
    }
    BottomLine line{s.letter, first.letter, "same", ""};
    const std::string a = first.name(), b = s.name();
    if (!matters.empty()) {
      line.key = "differs";
      // As many changes as fit on a line of 100 columns, the first always.
      std::string changes;
      std::size_t shown = 0;
      for (; shown < matters.size(); ++shown) {
        const std::string more = (shown > 0 ? i18n::tr("，") : "") + changeText(*matters[shown]);
        std::string whole;
        results::appendFormat(whole, i18n::tr("%s 与 %s 不同，且有实际意义：%s"), b.c_str(),
                              a.c_str(), (changes + more + i18n::tr("，等")).c_str());
        if (shown > 0 && results::displayColumns(whole) > kLineColumns) break;
        changes += more;
      }
      if (shown < matters.size()) changes += i18n::tr("，等");
      results::appendFormat(line.text, i18n::tr("%s 与 %s 不同，且有实际意义：%s"), b.c_str(),
                            a.c_str(), changes.c_str());
    } else if (unknown) {
      line.key = "unknown";
      const bool single = first.runs.size() == 1 && s.runs.size() == 1;
      results::appendFormat(
          line.text,
          single ? i18n::tr("%s 与 %s：无法判断：每种设置只有一次运行，且运行之间的差异大于界限")
                 : i18n::tr("%s 与 %s：无法判断：运行太短，差异大于界限却无法与噪声分开"),
          b.c_str(), a.c_str());
    } else if (!anyComparable) {
      line.key = "not_comparable";
      results::appendFormat(line.text, i18n::tr("%s 与 %s 无法比较：没有两者都有的数值"), b.c_str(),
                            a.c_str());
    } else {
      results::appendFormat(line.text, i18n::tr("%s 与 %s 相同"), b.c_str(), a.c_str());
    }
    // A full-width bracket needs no space after it.
    for (std::size_t at; (at = line.text.find("） ")) != std::string::npos;)
      line.text.erase(at + std::string("）").size(), 1);
    out.push_back(line);
  }
  return out;
}

ordered_json verdictsJson(const std::vector<CompareVerdict>& verdicts) {
  ordered_json out = ordered_json::array();
  for (const CompareVerdict& cv : verdicts) {
    const rc::FigureVerdict& v = cv.figure;
    const bool known = v.comparable();
    ordered_json o;
    o["setup"] = cv.setup;
    o["against"] = cv.against;
    o["figure"] = rc::figureKey(v.figure);
    o["comparable"] = known;
    o["first"] = known ? rounded(v.first, 0.001) : ordered_json(nullptr);
    o["value"] = known ? rounded(v.other, 0.001) : ordered_json(nullptr);
    o["difference"] = known ? rounded(v.difference, 0.001) : ordered_json(nullptr);
    o["margin"] = known ? rounded(v.margin, 0.001) : ordered_json(nullptr);
    o["decidable"] = v.decidable;
    o["unit_blocks"] = v.unitBlocks;
    o["p_value"] = known && v.decidable ? rounded(v.pValue, 0.0001) : ordered_json(nullptr);
    o["separated"] = v.separated;
    o["distinguishable"] = v.distinguishable;
    o["matters"] = v.matters;
    o["method"] = wordsOf(v.figure).method;
    o["text"] = cv.text;
    out.push_back(o);
  }
  return out;
}

ordered_json bottomJson(const std::vector<BottomLine>& lines) {
  ordered_json out = ordered_json::array();
  for (const BottomLine& l : lines)
    out.push_back(
        {{"setup", l.setup}, {"against", l.against}, {"verdict", l.key}, {"text", l.text}});
  return out;
}

ordered_json repeatsJson(const std::vector<SetupView>& setups) {
  ordered_json out = ordered_json::array();
  for (const SetupView& s : setups) {
    if (s.runs.size() < 2) continue;
    ordered_json o;
    o["setup"] = s.letter;
    o["label"] = s.label.empty() ? ordered_json(nullptr) : ordered_json(s.label);
    for (const CompareRunView* r : s.runs) o["runs"].push_back(r->label);
    for (const Spread& sp : kSpreads) {
      std::optional<double> low, high;
      for (const CompareRunView* r : s.runs) {
        const std::optional<double> x = sp.of(*r->result);
        if (!x) continue;
        low = std::min(low.value_or(*x), *x);
        high = std::max(high.value_or(*x), *x);
      }
      o[sp.key] =
          low ? ordered_json({{"min", rounded(*low, 0.001)}, {"max", rounded(*high, 0.001)}})
              : ordered_json(nullptr);
    }
    out.push_back(o);
  }
  return out;
}

std::string verdictsText(const std::vector<SetupView>& setups, std::size_t baseline,
                         const std::vector<CompareVerdict>& verdicts) {
  std::string out =
      i18n::tr("「可分辨」：超出运行之间的噪声（1% 水平）；「有实际意义」：可分辨，且超过界限。\n");
  for (const SetupView& s : setups) {
    if (&s == &setups[baseline]) continue;
    std::string head;
    results::appendFormat(head, i18n::tr("%s 与 %s 相比：\n"), s.name().c_str(),
                          setups[baseline].name().c_str());
    for (std::size_t at; (at = head.find("） ")) != std::string::npos;)
      head.erase(at + std::string("）").size(), 1);
    out += head;
    for (const CompareVerdict& v : verdicts)
      if (v.setup == s.letter) out += "  " + v.text + "\n";
  }
  const bool single = std::any_of(setups.begin(), setups.end(),
                                  [](const SetupView& s) { return s.runs.size() < 2; });
  if (single)
    out +=
        i18n::tr("每种设置最好测三次：measure --repeat 3 --label 名字，再 compare 这些文件夹。\n");
  return out;
}

}  // namespace cli
