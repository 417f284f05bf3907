#include "cli/CompareVerdicts.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "i18n/Translate.h"
#include "results/TextFormat.h"

namespace cli {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;
namespace rc = runcomparison;
namespace sc = samplecomparison;

const json* at(const json& j, const char* pointer) {
  const json::json_pointer p(pointer);
  return j.contains(p) && !j.at(p).is_null() ? &j.at(p) : nullptr;
}

std::optional<double> numberAt(const json& j, const char* pointer) {
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
  return f;
}

// The whole sentence heads name the run, the figure, the first run and the
// difference, in that order, so each language can place its own words.
constexpr const char* kHigher = i18n::trNoop("%s 的%s比 %s 高 %s");
constexpr const char* kLower = i18n::trNoop("%s 的%s比 %s 低 %s");
constexpr const char* kMore = i18n::trNoop("%s 的%s比 %s 多 %s");
constexpr const char* kFewer = i18n::trNoop("%s 的%s比 %s 少 %s");

struct Words {
  const char* name;  // after "X 的"
  const char* format;
  const char* unit;
  const char* more;  // the sentence when the run's figure is the larger
  const char* less;
  const char* method;
};

const char* const kCountMethod =
    "count over its exposure; z test whose variance is scaled by the counts' dispersion between "
    "1-second blocks of moving time, 1% level";
const char* const kBlockMethod =
    "permutation of 1-second blocks of moving time between the two runs (every split up to "
    "2000, else 200 at random), 1% level";

Words wordsOf(rc::Figure f) {
  switch (f) {
    case rc::Figure::MovingRate:
      return {i18n::trNoop("移动回报率"), "%.1f", "Hz", kHigher, kLower, kCountMethod};
    case rc::Figure::MissedSlots:
      return {i18n::trNoop("缺失报告"), "%.2f", "‰", kMore, kFewer, kCountMethod};
    case rc::Figure::DroppedReports:
      return {i18n::trNoop("内核丢弃的报告"), "%.2f", "‰", kMore, kFewer, kCountMethod};
    case rc::Figure::Distribution:
      return {i18n::trNoop("间隔分布"), "%.4f", "", "", "", kBlockMethod};
    case rc::Figure::P50:
      return {i18n::trNoop(" p50 间隔"), "%.1f", "µs", kHigher, kLower, kBlockMethod};
    case rc::Figure::P99:
      return {i18n::trNoop(" p99 间隔"), "%.1f", "µs", kHigher, kLower, kBlockMethod};
    case rc::Figure::P99_9:
      break;
  }
  return {i18n::trNoop(" p99.9 间隔"), "%.1f", "µs", kHigher, kLower, kBlockMethod};
}

// A figure's name inside a sentence: the English names are written as
// labels, capitalised.
std::string inSentence(const char* name) {
  std::string out = i18n::tr(name);
  if (!out.empty() && out[0] >= 'A' && out[0] <= 'Z')
    out[0] = static_cast<char>(out[0] - 'A' + 'a');
  return out;
}

// "‰" follows its number; other units stand apart.
const char* unitGap(const Words& w) { return std::string(w.unit) == "‰" ? "" : " "; }

std::string pText(double p) {
  std::string out;
  if (p < 0.0005) return "p < 0.001";
  results::appendFormat(out, "p = %.3f", p);
  return out;
}

bool fromIntervals(rc::Figure f) {
  return f != rc::Figure::MovingRate && f != rc::Figure::MissedSlots &&
         f != rc::Figure::DroppedReports;
}

std::string marginText(const rc::FigureVerdict& v, const Words& w) {
  std::string out;
  if (v.figure == rc::Figure::MissedSlots || v.figure == rc::Figure::DroppedReports) {
    results::appendFormat(out, i18n::tr("多 %g‰ 且至少两倍"), v.margin);
  } else if (v.figure == rc::Figure::Distribution) {
    results::appendFormat(out, "D = %g", v.margin);
  } else {
    results::appendFormat(out, (std::string(w.format) + unitGap(w) + "%s").c_str(), v.margin,
                          w.unit);
  }
  return out;
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
  results::appendFormat(out,
                        fromIntervals(v.figure) ? i18n::tr("无法比较：%s 没有间隔数据")
                                                : i18n::tr("无法比较：%s 没有这个数值"),
                        who.c_str());
  return out;
}

std::string verdictText(const rc::FigureVerdict& v, const std::string& first,
                        const std::string& other) {
  const Words w = wordsOf(v.figure);
  std::string out;
  if (v.figure == rc::Figure::Distribution) {
    if (!v.comparable()) {
      results::appendFormat(out, i18n::tr("%s 与 %s 的间隔分布"), other.c_str(), first.c_str());
      return out + lackText(v, first, other);
    }
    results::appendFormat(out, i18n::tr("%s 与 %s 的间隔分布相差 D = %.4f"), other.c_str(),
                          first.c_str(), v.difference);
  } else {
    if (!v.comparable()) {
      results::appendFormat(out, i18n::tr("%s 的%s"), other.c_str(), inSentence(w.name).c_str());
      return out + lackText(v, first, other);
    }
    std::string amount;
    results::appendFormat(amount, (std::string(w.format) + unitGap(w) + "%s").c_str(),
                          std::abs(v.difference), w.unit);
    results::appendFormat(out, i18n::tr(v.difference >= 0 ? w.more : w.less), other.c_str(),
                          inSentence(w.name).c_str(), first.c_str(), amount.c_str());
  }
  const char* tail = nullptr;
  std::string detail;
  if (!v.beyondMargin) {
    tail = i18n::tr("，在界限（%s）以内，可视为相同");
    detail = marginText(v, w);
  } else if (!v.decidable) {
    return out + (fromIntervals(v.figure)
                      ? i18n::tr("，但两次运行的移动时间太短（合计约需 10 "
                                 "秒），无法判断是否超出运行之间的噪声")
                      : i18n::tr("，但没有每秒的数据，无法判断是否超出运行之间的噪声"));
  } else if (!v.distinguishable) {
    tail = i18n::tr("，但在运行之间的噪声范围内（%s）");
    detail = pText(v.pValue);
  } else {
    results::appendFormat(out, i18n::tr("：可分辨（%s），且有实际意义（界限 %s）"),
                          pText(v.pValue).c_str(), marginText(v, w).c_str());
    return out;
  }
  results::appendFormat(out, tail, detail.c_str());
  return out;
}

ordered_json rounded(double x, double step) { return std::round(x / step) * step; }

// The smallest and largest of a figure over some runs; null when none has it.
ordered_json spread(const std::vector<const CompareRunView*>& runs,
                    std::optional<double> (*of)(const json&)) {
  std::optional<double> low, high;
  for (const CompareRunView* r : runs) {
    const std::optional<double> x = of(*r->result);
    if (!x) continue;
    low = std::min(low.value_or(*x), *x);
    high = std::max(high.value_or(*x), *x);
  }
  if (!low) return nullptr;
  return {{"min", rounded(*low, 0.001)}, {"max", rounded(*high, 0.001)}};
}

struct Spread {
  const char* key;
  const char* name;
  const char* format;
  std::optional<double> (*of)(const json&);
};
const Spread kSpreads[] = {
    {"moving_rate_hz", i18n::trNoop("移动回报率"), "%.1f–%.1f Hz",
     [](const json& j) { return numberAt(j, "/whole_test/moving_rate_hz"); }},
    {"p99_us", i18n::trNoop("p99 间隔"), "%.1f–%.1f µs",
     [](const json& j) { return numberAt(j, "/whole_test/interval_us/p99"); }},
    {"missed_per_1000", i18n::trNoop("缺失报告"), "%.2f–%.2f‰",
     [](const json& j) -> std::optional<double> {
       const auto missed = numberAt(j, "/whole_test/missed_slots");
       const double reports = numberAt(j, "/whole_test/reports").value_or(0);
       if (!missed || reports <= 0) return std::nullopt;
       return 1000.0 * *missed / reports;
     }},
};

// Runs by their --label, for labels two or more runs share; in order of first use.
std::vector<std::pair<std::string, std::vector<const CompareRunView*>>> repeats(
    const std::vector<CompareRunView>& runs) {
  std::vector<std::pair<std::string, std::vector<const CompareRunView*>>> out;
  for (const CompareRunView& r : runs) {
    if (r.userLabel.empty()) continue;
    auto it =
        std::find_if(out.begin(), out.end(), [&](const auto& g) { return g.first == r.userLabel; });
    if (it == out.end()) it = out.insert(out.end(), {r.userLabel, {}});
    it->second.push_back(&r);
  }
  out.erase(
      std::remove_if(out.begin(), out.end(), [](const auto& g) { return g.second.size() < 2; }),
      out.end());
  return out;
}

}  // namespace

