#include "cli/CompareRun.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "analysis/MotionRules.h"
#include "analysis/PollingRules.h"
#include "analysis/SampleComparison.h"
#include "cli/AnalyzeRun.h"
#include "cli/CompareTable.h"
#include "cli/CompareVerdicts.h"
#include "cli/ResultInput.h"
#include "i18n/Translate.h"
#include "results/ComparePlot.h"
#include "results/FileWriter.h"
#include "results/TextFormat.h"

namespace cli {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
namespace sc = samplecomparison;

struct Run {
  std::string input;
  std::string userLabel;            // --label, else the result's test.label; empty when neither
  json result;                      // the complete record the table and the verdicts both read
  bool recomputed = false;          // from the intervals, not the stored figures
  std::vector<double> intervalsUs;  // sorted, for the plot; empty without intervals
  sc::IntervalBlocks blocks;        // the intervals in time order, by seconds of moving
  bool hasIntervals = false;
  std::string note;  // about its intervals file, for the notes
  CompareRunView view;
};

// Keeps a record's intervals: sorted for the plot, in blocks for the
// verdicts, the ones the whole test counts (no rests, none that ends at a
// report without X/Y motion).
void keepIntervals(Run& run, const StampSeries& s) {
  const auto rest = std::chrono::nanoseconds(pollingrules::kActivityTimeout).count();
  std::vector<int64_t> stamps(s.size());
  std::vector<bool> dropBefore(s.size(), false), still(s.size(), false);
  for (std::size_t i = 0; i < s.size(); ++i) {
    stamps[i] = s[i];
    still[i] = motionrules::stillReport(s.motion(i));
  }
  for (const DropMark& d : s.drops()) {
    if (d.before < dropBefore.size()) dropBefore[d.before] = true;
  }
  run.blocks = sc::intervalBlocks(stamps, dropBefore, rest, comparePeriodUs(run.result), still);
  run.intervalsUs.clear();
  for (int32_t step : run.blocks.steps) run.intervalsUs.push_back(step * sc::kStepUs);
  std::sort(run.intervalsUs.begin(), run.intervalsUs.end());
  run.hasIntervals = true;
}

void badFile(const Console& c, const std::string& path, const std::string& reason, int& status) {
  std::fprintf(c.err, i18n::tr("quillmark: %s：%s\n"), results::pathText(path).c_str(),
               reason.c_str());
  status = kExitBadRecording;
}

// A recording, or a result with the intervals file it was written with,
// made into a complete record again, as `analyze` makes it.
bool recompute(Run& run, const std::string& input, const Console& c, int& status) {
  AnalyzeOptions o;
  o.file = input;
  const std::optional<AnalyzedFile> f = analyzeFile(o, c, status);
  if (!f) return false;
  run.result = json::parse(analyzedJson(*f, input));
  run.recomputed = true;
  keepIntervals(run, f->record.stamps);
  return true;
}

// The intervals file beside a result, when it is the one the result was
// written with: as many reports as the result says it kept. Another one
// (an older run's, left in the folder) is said and left out.
bool ownIntervalsBeside(Run& run, const fs::path& jsonPath) {
  const std::optional<std::string> csv = intervalsBeside(jsonPath);
  if (!csv) return false;
  const json* recorded = run.result.contains("intervals_file") &&
                                 run.result["intervals_file"].is_object() &&
                                 run.result["intervals_file"].contains("recorded")
                             ? &run.result["intervals_file"]["recorded"]
                             : nullptr;
  std::size_t reports = 0;
  try {
    reports = recordings::readRecording(*csv).stampsNs.size();
  } catch (const recordings::RecordingError& e) {
    results::appendFormat(run.note, i18n::tr("没有使用 %s：%s"), results::pathText(*csv).c_str(),
                          e.reason().c_str());
    return false;
  }
  if (recorded != nullptr && recorded->is_number() &&
      recorded->get<double>() == static_cast<double>(reports))
    return true;
  results::appendFormat(
      run.note,
      i18n::tr("没有使用 %s：它有 %zu 个报告，与结果记录的报告数不符，不是这次测试的间隔文件"),
      results::pathText(*csv).c_str(), reports);
  return false;
}

// Figures whose meaning changed in version 3 are not read from an older
// result: without its intervals, the run does not have them.
void dropOlderMeanings(json& result) {
  const json& v = result["schema_version"];
  if (!v.is_number() || v.get<double>() >= 3 || !result["whole_test"].is_object()) return;
  result["whole_test"]["missed_slots"] = nullptr;
  result["whole_test"]["lateness_us"] = nullptr;
}

bool loadResult(Run& run, const fs::path& jsonPath, const Console& c, int& status) {
  std::string trouble;
  std::optional<json> result = readResultJson(jsonPath, &trouble);
  if (!result) {
    badFile(c, jsonPath.string(), trouble, status);
    return false;
  }
  run.result = std::move(*result);
  if (ownIntervalsBeside(run, jsonPath)) {
    const std::string label = resultText(run.result, "/test/label");
    if (!recompute(run, jsonPath.string(), c, status)) return false;
    if (!label.empty()) run.result["test"]["label"] = label;
    return true;
  }
  dropOlderMeanings(run.result);
  return true;
}

bool loadRun(Run& run, const Console& c, int& status) {
  const fs::path path(run.input);
  std::error_code ec;
  if (fs::is_directory(path, ec)) return loadResult(run, path / "result.json", c, status);
  if (path.extension() == ".json") return loadResult(run, path, c, status);
  return recompute(run, run.input, c, status);
}

// ---- setups ----

// Runs by label in order of first use; runs without one are setups of their own.
std::vector<SetupView> setupsOf(std::vector<Run>& runs) {
  std::vector<SetupView> out;
  std::vector<std::size_t> setupOf;
  for (const Run& r : runs) {
    std::size_t s = 0;
    while (s < out.size() && (r.userLabel.empty() || out[s].label != r.userLabel)) ++s;
    if (s == out.size()) {
      out.emplace_back();
      out.back().letter = std::string(1, static_cast<char>('A' + std::min<std::size_t>(s, 25)));
      if (s >= 26) out.back().letter += std::to_string(s - 25);
      out.back().label = r.userLabel;
    }
    out[s].runs.push_back(&r.view);
    setupOf.push_back(s);
  }
  // A setup of several runs numbers them: A1, A2, …
  std::vector<std::size_t> seen(out.size(), 0);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const SetupView& s = out[setupOf[i]];
    runs[i].view.label =
        s.letter + (s.runs.size() > 1 ? std::to_string(++seen[setupOf[i]]) : std::string());
  }
  return out;
}

