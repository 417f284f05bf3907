#include "cli/AnalyzeRun.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "analysis/PollingAnalyzer.h"
#include "cli/ResultInput.h"
#include "cli/Summary.h"
#include "i18n/Translate.h"
#include "recordings/Recording.h"
#include "results/IntervalPlot.h"
#include "results/IntervalsCsv.h"
#include "results/ResultJson.h"
#include "results/TextFormat.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using recordings::Recording;

// The window's frame period: the replay advances the analyzer as often.
constexpr auto kUpdatePeriod = std::chrono::microseconds(16'667);
// A rest longer than this leaves the analyzer as it was 35 s into it (its
// history spans 30 s, its timeouts less): the frames before are skipped, so
// a recording with a stamp years ahead replays at once.
constexpr auto kRestKept = 35s;
constexpr auto kProgressDelay = 1s;
constexpr auto kProgressPeriod = 100ms;

// The replay's clock, which the analyzer reads through a plain function:
// the recording's time, not the machine's. Main thread only.
Clock::time_point g_replayNow;
Clock::time_point replayNow() { return g_replayNow; }

Clock::time_point stampAt(const Recording& rec, std::size_t i) {
  return Clock::time_point(std::chrono::nanoseconds(rec.stampsNs[i]));
}

// The readers bound the counts by the stamps, so this loop is short.
void noteDrops(PollingAnalyzer& analyzer, const DropMark& mark) {
  for (int64_t k = 0; k < mark.count; ++k) analyzer.noteKernelDrop();
}

// What the live meter would have shown at the last report: each report
// added at its own stamp, update() every frame period of recording time.
PollingStats replay(const Recording& rec) {
  g_replayNow = stampAt(rec, 0);
  PollingAnalyzer analyzer(&replayNow);
  Clock::time_point tick = g_replayNow + kUpdatePeriod;
  std::size_t drop = 0;
  for (std::size_t i = 0; i < rec.stampsNs.size(); ++i) {
    const Clock::time_point t = stampAt(rec, i);
    if (t - tick > kRestKept) tick += (t - tick - kRestKept) / kUpdatePeriod * kUpdatePeriod;
    for (; tick <= t; tick += kUpdatePeriod) {
      g_replayNow = tick;
      analyzer.update();
    }
    g_replayNow = t;
    for (; drop < rec.drops.size() && rec.drops[drop].before <= i; ++drop)
      noteDrops(analyzer, rec.drops[drop]);
    analyzer.addTimestamp(t);
  }
  for (; drop < rec.drops.size(); ++drop) noteDrops(analyzer, rec.drops[drop]);
  analyzer.update();
  // As measure does: the figures cover the last reports too.
  analyzer.refreshDiagnostics();
  return analyzer.getStats();
}

// "正在读取 FILE… 42%" on a terminal, once reading has taken a second.
class ProgressLine {
 public:
  ProgressLine(const Console& c, const std::string& file) : console_(c), file_(file) {}
  void show(double share) {
    if (!console_.liveLine) return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < kProgressDelay || now < next_) return;
    std::fputs("\r", console_.err);
    std::fprintf(console_.err, i18n::tr("正在读取 %s… %.0f%%"), file_.c_str(), share * 100.0);
    std::fputs("\033[K", console_.err);
    std::fflush(console_.err);
    shown_ = true;
    next_ = now + kProgressPeriod;
  }
  void clear() {
    if (shown_) std::fputs("\r\033[K", console_.err);
    shown_ = false;
  }

 private:
  const Console& console_;
  const std::string& file_;
  const Clock::time_point start_ = Clock::now();
  Clock::time_point next_ = start_;
  bool shown_ = false;
};

// The wall-clock time of a stamp that is one (seconds since 1970).
std::chrono::system_clock::time_point wallTime(int64_t ns) {
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::nanoseconds(ns)));
}

// The mouse and the machine as the file states them, nothing of this
// machine's: from the result JSON the reports belong to when there is one.
void describe(results::TestRecord& r, const Recording& rec,
              const std::optional<ResultFacts>& facts) {
  if (facts) {
    r.device = facts->device;
    if (r.device.name.empty()) r.device.name = i18n::tr("（未知设备）");
    r.kernelRelease = facts->kernelRelease;
    r.start = facts->start;
    r.label = facts->label;
    return;
  }
  r.device.name = rec.deviceName.empty() ? i18n::tr("（未知设备）") : rec.deviceName;
  r.device.product = rec.deviceName;
  r.device.transport = rec.transport;
  r.device.vendorId = rec.vendorId.value_or(-1);
  r.device.productId = rec.productId.value_or(-1);
  if (!rec.vendorId || !rec.productId) r.device.vendorId = r.device.productId = -1;
  r.kernelRelease = rec.kernelRelease;
  if (rec.wallClockStamps) r.start = wallTime(rec.stampsNs.front());
}

