#include "recordings/EvemuRecordReader.h"

#include <linux/input.h>

#include <array>

#include "hid/service/BusNames.h"
#include "recordings/TextFields.h"

namespace recordings {

namespace {

// The fields after "E: ", and the column the first one starts at.
constexpr std::size_t kPrefix = 3;

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

EvemuRecordReader::EvemuRecordReader(InputFile& file, const ReadOptions& options)
    : file_(file), options_(options) {}

void EvemuRecordReader::fail(std::size_t column, const std::string& reason) const {
  throw RecordingError(file_.path(), file_.lineNumber(), static_cast<int64_t>(column), reason);
}

Recording EvemuRecordReader::read() {
  if (options_.device.value_or(0) != 0) {
    throw RecordingError(file_.path(), 0, 0,
                         i18n::tr("evemu-record 文件只有一个设备（--device 0）"));
  }
  for (std::string_view line; file_.nextLine(line);) readLine(line);
  if (frames_.midFrame()) {
    throw RecordingError(file_.path(), lastEventLine_, 1,
                         i18n::tr("最后一帧没有以 SYN_REPORT 结束"));
  }
  if (!declaresRel_ && !frames_.sawRelAxes()) {
    throw RecordingError(
        file_.path(), 0, 0,
        name_.empty() ? std::string(i18n::tr("未命名设备没有相对坐标轴（REL_X/REL_Y），不是鼠标"))
                      : formatText(i18n::tr("设备「%s」没有相对坐标轴（REL_X/REL_Y），不是鼠标"),
                                   name_.c_str()));
  }
  Recording r = std::move(frames_.recording());
  r.deviceName = name_;
  r.format = "evemu-record";
  r.transport = transport_;
  r.vendorId = vendorId_;
  r.productId = productId_;
  r.version = version_;
  r.kernelRelease = kernel_;
  return r;
}

void EvemuRecordReader::readLine(std::string_view line) {
  // evemu-record notes the kernel it ran under in its header's comments.
  constexpr std::string_view kKernel = "# Kernel:";
  if (line.starts_with(kKernel)) kernel_.assign(trimmed(line.substr(kKernel.size())));
  if (line.size() < 2 || line[1] != ':') return;  // comments, blank lines
  const std::string_view rest = line.size() > kPrefix ? line.substr(kPrefix) : std::string_view();
  switch (line[0]) {
    case 'N':
      name_.assign(trimmed(rest));
      break;
    case 'I':
      readId(rest);
      break;
    case 'B':
      readBits(rest);
      break;
    case 'E':
      readEvent(rest);
      break;
    default:
      break;
  }
}

// "I: 0003 046d c077 0111": bus type, vendor, product and version in hex.
// A line that does not read so is left unread: it only describes.
void EvemuRecordReader::readId(std::string_view fields) {
  std::array<std::string_view, 4> f;
  if (splitFields(trimmed(fields), f, ' ') != f.size()) return;
  std::array<int32_t, 4> v{};
  for (std::size_t i = 0; i < f.size(); ++i) {
    const std::optional<int64_t> n = parseInteger(f[i], 16);
    if (!n || *n < 0 || *n > UINT16_MAX) return;
    v[i] = static_cast<int32_t>(*n);
  }
  transport_ = hidservice::transportFromBusType(static_cast<unsigned>(v[0]));
  vendorId_ = v[1];
  productId_ = v[2];
  version_ = v[3];
}

// "B: 02 03 00 …": the first byte of EV_REL's bits holds REL_X and REL_Y.
void EvemuRecordReader::readBits(std::string_view fields) {
  std::array<std::string_view, 2> f;
  if (splitFields(trimmed(fields), f, ' ') < 2) return;
  const std::optional<int64_t> type = parseInteger(f[0], 16);
  const std::optional<int64_t> bits = parseInteger(f[1], 16);
  if (type == EV_REL && bits && (*bits & 0x3) != 0) declaresRel_ = true;
}

void EvemuRecordReader::readEvent(std::string_view fields) {
  lastEventLine_ = file_.lineNumber();
  std::array<std::string_view, 4> f;
  const std::size_t count = splitFields(trimmed(fields.substr(0, fields.find('#'))), f, ' ');
  if (count != f.size()) fail(1, i18n::tr("事件行应为「E: 秒.微秒 类型 代码 值」"));
  const auto column = [&](std::size_t i) {
    return static_cast<std::size_t>(f[i].data() - fields.data()) + kPrefix + 1;
  };
  const std::optional<int64_t> ns = parseDecimalNs(f[0], 1'000'000'000);
  if (!ns) {
    fail(column(0), fieldFault(i18n::tr("时间"), f[0],
                               formatText(i18n::tr("时间应为「秒.微秒」，却是「%s」"),
                                          results::shownValue(f[0]).c_str())));
  }
  const std::optional<int64_t> type = parseInteger(f[1], 16);
  const std::optional<int64_t> code = parseInteger(f[2], 16);
  const std::optional<int64_t> value = parseInteger(f[3]);
  if (!type || *type < 0 || *type > UINT16_MAX) fail(column(1), i18n::tr("事件类型应为十六进制数"));
  if (!code || *code < 0 || *code > UINT16_MAX) fail(column(2), i18n::tr("事件代码应为十六进制数"));
  if (!value || *value < INT32_MIN || *value > INT32_MAX) {
    fail(column(3),
         value || numberTrouble(f[3]) != NumberTrouble::NotANumber
             ? formatText(i18n::tr("事件值超出范围：「%s」"), results::shownValue(f[3]).c_str())
             : std::string(i18n::tr("事件值应为整数")));
  }
  const std::string wrong = frames_.add(*ns, static_cast<uint16_t>(*type),
                                        static_cast<uint16_t>(*code), static_cast<int32_t>(*value));
  if (!wrong.empty()) fail(column(0), wrong);
}

}  // namespace recordings