// ---- output ----

const char* sourceText(const Run& r) {
  if (!r.recomputed) return i18n::tr("只有 result.json：使用保存的数值");
  const std::string input = r.input;
  std::error_code ec;
  if (fs::is_directory(input, ec) || fs::path(input).extension() == ".json")
    return i18n::tr("图表与结论均由 intervals.csv 重算");
  return i18n::tr("图表与结论均由录制文件重算");
}

std::string mouseAndPort(const Run& r) {
  std::string out = resultText(r.result, "/device/name");
  if (out.empty()) out = "—";
  const std::string port = resultText(r.result, "/environment/usb_port_path");
  if (!port.empty()) out += i18n::tr("，端口 ") + port;
  return out;
}

// A run's verdict in the current language: a recomputed record's own words,
// a stored one's by its kind (its stored text is in the language it was saved in).
std::string verdictText(const Run& r) {
  if (r.recomputed || schemaVersion(r.result) < 4)
    return results::plainText(verdictTextOf(r.result));
  const std::string kind = resultText(r.result, "/target/verdict");
  if (kind == "reached") return i18n::tr("达到目标");
  if (kind == "near") return i18n::tr("略低于目标");
  if (kind == "below") return i18n::tr("鼠标或其连接未达到目标");
  if (kind == "host_limited") return i18n::tr("主机限制了回报率");
  if (kind == "kernel_drops") return i18n::tr("内核丢弃了报告，读取跟不上");
  return resultText(r.result, "/target/unknown_reason") == "too_short"
             ? i18n::tr("测试太短，无法判断")
             : i18n::tr("无法判断");
}