// The figures `buttons` gives, from the recording's first report on.
std::optional<ButtonTest> buttonTestOf(const Recording& rec) {
  if (rec.buttonEdges.empty()) return std::nullopt;
  ButtonTest t;
  t.deviceName = rec.deviceName;
  t.startNs = rec.stampsNs.front();
  t.seconds = static_cast<double>(rec.stampsNs.back() - t.startNs) / 1e9;
  t.edges = rec.buttonEdges;
  t.summary = buttons::summarizeButtons(t.edges);
  return t;
}

// Keeps the reports the result files keep (the recorder's limit), as the
// live meter does; the analyzer has seen them all.
results::TestRecord makeRecord(Recording& rec, const PollingStats& stats, const AnalyzeOptions& o,
                               const std::optional<ResultFacts>& facts) {
  results::TestRecord r;
  describe(r, rec, facts);
  r.durationSeconds = static_cast<double>(rec.stampsNs.back() - rec.stampsNs.front()) / 1e9;
  r.stats = stats;
  const bool truncated = rec.stampsNs.size() > r.stampLimit;
  if (truncated) {
    rec.stampsNs.resize(r.stampLimit);
    if (rec.motionKnown) rec.motion.resize(r.stampLimit);
    std::erase_if(rec.drops, [&](const DropMark& d) { return d.before > r.stampLimit; });
  }
  r.stamps = StampSeries::fromVectors(rec.stampsNs, rec.motion, rec.drops, truncated);
  std::vector<int64_t>().swap(rec.stampsNs);
  std::vector<ReportMotion>().swap(rec.motion);
  results::completeRecord(r, o.targetHz);
  return r;
}

// A result folder or result JSON stands for its intervals file; an
// intervals CSV is read with the result JSON it belongs to, when there is
// one. Returns false after a line on the console's err.
bool findInputs(const std::string& input, std::string& reports, std::string& result,
                const Console& c, int& status) {
  namespace fs = std::filesystem;
  const fs::path path(input);
  std::error_code ec;
  fs::path json;
  if (fs::is_directory(path, ec)) json = path / "result.json";
  if (json.empty() && path.extension() == ".json") json = path;
  if (json.empty()) {
    reports = input;
    if (const std::optional<fs::path> beside = resultBeside(path);
        beside && readResultJson(*beside)) {
      result = beside->string();
    }
    return true;
  }
  if (std::string trouble; !readResultJson(json, &trouble)) {
    std::fprintf(c.err, i18n::tr("quillmark: %s：%s\n"), results::pathText(json.string()).c_str(),
                 trouble.c_str());
    status = kExitBadRecording;
    return false;
  }
  const std::optional<std::string> csv = intervalsBeside(json);
  if (!csv) {
    std::fprintf(c.err,
                 i18n::tr("quillmark: %s：旁边没有间隔文件（%s 或 intervals.csv），无法重新分析\n"),
                 results::pathText(json.string()).c_str(),
                 results::pathText(json.filename().replace_extension(".csv").string()).c_str());
    status = kExitBadRecording;
    return false;
  }
  reports = *csv;
  result = json.string();
  return true;
}

// The reports read and the result JSON beside them, when they are of one
// test: as many reports as the result says it kept (an older run's file
// left in the folder is not). A result JSON read for a recording is left
// out, with a note; a result JSON given for its intervals cannot be
// analyzed without them. False after a line on the console's err.
bool sameTest(AnalyzedFile& f, std::optional<ResultFacts>& facts, const std::string& reports,
              const std::string& input, const Console& c, int& status) {
  const std::optional<nlohmann::json> result = readResultJson(f.resultFile);
  const nlohmann::json::json_pointer at("/intervals_file/recorded");
  if (!result || !result->contains(at) || !result->at(at).is_number()) return true;
  const std::size_t count = f.source.stampsNs.size();
  if (result->at(at).get<double>() == static_cast<double>(count)) return true;
  const std::string shownResult = results::pathText(f.resultFile);
  const std::string shownReports = results::pathText(reports);
  if (reports == input) {
    std::fprintf(c.err,
                 i18n::tr("quillmark: 没有使用 %s：它记录了 %.0f 个报告，与 %s 的 %zu 个不符，"
                          "不是这个文件的结果。\n"),
                 shownResult.c_str(), result->at(at).get<double>(), shownReports.c_str(), count);
    f.resultFile.clear();
    facts.reset();
    return true;
  }
  std::string note;
  results::appendFormat(
      note,
      i18n::tr(
          "%s：没有使用 %s：它有 %zu 个报告，与结果记录的报告数不符，不是这次测试的间隔文件。"),
      shownResult.c_str(), shownReports.c_str(), count);
  std::fprintf(c.err, "quillmark: %s\n", note.c_str());
  status = kExitBadRecording;
  return false;
}

