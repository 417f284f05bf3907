#include "recordings/IntervalsCsvReader.h"

#include <algorithm>
#include <array>
#include <limits>

#include "recordings/TextFields.h"

namespace recordings {

namespace {

constexpr int64_t kNsPerUs = 1000;
// Each kernel drop costs at least one report, and no mouse reports faster
// than 16 kHz: a gap holds at most one drop per 62.5 µs of it, and one more.
constexpr int64_t kFastestReportNs = 62'500;

int16_t saturated16(int64_t v) {
  return static_cast<int16_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX));
}

}  // namespace

IntervalsCsvReader::IntervalsCsvReader(InputFile& file, const ReadOptions& options)
    : file_(file), options_(options) {}

void IntervalsCsvReader::fail(std::string_view line, std::string_view field,
                              const std::string& reason) const {
  throw RecordingError(file_.path(), file_.lineNumber(),
                       static_cast<int64_t>(field.data() - line.data()) + 1, reason);
}

Recording IntervalsCsvReader::read() {
  if (options_.device.value_or(0) != 0) {
    throw RecordingError(file_.path(), 0, 0, i18n::tr("间隔 CSV 只有一个设备（--device 0）"));
  }
  std::string_view line;
  if (!file_.nextLine(line)) throw RecordingError(file_.path(), 1, 1, i18n::tr("文件是空的"));
  readHeader(line);
  while (file_.nextLine(line)) {
    if (!line.empty()) readReport(line);
  }
  rec_.format = "quillmark-csv";
  rec_.motionKnown = motionSeen_;
  if (!rec_.motionKnown) rec_.motion.clear();
  return std::move(rec_);
}

void IntervalsCsvReader::readHeader(std::string_view line) {
  std::array<std::string_view, kMaxCsvColumns> names;
  columns_ = splitFields(line, names);
  if (columns_ < 2 || names[0] != "t_us" || names[1] != "interval_us") {
    fail(line, line, i18n::tr("间隔 CSV 的第一行应以「t_us,interval_us」开头"));
  }
  for (std::size_t i = 2; i < std::min(columns_, kMaxCsvColumns); ++i) {
    if (names[i] == "dx") dxColumn_ = i;
    if (names[i] == "dy") dyColumn_ = i;
    if (names[i] == "kernel_drops") dropsColumn_ = i;
  }
}

void IntervalsCsvReader::readReport(std::string_view line) {
  std::array<std::string_view, kMaxCsvColumns> f;
  const std::size_t count = splitFields(line, f);
  if (count != columns_) {
    fail(line, line, formatText(i18n::tr("应有 %zu 列，这一行有 %zu 列"), columns_, count));
  }
  const std::optional<int64_t> ns = parseDecimalNs(f[0], kNsPerUs);
  if (!ns)
    fail(line, f[0],
         fieldFault("t_us", f[0],
                    formatText(i18n::tr("t_us 应为微秒数，却是「%s」"),
                               results::shownValue(f[0]).c_str())));
  if (!rec_.stampsNs.empty() && *ns < rec_.stampsNs.back()) {
    fail(line, f[0], i18n::tr("时间戳倒退（比前一行早）"));
  }
  if (!f[1].empty() && !parseDecimalNs(f[1], kNsPerUs)) {
    fail(line, f[1],
         fieldFault("interval_us", f[1],
                    formatText(i18n::tr("interval_us 应为微秒数，却是「%s」"),
                               results::shownValue(f[1]).c_str())));
  }
  readDrops(line, dropsColumn_ != 0 ? f[dropsColumn_] : std::string_view{}, *ns);
  rec_.stampsNs.push_back(*ns);
  rec_.motion.push_back(readMotion(line, f));
}

// Kernel drops just before this report: the field holds their count.
void IntervalsCsvReader::readDrops(std::string_view line, std::string_view field, int64_t ns) {
  if (field.empty()) return;
  const std::optional<int64_t> n = parseInteger(field);
  if (!n || *n < 0) {
    fail(line, field,
         fieldFault("kernel_drops", field,
                    formatText(i18n::tr("kernel_drops 应为非负整数，却是「%s」"),
                               results::shownValue(field).c_str()),
                    true));
  }
  const int64_t gapNs = rec_.stampsNs.empty() ? 0 : ns - rec_.stampsNs.back();
  const int64_t most = 1 + gapNs / kFastestReportNs;
  if (*n > most) {
    fail(
        line, field,
        formatText(i18n::tr("kernel_drops 是 %s，比与上一行的间隔能容下的报告还多（最多 %lld 次）"),
                   std::string(field).c_str(), static_cast<long long>(most)));
  }
  StampSeries::addDrops(rec_.drops, rec_.stampsNs.size(), *n);
}

// dx and dy, or an unknown motion where the file leaves both empty.
ReportMotion IntervalsCsvReader::readMotion(std::string_view line,
                                            const std::array<std::string_view, kMaxCsvColumns>& f) {
  ReportMotion m;
  if (dxColumn_ == 0 || dyColumn_ == 0 || (f[dxColumn_].empty() && f[dyColumn_].empty())) return m;
  for (const std::size_t col : {dxColumn_, dyColumn_}) {
    const std::optional<int64_t> v = parseInteger(f[col]);
    if (!v)
      fail(line, f[col],
           fieldFault(i18n::tr("位移"), f[col],
                      formatText(i18n::tr("位移应为整数，却是「%s」"),
                                 results::shownValue(f[col]).c_str()),
                      true));
    (col == dxColumn_ ? m.dx : m.dy) = saturated16(*v);
  }
  m.flags = ReportMotion::kKnown;
  motionSeen_ = true;
  return m;
}

}  // namespace recordings