// Each run once: where it came from, what was read, its mouse, verdict and cause.
std::string sourcesText(const std::vector<Run>& runs) {
  std::string out;
  for (const Run& r : runs) {
    out += r.view.label + "  " + results::pathText(r.input) + "\n";
    out += "    " + std::string(sourceText(r)) + "\n    " + mouseAndPort(r) + "\n";
    results::appendFormat(out, i18n::tr("    判定：%s\n"), verdictText(r).c_str());
    results::appendFormat(out, i18n::tr("    原因：%s\n"),
                          causeText(r.result, r.recomputed).c_str());
  }
  return out;
}

struct Comparison {
  std::vector<SetupView> setups;
  std::size_t baseline = 0;
  std::vector<CompareVerdict> verdicts;
  std::vector<BottomLine> bottom;
  std::vector<std::string> notes;
};

std::string compareJson(const std::vector<Run>& runs, const Comparison& k) {
  nlohmann::ordered_json j;
  j["schema"] = "quillmark-compare";
  j["schema_version"] = 3;
  j["level"] = sc::kLevel;
  j["block_s"] = sc::kBlockSeconds;
  j["permutations"] = sc::kPermutations;
  j["baseline"] = k.setups[k.baseline].letter;
  for (const SetupView& s : k.setups) {
    nlohmann::ordered_json o;
    o["setup"] = s.letter;
    o["label"] =
        s.label.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(s.label);
    for (const CompareRunView* r : s.runs) o["runs"].push_back(r->label);
    j["setups"].push_back(o);
  }
  for (const Run& r : runs) {
    nlohmann::ordered_json run;
    run["label"] = r.view.label;
    run["input"] = r.input;
    run["user_label"] =
        r.userLabel.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(r.userLabel);
    run["source"] = r.recomputed ? "intervals" : "stored";
    run["intervals"] = r.hasIntervals ? nlohmann::ordered_json(r.intervalsUs.size())
                                      : nlohmann::ordered_json(nullptr);
    run["table"] = runCells(r.result);
    run["cause"] = causeText(r.result, r.recomputed);
    run["result"] = r.result;
    j["runs"].push_back(run);
  }
  j["bottom_line"] = bottomJson(k.bottom);
  j["verdicts"] = verdictsJson(k.verdicts);
  j["repeats"] = repeatsJson(k.setups);
  j["notes"] = k.notes;
  return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string compareText(const std::vector<Run>& runs, const Comparison& k) {
  std::string out = compareTable(k.setups) + "\n";
  for (const BottomLine& l : k.bottom) out += l.text + "\n";
  out += "\n" + sourcesText(runs) + "\n" + verdictsText(k.setups, k.baseline, k.verdicts);
  for (const std::string& n : k.notes) out += "  " + n + "\n";
  return out;
}

// The rate in each speed band, from the result's motion figures.
std::vector<std::pair<double, double>> rateBySpeed(const json& result) {
  std::vector<std::pair<double, double>> out;
  const json::json_pointer p("/whole_test/motion/bands");
  if (!result.contains(p) || !result.at(p).is_array()) return out;
  for (const json& b : result.at(p)) {
    if (b.is_object() && b.contains("low_counts_per_s") && b["low_counts_per_s"].is_number() &&
        b.contains("rate_hz") && b["rate_hz"].is_number())
      out.emplace_back(b["low_counts_per_s"].get<double>(), b["rate_hz"].get<double>());
  }
  return out;
}

// The legend names each run with its label, mouse and port, so that two
// runs of one mouse on two ports read apart.
std::string plotLabel(const Run& r) {
  return r.view.label + (r.userLabel.empty() ? "" : " " + r.userLabel) + "  " + mouseAndPort(r);
}

std::vector<results::PlotRun> plotRuns(const std::vector<Run>& runs) {
  std::vector<results::PlotRun> out;
  for (const Run& r : runs) {
    if (!r.hasIntervals) continue;
    out.push_back({plotLabel(r), &r.intervalsUs, rateBySpeed(r.result)});
  }
  return out;
}

int writePlot(const std::vector<Run>& runs, const CompareOptions& o, const Console& c) {
  const results::WriteResult w = results::writeComparePlot(plotRuns(runs), o.plotPath);
  if (!w) {
    std::fprintf(c.err, "%s\n", w.error.c_str());
    return kExitFileError;
  }
  std::fprintf(c.err, i18n::tr("已写入 %s\n"),
               o.plotPath == "-" ? i18n::tr("标准输出") : results::pathText(o.plotPath).c_str());
  return kExitOk;
}

// A usage problem of the runs and their labels; empty when none.
std::string labelTrouble(const CompareOptions& o) {
  std::string out;
  if (o.inputs.size() < 2) {
    results::appendFormat(out, i18n::tr("compare 至少要两个运行，只给了 %zu 个"), o.inputs.size());
  } else if (!o.labels.empty() && o.labels.size() != o.inputs.size()) {
    results::appendFormat(out,
                          i18n::tr("--label 有 %zu 个名字，运行却有 %zu 个：每个运行一个，按顺序"),
                          o.labels.size(), o.inputs.size());
  } else {
    for (std::size_t i = 0; i < o.labels.size() && out.empty(); ++i) {
      if (o.labels[i].find_first_not_of(" \t") == std::string::npos)
        results::appendFormat(out, i18n::tr("--label 的第 %zu 个名字是空的"), i + 1);
    }
  }
  return out;
}

std::optional<std::size_t> baselineOf(const std::vector<SetupView>& setups,
                                      const std::string& wanted) {
  if (wanted.empty()) return 0;
  for (std::size_t i = 0; i < setups.size(); ++i) {
    if (setups[i].label == wanted || setups[i].letter == wanted) return i;
  }
  return std::nullopt;
}

}  // namespace

