#include "cli/AnalyzeRun.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>

#include "analysis/PollingAnalyzer.h"
#include "cli/Summary.h"
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
    std::fprintf(console_.err, "\r正在读取 %s… %.0f%%\033[K", file_.c_str(), share * 100.0);
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

// The recorder never knew when the recording was made: its file's
// modification time is taken as the end of the last report.
std::chrono::system_clock::time_point fileEndTime(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::chrono::system_clock::now();
  return std::chrono::system_clock::from_time_t(st.st_mtim.tv_sec) +
         std::chrono::duration_cast<std::chrono::system_clock::duration>(
             std::chrono::nanoseconds(st.st_mtim.tv_nsec));
}

// Keeps the reports the result files keep (the recorder's limit), as the
// live meter does; the analyzer has seen them all.
results::TestRecord makeRecord(Recording& rec, const PollingStats& stats, const AnalyzeOptions& o) {
  results::TestRecord r;
  r.device.name = rec.deviceName.empty() ? "（未知设备）" : rec.deviceName;
  r.device.product = rec.deviceName;
  r.durationSeconds = static_cast<double>(rec.stampsNs.back() - rec.stampsNs.front()) / 1e9;
  r.start = fileEndTime(o.file) - std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                      std::chrono::duration<double>(r.durationSeconds));
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

const char* formatName(const std::string& format) {
  if (format == "libinput-record") return "libinput record";
  if (format == "evemu-record") return "evemu-record";
  if (format == "quillmark-csv") return "Quillmark 间隔 CSV";
  return "Quillmark 原始采集";
}

int writeFiles(const results::TestRecord& r, const AnalyzeOptions& o, const Console& c) {
  return writeResultFiles(r, o.intervalsPath, o.plotPath, c);
}

}  // namespace

std::optional<AnalyzedFile> analyzeFile(const AnalyzeOptions& o, const Console& c, int& status) {
  ProgressLine progress(c, o.file);
  AnalyzedFile f;
  try {
    f.source =
        recordings::readRecording(o.file, {o.device, [&](double share) { progress.show(share); }});
  } catch (const recordings::RecordingError& e) {
    progress.clear();
    std::fprintf(c.err, "quillmark: %s\n", e.what());
    status = kExitBadRecording;
    return std::nullopt;
  }
  progress.clear();
  if (f.source.stampsNs.empty()) {
    std::fprintf(c.err, "quillmark: %s：录制里没有报告\n", results::pathText(o.file).c_str());
    status = kExitNoReports;
    return std::nullopt;
  }
  const PollingStats stats = replay(f.source);
  f.record = makeRecord(f.source, stats, o);
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
  const ordered_json doc = ordered_json::parse(results::resultJson(r));
  ordered_json out;
  for (const auto& item : doc.items()) {
    out[item.key()] = item.value();
    if (item.key() == "device") out["source"] = source;
  }
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
  std::string text = o.json ? analyzedJson(*f, o.file) : std::string();
  if (!o.json) {
    results::appendFormat(text, "来源        %s（%s）\n", results::pathText(o.file).c_str(),
                          formatName(f->source.format));
    text += summaryText(f->record);
  }
  // A file on standard output leaves the summary to the console lines.
  const bool written = fileOnStdout ? std::fputs(text.c_str(), c.err) >= 0 : writeOut(c, text);
  const int files = writeFiles(f->record, o, c);
  return written ? files : kExitFileError;
}

}  // namespace cli