const char* formatName(const std::string& format) {
  if (format == "libinput-record") return "libinput record";
  if (format == "evemu-record") return "evemu-record";
  if (format == "quillmark-csv") return i18n::tr("Quillmark 间隔 CSV");
  return i18n::tr("Quillmark 原始采集");
}

int writeFiles(const results::TestRecord& r, const AnalyzeOptions& o, const Console& c) {
  return writeResultFiles(r, o.intervalsPath, o.plotPath, c);
}

}  // namespace

std::optional<AnalyzedFile> analyzeFile(const AnalyzeOptions& o, const Console& c, int& status) {
  AnalyzedFile f;
  std::string reports;
  if (!findInputs(o.file, reports, f.resultFile, c, status)) return std::nullopt;
  std::optional<ResultFacts> facts;
  if (!f.resultFile.empty()) facts = resultFacts(*readResultJson(f.resultFile));
  ProgressLine progress(c, reports);
  try {
    f.source =
        recordings::readRecording(reports, {o.device, [&](double share) { progress.show(share); }});
  } catch (const recordings::RecordingError& e) {
    progress.clear();
    std::fprintf(c.err, "quillmark: %s\n", e.what());
    status = kExitBadRecording;
    return std::nullopt;
  }
  progress.clear();
  if (f.source.stampsNs.empty()) {
    std::fprintf(c.err, i18n::tr("quillmark: %s：录制里没有报告\n"),
                 results::pathText(reports).c_str());
    status = kExitNoReports;
    return std::nullopt;
  }
  if (!f.resultFile.empty() && !sameTest(f, facts, reports, o.file, c, status)) return std::nullopt;
  const PollingStats stats = replay(f.source);
  f.buttons = buttonTestOf(f.source);
  f.record = makeRecord(f.source, stats, o, facts);
  return f;
}

std::string analyzedJson(const AnalyzedFile& analyzed, const std::string& file) {
  const results::TestRecord& r = analyzed.record;
  const Recording& rec = analyzed.source;
  using nlohmann::ordered_json;
  ordered_json source;
  source["file"] = file;
  source["format"] = rec.format;
  source["device_name"] =
      rec.deviceName.empty() ? ordered_json(nullptr) : ordered_json(rec.deviceName);
  source["device_index"] = rec.deviceIndex;
  source["motion"] = rec.motionKnown;
  char version[8];
  std::snprintf(version, sizeof version, "%04x", static_cast<unsigned>(rec.version.value_or(0)));
  source["device_version"] = rec.version ? ordered_json(version) : ordered_json(nullptr);
  source["result"] =
      analyzed.resultFile.empty() ? ordered_json(nullptr) : ordered_json(analyzed.resultFile);
  const ordered_json doc = ordered_json::parse(results::resultJson(r));
  ordered_json out;
  for (const auto& item : doc.items()) {
    out[item.key()] = item.value();
    if (item.key() == "device") out["source"] = source;
  }
  if (analyzed.buttons) out["buttons"] = ordered_json::parse(buttonJson(*analyzed.buttons));
  return out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

int runAnalyze(const AnalyzeOptions& o, const Console& c) {
  // The outputs were checked against each other and the input with the
  // options; whether they can be written is known before the reading.
  if (!resultFilesWritable(o.intervalsPath, o.plotPath, c)) return kExitFileError;
  const bool fileOnStdout = o.intervalsPath == "-" || o.plotPath == "-";
  int status = kExitOk;
  const std::optional<AnalyzedFile> f = analyzeFile(o, c, status);
  if (!f) return status;
  std::string text = o.json ? analyzedJson(*f, o.file) : o.brief ? briefLine(f->record) : "";
  if (!o.json && !o.brief) {
    text += summaryLabel(i18n::tr("来源"));
    results::appendFormat(text, i18n::tr("%s（%s）\n"), results::pathText(o.file).c_str(),
                          formatName(f->source.format));
    if (!f->resultFile.empty()) {
      text += summaryLabel(i18n::tr("设备与环境"));
      results::appendFormat(text, i18n::tr("取自 %s\n"), f->resultFile.c_str());
    }
    text += summaryText(f->record, o.details);
    if (f->buttons) text += summaryLabel(i18n::tr("按键")) + "\n" + buttonSummaryText(*f->buttons);
  }
  // A file on standard output leaves the summary to the console lines.
  const bool written = fileOnStdout ? std::fputs(text.c_str(), c.err) >= 0 : writeOut(c, text);
  const int files = writeFiles(f->record, o, c);
  return written ? files : kExitFileError;
}

}  // namespace cli