int runCompare(const CompareOptions& o, const Console& c) {
  if (const std::string why = labelTrouble(o); !why.empty()) {
    std::fprintf(c.err, "quillmark: %s\n", why.c_str());
    return kExitUsage;
  }
  // Whether the plot can be written is known before the reading.
  if (!resultFilesWritable({}, o.plotPath, c)) return kExitFileError;
  std::vector<Run> runs(o.inputs.size());
  int status = kExitOk;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    runs[i].input = o.inputs[i];
    if (!loadRun(runs[i], c, status)) return status;
    std::string label = o.labels.empty() ? resultText(runs[i].result, "/test/label")
                                         : results::plainText(o.labels[i]);
    // " port-a" and "port-a" are one name.
    label.erase(0, label.find_first_not_of(" \t"));
    label.erase(label.find_last_not_of(" \t") + 1);
    runs[i].userLabel = label;
    runs[i].view.result = &runs[i].result;
    runs[i].view.blocks = runs[i].hasIntervals ? &runs[i].blocks : nullptr;
  }
  Comparison k;
  k.setups = setupsOf(runs);
  const std::optional<std::size_t> baseline = baselineOf(k.setups, o.baseline);
  if (!baseline) {
    std::fprintf(c.err, i18n::tr("quillmark: --baseline %s：没有这个名字的设置\n"),
                 results::plainText(o.baseline).c_str());
    return kExitUsage;
  }
  if (k.setups.size() < 2) {
    std::fputs(i18n::tr("quillmark: 所有运行同名，只有一种设置：没有可比的\n"), c.err);
    return kExitUsage;
  }
  k.baseline = *baseline;
  k.verdicts = compareVerdicts(k.setups, k.baseline);
  k.bottom = bottomLines(k.setups, k.baseline, k.verdicts);
  for (const Run& r : runs) {
    if (!r.note.empty()) k.notes.push_back(r.view.label + i18n::tr("：") + r.note);
  }
  const std::string text = o.json ? compareJson(runs, k) : compareText(runs, k);
  // A plot on standard output leaves the table to the console lines.
  const bool written = o.plotPath == "-" ? std::fputs(text.c_str(), c.err) >= 0 : writeOut(c, text);
  status = written ? kExitOk : kExitFileError;
  if (o.plotPath.empty()) return status;
  const int plotted = writePlot(runs, o, c);
  return status != kExitOk ? status : plotted;
}

}  // namespace cli
