#include "recordings/Recording.h"

#include <cstring>

#include "recordings/CaptureFileReader.h"
#include "recordings/EvemuRecordReader.h"
#include "recordings/InputFile.h"
#include "recordings/IntervalsCsvReader.h"
#include "recordings/LibinputRecordReader.h"
#include "recordings/TextFields.h"
#include "results/TextFormat.h"

namespace recordings {

namespace {

std::string placeText(const std::string& file, int64_t line, int64_t column,
                      const std::string& reason) {
  std::string text = results::pathText(file);
  if (line > 0) text += ":" + std::to_string(line);
  if (line > 0 && column > 0) text += ":" + std::to_string(column);
  return formatText(i18n::tr("%s：%s"), text.c_str(), reason.c_str());
}

enum class Format { Libinput, Evemu, Csv, Capture };

// evemu-record starts with "# EVEMU" or, without comments, its "N:" line.
bool looksLikeEvemu(std::string_view head) {
  if (head.starts_with("# EVEMU")) return true;
  for (const char* start : {"N: ", "I: ", "E: "}) {
    if (head.starts_with(start)) return true;
  }
  return false;
}

Format formatOf(std::string_view head) {
  if (head.starts_with("# TAVO raw HID report capture")) return Format::Capture;
  if (head.starts_with("t_us,")) return Format::Csv;
  if (looksLikeEvemu(head)) return Format::Evemu;
  return Format::Libinput;
}

// A NUL byte never appears in any of the text formats.
void rejectBinary(const std::string& path, std::string_view head) {
  const std::size_t nul = head.find('\0');
  if (nul == std::string_view::npos) return;
  int64_t line = 1;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < nul; ++i) {
    if (head[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  throw RecordingError(path, line, static_cast<int64_t>(nul - lineStart) + 1,
                       i18n::tr("这是二进制文件，不是录制文件（libinput record、evemu-record、"
                                "Quillmark 的间隔 CSV 或原始采集文件）"));
}

// Between 2000 and 2100: a stamp of the realtime clock, not of the
// monotonic one (which counts from boot) nor a time from the start.
bool wallClock(const std::vector<int64_t>& stampsNs) {
  constexpr int64_t kFrom = 946'684'800LL * 1'000'000'000;     // 2000-01-01
  constexpr int64_t kUntil = 4'102'444'800LL * 1'000'000'000;  // 2100-01-01
  return !stampsNs.empty() && stampsNs.front() >= kFrom && stampsNs.back() < kUntil;
}

Recording readFormat(InputFile& file, const ReadOptions& options) {
  switch (formatOf(file.head())) {
    case Format::Capture:
      return CaptureFileReader(file, options).read();
    case Format::Csv:
      return IntervalsCsvReader(file, options).read();
    case Format::Evemu:
      return EvemuRecordReader(file, options).read();
    case Format::Libinput:
      break;
  }
  return LibinputRecordReader(file, options).read();
}

}  // namespace

RecordingError::RecordingError(std::string file, int64_t line, int64_t column,
                               const std::string& reason)
    : std::runtime_error(placeText(file, line, column, reason)),
      file_(std::move(file)),
      line_(line),
      column_(column),
      reason_(reason) {}

Recording readRecording(const std::string& path, const ReadOptions& options) {
  InputFile file(path, options.progress);
  const std::string_view head = file.head();
  if (head.empty()) throw RecordingError(path, 0, 0, i18n::tr("文件是空的"));
  rejectBinary(path, head);
  Recording r = readFormat(file, options);
  r.wallClockStamps = wallClock(r.stampsNs);
  return r;
}

}  // namespace recordings