double comparePeriodUs(const json& result) {
  const double grid = numberAt(result, "/whole_test/grid/period_us").value_or(0);
  if (grid > 0) return grid;
  const std::optional<double> missed = numberAt(result, "/whole_test/missed_slots");
  const double slots = numberAt(result, "/whole_test/intervals").value_or(0) + missed.value_or(0) +
                       numberAt(result, "/whole_test/kernel_dropped_reports").value_or(0);
  const double moving = numberAt(result, "/whole_test/moving_s").value_or(0);
  if (missed && slots > 0 && moving > 0) return moving * 1e6 / slots;
  return numberAt(result, "/whole_test/interval_us/p50").value_or(0);
}

std::vector<CompareVerdict> compareVerdicts(const std::vector<CompareRunView>& runs) {
  std::vector<CompareVerdict> out;
  if (runs.empty()) return out;
  const CompareRunView& first = runs.front();
  const rc::RunFigures a = figuresOf(first);
  for (std::size_t i = 1; i < runs.size(); ++i) {
    for (const rc::FigureVerdict& v : rc::compareRuns(a, figuresOf(runs[i])))
      out.push_back({runs[i].label, first.label, v, verdictText(v, first.label, runs[i].label)});
  }
  return out;
}

ordered_json verdictsJson(const std::vector<CompareVerdict>& verdicts) {
  ordered_json out = ordered_json::array();
  for (const CompareVerdict& cv : verdicts) {
    const rc::FigureVerdict& v = cv.figure;
    const bool known = v.comparable();
    ordered_json o;
    o["run"] = cv.run;
    o["against"] = cv.against;
    o["figure"] = rc::figureKey(v.figure);
    o["comparable"] = known;
    o["first"] = known ? rounded(v.first, 0.001) : ordered_json(nullptr);
    o["value"] = known ? rounded(v.other, 0.001) : ordered_json(nullptr);
    o["difference"] = known ? rounded(v.difference, 0.001) : ordered_json(nullptr);
    o["margin"] = known ? rounded(v.margin, 0.001) : ordered_json(nullptr);
    o["decidable"] = v.decidable;
    o["p_value"] = known && v.decidable ? rounded(v.pValue, 0.0001) : ordered_json(nullptr);
    o["distinguishable"] = v.distinguishable;
    o["matters"] = v.matters;
    o["method"] = wordsOf(v.figure).method;
    o["text"] = cv.text;
    out.push_back(o);
  }
  return out;
}

