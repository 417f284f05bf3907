#include "cli/CompareRun.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "analysis/PollingRules.h"
#include "analysis/SampleComparison.h"
#include "cli/AnalyzeRun.h"
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
  std::string label;  // "A", "B", …
  std::string input;
  std::string userLabel;  // --label: runs of one setup share it; empty when not given
  json result;
  std::vector<double> intervalsUs;  // sorted, rests left out; empty without an intervals file
  sc::IntervalBlocks blocks;        // the same intervals in time order, by seconds of moving
  bool hasIntervals = false;
  std::string note;  // about its intervals file, for the notes
};

// Keeps a run's intervals: sorted for the plot, in blocks for the verdicts.
void keepIntervals(Run& run, const std::vector<int64_t>& stampsNs,
                   const std::vector<DropMark>& drops) {
  const auto rest = std::chrono::nanoseconds(pollingrules::kActivityTimeout).count();
  std::vector<bool> dropBefore(stampsNs.size(), false);
  for (const DropMark& d : drops) {
    if (d.before < dropBefore.size()) dropBefore[d.before] = true;
  }
  run.blocks = sc::intervalBlocks(stampsNs, dropBefore, rest, comparePeriodUs(run.result));
  run.intervalsUs.clear();
  run.intervalsUs.reserve(run.blocks.steps.size());
  for (std::size_t i = 1; i < stampsNs.size(); ++i) {
    const int64_t d = stampsNs[i] - stampsNs[i - 1];
    if (d > 0 && d <= rest) run.intervalsUs.push_back(static_cast<double>(d) / 1000.0);
  }
  std::sort(run.intervalsUs.begin(), run.intervalsUs.end());
  run.hasIntervals = true;
}

std::vector<int64_t> seriesStamps(const StampSeries& s) {
  std::vector<int64_t> out(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) out[i] = s[i];
  return out;
}

void badFile(const Console& c, const std::string& path, const std::string& reason, int& status) {
  std::fprintf(c.err, i18n::tr("quillmark: %s：%s\n"), results::pathText(path).c_str(),
               reason.c_str());
  status = kExitBadRecording;
}

// The intervals file beside a result, when it is the one the result was
// written with: as many reports as the result says it kept. Another one
// (an older run's, left in the folder) is said and left out.
void loadIntervalsBeside(Run& run, const fs::path& jsonPath) {
  const std::optional<std::string> csv = intervalsBeside(jsonPath);
  if (!csv) return;
  const std::string shown = results::pathText(*csv);
  recordings::Recording rec;
  try {
    rec = recordings::readRecording(*csv);
  } catch (const recordings::RecordingError& e) {
    results::appendFormat(run.note, i18n::tr("%s：没有使用 %s：%s"), run.label.c_str(),
                          shown.c_str(), e.reason().c_str());
    return;
  }
  const json* recorded = run.result.contains("intervals_file") &&
                                 run.result["intervals_file"].is_object() &&
                                 run.result["intervals_file"].contains("recorded")
                             ? &run.result["intervals_file"]["recorded"]
                             : nullptr;
  if (recorded == nullptr || !recorded->is_number() ||
      recorded->get<double>() != static_cast<double>(rec.stampsNs.size())) {
    results::appendFormat(
        run.note,
        i18n::tr(
            "%s：没有使用 %s：它有 %zu 个报告，与结果记录的报告数不符，不是这次测试的间隔文件。"),
        run.label.c_str(), shown.c_str(), rec.stampsNs.size());
    return;
  }
  keepIntervals(run, rec.stampsNs, rec.drops);
}

bool loadResult(Run& run, const fs::path& jsonPath, const Console& c, int& status) {
  std::string trouble;
  std::optional<json> result = readResultJson(jsonPath, &trouble);
  if (!result) {
    badFile(c, jsonPath.string(), trouble, status);
    return false;
  }
  run.result = std::move(*result);
  loadIntervalsBeside(run, jsonPath);
  return true;
}

bool loadRecording(Run& run, const Console& c, int& status) {
  AnalyzeOptions o;
  o.file = run.input;
  const std::optional<AnalyzedFile> f = analyzeFile(o, c, status);
  if (!f) return false;
  run.result = json::parse(analyzedJson(*f, run.input));
  keepIntervals(run, seriesStamps(f->record.stamps), f->record.stamps.drops());
  return true;
}

bool loadRun(Run& run, const Console& c, int& status) {
  const fs::path path(run.input);
  std::error_code ec;
  if (fs::is_directory(path, ec)) return loadResult(run, path / "result.json", c, status);
  if (path.extension() == ".json") return loadResult(run, path, c, status);
  return loadRecording(run, c, status);
}

// ---- the table ----

const json* at(const json& j, const char* pointer) {
  const json::json_pointer p(pointer);
  return j.contains(p) && !j.at(p).is_null() ? &j.at(p) : nullptr;
}

