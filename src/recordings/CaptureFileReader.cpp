#include "recordings/CaptureFileReader.h"

#include <array>

#include "recordings/TextFields.h"

namespace recordings {

namespace {

constexpr int64_t kNsPerUs = 1000;
constexpr std::size_t kFields = 4;  // t_us, report_id, len, hash

}  // namespace

CaptureFileReader::CaptureFileReader(InputFile& file, const ReadOptions& options)
    : file_(file), options_(options) {}

void CaptureFileReader::fail(std::string_view line, std::string_view field,
                             const std::string& reason) const {
  throw RecordingError(file_.path(), file_.lineNumber(),
                       static_cast<int64_t>(field.data() - line.data()) + 1, reason);
}

Recording CaptureFileReader::read() {
  if (options_.device.value_or(0) != 0) {
    throw RecordingError(file_.path(), 0, 0, i18n::tr("采集文件只有一个设备（--device 0）"));
  }
  for (std::string_view line; file_.nextLine(line);) {
    if (line.empty()) continue;
    if (line.front() == '#') {
      readHeader(line);
    } else {
      readSample(line);
    }
  }
  const auto count = static_cast<int64_t>(rec_.stampsNs.size());
  if (samples_ && count != *samples_) {
    throw RecordingError(
        file_.path(), file_.lineNumber(), 0,
        formatText(i18n::tr("文件不完整：头部说有 %lld 个报告，读到 %lld 个"),
                   static_cast<long long>(*samples_), static_cast<long long>(count)));
  }
  rec_.format = "quillmark-capture";
  return std::move(rec_);
}

void CaptureFileReader::readHeader(std::string_view line) {
  constexpr std::string_view kDevice = "# device=";
  constexpr std::string_view kSamples = "# samples=";
  if (line.starts_with(kDevice)) rec_.deviceName.assign(line.substr(kDevice.size()));
  if (line.starts_with(kSamples)) {
    samples_ = parseInteger(line.substr(kSamples.size()));
    if (!samples_ || *samples_ < 0)
      fail(line, line.substr(kSamples.size()), i18n::tr("samples 应为报告数"));
  }
}

void CaptureFileReader::readSample(std::string_view line) {
  std::array<std::string_view, kFields> f;
  if (splitFields(line, f) != kFields)
    fail(line, line, i18n::tr("报告行应为「t_us,report_id,len,hash」"));
  const std::optional<int64_t> us = parseInteger(f[0]);
  // Bounded as the CSV's stamps are: the replay's clock runs past the last one.
  if (!us || *us < 0 || *us > INT64_MAX / kNsPerUs / 2) {
    fail(line, f[0],
         fieldFault(
             "t_us", f[0],
             formatText(i18n::tr("t_us 应为微秒数，却是「%s」"), results::shownValue(f[0]).c_str()),
             true));
  }
  if (!rec_.stampsNs.empty() && *us * kNsPerUs < rec_.stampsNs.back()) {
    fail(line, f[0], i18n::tr("时间戳倒退（比前一行早）"));
  }
  if (!parseInteger(f[1]) || !parseInteger(f[2]))
    fail(line, f[1], i18n::tr("report_id 和 len 应为整数"));
  if (f[3].empty() || f[3].size() > 16 ||
      f[3].find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos)
    fail(line, f[3], i18n::tr("hash 应为十六进制数"));
  rec_.stampsNs.push_back(*us * kNsPerUs);
}

}  // namespace recordings