ordered_json repeatsJson(const std::vector<CompareRunView>& runs) {
  ordered_json out = ordered_json::array();
  for (const auto& [label, group] : repeats(runs)) {
    ordered_json o;
    o["label"] = label;
    for (const CompareRunView* r : group) o["runs"].push_back(r->label);
    for (const Spread& s : kSpreads) o[s.key] = spread(group, s.of);
    out.push_back(o);
  }
  return out;
}

std::string verdictsText(const std::vector<CompareRunView>& runs,
                         const std::vector<CompareVerdict>& verdicts) {
  std::string out;
  results::appendFormat(
      out,
      i18n::tr("\n与 %s 相比（「可分辨」：超出运行之间的噪声，1%% 水平；「有实际意义」："
               "可分辨，且超过界限）：\n"),
      runs.front().label.c_str());
  for (const CompareVerdict& v : verdicts) out += "  " + v.text + "\n";
  out += i18n::tr(
      "\n同一设置的两次运行之间也会有差异：每种设置最好测三次以上，并用 --label "
      "给同一设置的运行起相同的名字，这里会列出它们之间的差异范围。\n");
  for (const auto& [label, group] : repeats(runs)) {
    out += "  " + label + i18n::tr("（");
    for (std::size_t i = 0; i < group.size(); ++i)
      out += (i > 0 ? i18n::tr("、") : "") + group[i]->label;
    out += i18n::tr("）：");
    for (std::size_t s = 0; s < std::size(kSpreads); ++s) {
      const ordered_json range = spread(group, kSpreads[s].of);
      out += std::string(s > 0 ? i18n::tr("，") : "") + i18n::tr(kSpreads[s].name) + " ";
      if (range.is_null()) {
        out += "—";
      } else {
        results::appendFormat(out, kSpreads[s].format, range["min"].get<double>(),
                              range["max"].get<double>());
      }
    }
    out += "\n";
  }
  return out;
}

}  // namespace cli