std::string numberText(const json& j, const char* pointer, const char* format) {
  const json* v = at(j, pointer);
  if (v == nullptr || !v->is_number()) return "—";
  std::string out;
  results::appendFormat(out, format, v->get<double>());
  return out;
}

// A string from a result file, safe on a terminal line.
std::string textAt(const json& j, const char* pointer) {
  const json* v = at(j, pointer);
  const std::string text =
      v != nullptr && v->is_string() ? results::plainText(v->get<std::string>()) : "";
  return text.empty() ? "—" : text;
}

struct Row {
  const char* label;
  std::string (*value)(const json&);
};

const Row kRows[] = {
    {i18n::trNoop("设备"), [](const json& j) { return textAt(j, "/device/name"); }},
    {i18n::trNoop("端口"), [](const json& j) { return textAt(j, "/environment/usb_port_path"); }},
    {i18n::trNoop("总线速率"),
     [](const json& j) { return numberText(j, "/environment/bus_speed_mbps", "%g Mb/s"); }},
    {i18n::trNoop("设定回报率"),
     [](const json& j) { return numberText(j, "/device/configured_hz", "%.0f Hz"); }},
    {i18n::trNoop("移动回报率"),
     [](const json& j) { return numberText(j, "/whole_test/moving_rate_hz", "%.1f Hz"); }},
    {i18n::trNoop("间隔 p50"),
     [](const json& j) { return numberText(j, "/whole_test/interval_us/p50", "%.1f µs"); }},
    {i18n::trNoop("间隔 p99"),
     [](const json& j) { return numberText(j, "/whole_test/interval_us/p99", "%.1f µs"); }},
    {i18n::trNoop("间隔 p99.9"),
     [](const json& j) { return numberText(j, "/whole_test/interval_us/p99_9", "%.1f µs"); }},
    {i18n::trNoop("间隔最大"),
     [](const json& j) { return numberText(j, "/whole_test/interval_us/max", "%.1f µs"); }},
    {i18n::trNoop("缺失报告"),
     [](const json& j) { return numberText(j, "/whole_test/missed_slots", "%.0f"); }},
    {i18n::trNoop("内核丢弃"),
     [](const json& j) { return numberText(j, "/whole_test/kernel_drops", "%.0f"); }},
    {i18n::trNoop("网格偏差 p99"),
     [](const json& j) { return numberText(j, "/whole_test/lateness_us/p99", "%.1f µs"); }},
    {i18n::trNoop("判定"), [](const json& j) { return results::plainText(verdictTextOf(j)); }},
    {i18n::trNoop("原因"), [](const json& j) { return textAt(j, "/whole_test/cause/text"); }},
};

void appendCell(std::string& out, const std::string& text, int width) {
  out += text;
  out.append(static_cast<std::size_t>(std::max(0, width - results::displayColumns(text))) + 2, ' ');
}

// Four runs and the labels fit in 120 columns; a longer cell is cut, and
// the names in full are listed under the table with the sources.
constexpr int kCellWidth = 24;

// The verdict and the cause are sentences: they go with the run's source,
// under the table.
bool inTable(const Row& row) {
  return std::string_view(row.label) != "原因" && std::string_view(row.label) != "判定";
}

std::string tableText(const std::vector<Run>& runs) {
  std::vector<std::vector<std::string>> cells;
  cells.push_back({""});
  for (const Run& r : runs) cells[0].push_back(r.label);
  for (const Row& row : kRows) {
    if (!inTable(row)) continue;
    cells.push_back({i18n::tr(row.label)});
    for (const Run& r : runs)
      cells.back().push_back(results::cutToColumns(row.value(r.result), kCellWidth));
  }
  std::vector<int> widths(runs.size() + 1, 0);
  for (const auto& line : cells) {
    for (std::size_t i = 0; i < line.size(); ++i)
      widths[i] = std::max(widths[i], results::displayColumns(line[i]));
  }
  std::string out;
  for (const auto& line : cells) {
    for (std::size_t i = 0; i < line.size(); ++i) appendCell(out, line[i], widths[i]);
    while (!out.empty() && out.back() == ' ') out.pop_back();
    out += '\n';
  }
  return out;
}

std::string mouseAndPort(const Run& r) {
  std::string out = textAt(r.result, "/device/name");
  const std::string port = textAt(r.result, "/environment/usb_port_path");
  if (port != "—") out += i18n::tr("，端口 ") + port;
  return out;
}

// Each run once: where it came from, its mouse and port in full, its cause.
std::string sourcesText(const std::vector<Run>& runs) {
  std::string out;
  for (const Run& r : runs) {
    out += r.label + "  " + r.input + "\n   " + mouseAndPort(r) + "\n";
    for (const Row& row : kRows) {
      if (!inTable(row))
        results::appendFormat(out, i18n::tr("   %s：%s\n"), i18n::tr(row.label),
                              row.value(r.result).c_str());
    }
  }
  return out;
}

// ---- the verdicts ----

std::vector<CompareRunView> views(const std::vector<Run>& runs) {
  std::vector<CompareRunView> out;
  for (const Run& r : runs)
    out.push_back({r.label, r.userLabel, &r.result, r.hasIntervals ? &r.blocks : nullptr});
  return out;
}

// ---- output ----

std::string compareJson(const std::vector<Run>& runs, const std::vector<CompareVerdict>& vs,
                        const std::vector<std::string>& notes) {
  nlohmann::ordered_json j;
  j["schema"] = "quillmark-compare";
  j["schema_version"] = 2;
  j["level"] = sc::kLevel;
  j["block_s"] = sc::kBlockSeconds;
  j["permutations"] = sc::kPermutations;
  for (const Run& r : runs) {
    nlohmann::ordered_json run;
    run["label"] = r.label;
    run["input"] = r.input;
    run["user_label"] =
        r.userLabel.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(r.userLabel);
    run["intervals"] = r.hasIntervals ? nlohmann::ordered_json(r.intervalsUs.size())
                                      : nlohmann::ordered_json(nullptr);
    for (const Row& row : kRows) run["table"][row.label] = row.value(r.result);
    run["result"] = r.result;
    j["runs"].push_back(run);
  }
  j["verdicts"] = verdictsJson(vs);
  j["repeats"] = repeatsJson(views(runs));
  j["notes"] = notes;
  return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string compareText(const std::vector<Run>& runs, const std::vector<CompareVerdict>& vs,
                        const std::vector<std::string>& notes) {
  std::string out = tableText(runs) + "\n" + sourcesText(runs) + verdictsText(views(runs), vs);
  for (const std::string& n : notes) out += "  " + n + "\n";
  return out;
}

// The rate in each speed band, from the result's motion figures.
std::vector<std::pair<double, double>> rateBySpeed(const json& result) {
  std::vector<std::pair<double, double>> out;
  const json* bands = at(result, "/whole_test/motion/bands");
  if (bands == nullptr || !bands->is_array()) return out;
  for (const json& b : *bands) {
    const json* low = at(b, "/low_counts_per_s");
    const json* hz = at(b, "/rate_hz");
    if (low != nullptr && hz != nullptr && low->is_number() && hz->is_number())
      out.emplace_back(low->get<double>(), hz->get<double>());
  }
  return out;
}

// The legend names each run's mouse with its port, so two runs of one mouse
// on two ports read apart.
std::string plotLabel(const Run& r) { return r.label + "  " + mouseAndPort(r); }

std::vector<results::PlotRun> plotRuns(const std::vector<Run>& runs) {
  std::vector<results::PlotRun> out;
  for (const Run& r : runs) {
    if (!r.hasIntervals) continue;
    out.push_back({plotLabel(r), &r.intervalsUs, rateBySpeed(r.result)});
  }
  return out;
}

}  // namespace

namespace {

bool loadRuns(std::vector<Run>& runs, const CompareOptions& o, const Console& c, int& status) {
  for (std::size_t i = 0; i < runs.size(); ++i) {
    runs[i].label = std::string(1, static_cast<char>('A' + std::min<std::size_t>(i, 25)));
    if (i >= 26) runs[i].label += std::to_string(i - 25);
    runs[i].input = o.inputs[i];
    if (!o.labels.empty()) runs[i].userLabel = results::plainText(o.labels[i]);
    if (!loadRun(runs[i], c, status)) return false;
  }
  return true;
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

}  // namespace

int runCompare(const CompareOptions& o, const Console& c) {
  if (!o.labels.empty() && o.labels.size() != o.inputs.size()) {
    std::fprintf(c.err,
                 i18n::tr("quillmark: --label 给了 %zu 个名字，运行却有 %zu 个：每个运行一个\n"),
                 o.labels.size(), o.inputs.size());
    return kExitUsage;
  }
  // The options were checked against each other and the inputs; whether
  // the plot can be written is known before the reading.
  if (!resultFilesWritable({}, o.plotPath, c)) return kExitFileError;
  std::vector<Run> runs(o.inputs.size());
  int status = kExitOk;
  if (!loadRuns(runs, o, c, status)) return status;
  std::vector<std::string> notes;
  for (const Run& r : runs) {
    if (!r.note.empty()) notes.push_back(r.note);
  }
  const std::vector<CompareVerdict> vs = compareVerdicts(views(runs));
  const std::string text = o.json ? compareJson(runs, vs, notes) : compareText(runs, vs, notes);
  // A plot on standard output leaves the table to the console lines.
  const bool written = o.plotPath == "-" ? std::fputs(text.c_str(), c.err) >= 0 : writeOut(c, text);
  status = written ? kExitOk : kExitFileError;
  if (o.plotPath.empty()) return status;
  const int plotted = writePlot(runs, o, c);
  return status != kExitOk ? status : plotted;
}

}  // namespace cli
