#include "recordings/LibinputRecordReader.h"

#include <linux/input.h>

#include <array>
#include <cstring>

#include "hid/service/BusNames.h"
#include "recordings/TextFields.h"

namespace recordings {

namespace {

constexpr int64_t kFormatVersion = 1;
constexpr std::size_t kRowFields = 5;  // sec, usec, type, code, value
// A recording nests five levels deep; libyaml slows down with every level
// (quadratically), so a file nested far deeper is refused early.
constexpr int kMaxDepth = 64;

}  // namespace

LibinputRecordReader::LibinputRecordReader(InputFile& file, const ReadOptions& options)
    : file_(file), options_(options) {
  if (yaml_parser_initialize(&parser_) == 0) throw std::bad_alloc();
  yaml_parser_set_input(&parser_, &LibinputRecordReader::readSome, this);
}

LibinputRecordReader::~LibinputRecordReader() {
  if (haveEvent_) yaml_event_delete(&event_);
  yaml_parser_delete(&parser_);
}

// libyaml's input handler: C code, so a read error is kept and rethrown
// once the parser has returned.
int LibinputRecordReader::readSome(void* self, unsigned char* buffer, size_t size, size_t* got) {
  auto* reader = static_cast<LibinputRecordReader*>(self);
  try {
    *got = reader->file_.read(reinterpret_cast<char*>(buffer), size);
    return 1;
  } catch (...) {
    reader->readError_ = std::current_exception();
    return 0;
  }
}

void LibinputRecordReader::next() {
  if (haveEvent_) yaml_event_delete(&event_);
  haveEvent_ = yaml_parser_parse(&parser_, &event_) != 0;
  if (haveEvent_) {
    trackDepth();
    return;
  }
  if (readError_) std::rethrow_exception(readError_);
  // libyaml's own words for the problem stay as libyaml gives them.
  const char* problem = parser_.problem;
  if (parser_.eof != 0 && static_cast<int64_t>(parser_.problem_mark.line) + 1 > file_.lastLine()) {
    // libyaml places an early end past the last line: name the last line.
    throw RecordingError(
        file_.path(), file_.lastLine(), 0,
        formatText(i18n::tr("文件在这一行意外结束（YAML 不完整）：%s"), problem ? problem : ""));
  }
  if (problem == nullptr) problem = i18n::tr("无法解析");
  fail(parser_.problem_mark,
       parser_.context != nullptr
           ? formatText(i18n::tr("YAML 错误：%s（%s）"), problem, parser_.context)
           : formatText(i18n::tr("YAML 错误：%s"), problem));
}

void LibinputRecordReader::trackDepth() {
  const yaml_event_type_t t = event_.type;
  if (t == YAML_SEQUENCE_START_EVENT || t == YAML_MAPPING_START_EVENT) {
    if (++depth_ > kMaxDepth) {
      fail(event_.start_mark,
           formatText(i18n::tr("嵌套超过 %d 层，不是 libinput record 文件"), kMaxDepth));
    }
  } else if (t == YAML_SEQUENCE_END_EVENT || t == YAML_MAPPING_END_EVENT) {
    --depth_;
  }
}

void LibinputRecordReader::fail(const yaml_mark_t& at, const std::string& reason) const {
  throw RecordingError(file_.path(), static_cast<int64_t>(at.line) + 1,
                       static_cast<int64_t>(at.column) + 1, reason);
}

void LibinputRecordReader::expect(yaml_event_type_t type, const char* reason) const {
  if (event_.type != type) fail(event_.start_mark, i18n::tr(reason));
}

bool LibinputRecordReader::nextKey(std::string& key) {
  next();
  if (event_.type == YAML_MAPPING_END_EVENT) return false;
  if (event_.type == YAML_SCALAR_EVENT) {
    key.assign(scalarText());
  } else {
    skipNode();  // a key that is not text is no key of the format
    key.clear();
  }
  next();  // the value's first event
  return true;
}

void LibinputRecordReader::skipNode() {
  if (event_.type == YAML_SEQUENCE_START_EVENT || event_.type == YAML_MAPPING_START_EVENT) {
    for (int depth = 1; depth > 0;) {
      next();
      if (event_.type == YAML_SEQUENCE_START_EVENT || event_.type == YAML_MAPPING_START_EVENT)
        ++depth;
      if (event_.type == YAML_SEQUENCE_END_EVENT || event_.type == YAML_MAPPING_END_EVENT) --depth;
    }
  }
}

std::string_view LibinputRecordReader::scalarText() const {
  return {reinterpret_cast<const char*>(event_.data.scalar.value), event_.data.scalar.length};
}

int64_t LibinputRecordReader::integer(int64_t low, int64_t high) {
  expect(YAML_SCALAR_EVENT, i18n::trNoop("这里应为整数"));
  const std::optional<int64_t> v = parseInteger(scalarText());
  if (!v) {
    const std::string shown = results::shownValue(scalarText());
    fail(event_.start_mark,
         numberTrouble(scalarText()) != NumberTrouble::NotANumber
             ? formatText(i18n::tr("数值「%s」超出范围（%lld 到 %lld）"), shown.c_str(),
                          static_cast<long long>(low), static_cast<long long>(high))
             : formatText(i18n::tr("这里应为整数，却是「%s」"), shown.c_str()));
  }
  if (*v < low || *v > high) {
    fail(event_.start_mark,
         formatText(i18n::tr("数值 %lld 超出范围（%lld 到 %lld）"), static_cast<long long>(*v),
                    static_cast<long long>(low), static_cast<long long>(high)));
  }
  return *v;
}

Recording LibinputRecordReader::read() {
  readRoot();
  if (!chosen_) {
    const yaml_mark_t& start = devicesAt_;
    if (options_.device && *options_.device >= devices_) {
      fail(start, formatText(i18n::tr("没有设备 %d：文件里有 %d 个设备（从 0 数起）"),
                             *options_.device, devices_));
    }
    fail(start, i18n::tr("没有带相对坐标轴（REL_X/REL_Y）的设备，文件里没有鼠标"));
  }
  chosen_->format = "libinput-record";
  chosen_->kernelRelease = kernel_;
  return std::move(*chosen_);
}

void LibinputRecordReader::readRoot() {
  next();
  expect(YAML_STREAM_START_EVENT, i18n::trNoop("不是 YAML 文件"));
  next();
  if (event_.type == YAML_STREAM_END_EVENT)
    fail(event_.start_mark, i18n::tr("文件里没有内容（只有注释或空行）"));
  next();
  if (event_.type != YAML_MAPPING_START_EVENT) {
    fail(event_.start_mark,
         i18n::tr("不是可识别的录制文件（libinput record、evemu-record、Quillmark 的间隔 CSV "
                  "或原始采集文件）"));
  }
  const yaml_mark_t root = event_.start_mark;
  bool sawDevices = false;
  for (std::string key; nextKey(key);) {
    if (key == "version") {
      const yaml_mark_t at = event_.start_mark;
      if (integer(0, INT32_MAX) != kFormatVersion)
        fail(at, i18n::tr("不支持的 libinput record 文件版本"));
    } else if (key == "devices") {
      sawDevices = true;
      readDevices();
    } else if (key == "system" && event_.type == YAML_MAPPING_START_EVENT) {
      readSystem();
    } else {
      skipNode();
    }
  }
  if (!sawDevices) fail(root, i18n::tr("不是 libinput record 文件：没有 devices 列表"));
}

void LibinputRecordReader::readDevices() {
  expect(YAML_SEQUENCE_START_EVENT, i18n::trNoop("devices 应为列表"));
  devicesAt_ = event_.start_mark;
  for (next(); event_.type != YAML_SEQUENCE_END_EVENT; next()) {
    expect(YAML_MAPPING_START_EVENT,
           i18n::trNoop("devices 的每一项应为映射（node、evdev、events…）"));
    readDevice(devices_++);
  }
}

void LibinputRecordReader::readDevice(int index) {
  const yaml_mark_t at = event_.start_mark;
  Device d;
  d.index = index;
  const bool mayChoose = options_.device ? *options_.device == index : !chosen_;
  if (mayChoose) d.frames.emplace();
  for (std::string key; nextKey(key);) {
    if (key == "evdev") {
      readDescription(d);
    } else if (key == "events" && d.frames) {
      readEvents(d);
    } else {
      skipNode();
    }
  }
  finishDevice(d, at);
}

void LibinputRecordReader::finishDevice(Device& d, const yaml_mark_t& at) {
  if (!d.frames) return;
  if (!d.declaresRel && !d.frames->sawRelAxes()) {
    if (!options_.device) return;  // not a mouse; look further
    fail(at, formatText(i18n::tr("设备 %d（%s）没有相对坐标轴（REL_X/REL_Y），不是鼠标"), d.index,
                        d.name.c_str()));
  }
  Recording& r = d.frames->recording();
  r.deviceName = d.name;
  r.deviceIndex = d.index;
  if (d.id) {
    r.transport = hidservice::transportFromBusType(static_cast<unsigned>((*d.id)[0]));
    r.vendorId = (*d.id)[1];
    r.productId = (*d.id)[2];
    r.version = (*d.id)[3];
  }
  chosen_ = std::move(r);
}

void LibinputRecordReader::readDescription(Device& d) {
  expect(YAML_MAPPING_START_EVENT, i18n::trNoop("evdev 应为映射（name、id、codes…）"));
  for (std::string key; nextKey(key);) {
    if (key == "name") {
      expect(YAML_SCALAR_EVENT, i18n::trNoop("name 应为文本"));
      d.name.assign(scalarText());
    } else if (key == "id") {
      readId(d);
    } else if (key == "codes") {
      readCodes(d);
    } else {
      skipNode();
    }
  }
}

// system: {os, kernel, dmi}: the machine the recording was made on.
void LibinputRecordReader::readSystem() {
  for (std::string key; nextKey(key);) {
    if (key == "kernel" && event_.type == YAML_SCALAR_EVENT) {
      kernel_.assign(scalarText());
    } else {
      skipNode();
    }
  }
}

// id: [bus type, vendor, product, version], decimal.
void LibinputRecordReader::readId(Device& d) {
  expect(YAML_SEQUENCE_START_EVENT, i18n::trNoop("id 应为 [总线, 厂商, 产品, 版本]"));
  std::array<int32_t, 4> id{};
  std::size_t n = 0;
  for (next(); event_.type != YAML_SEQUENCE_END_EVENT; next()) {
    const int32_t v = static_cast<int32_t>(integer(0, UINT16_MAX));
    if (n < id.size()) id[n] = v;
    ++n;
  }
  if (n == id.size()) d.id = id;
}

// codes: {type: [code, ...], ...}; EV_REL's list tells whether it moves.
void LibinputRecordReader::readCodes(Device& d) {
  expect(YAML_MAPPING_START_EVENT, i18n::trNoop("codes 应为映射（类型: [代码…]）"));
  for (std::string key; nextKey(key);) {
    if (parseInteger(key) != EV_REL) {
      skipNode();
      continue;
    }
    expect(YAML_SEQUENCE_START_EVENT, i18n::trNoop("codes 的每一项应为代码列表"));
    for (next(); event_.type != YAML_SEQUENCE_END_EVENT; next()) {
      const int64_t code = integer(0, UINT16_MAX);
      if (code == REL_X || code == REL_Y) d.declaresRel = true;
    }
  }
}

void LibinputRecordReader::readEvents(Device& d) {
  expect(YAML_SEQUENCE_START_EVENT, i18n::trNoop("events 应为列表"));
  for (next(); event_.type != YAML_SEQUENCE_END_EVENT; next()) {
    expect(YAML_MAPPING_START_EVENT, i18n::trNoop("events 的每一项应为映射（evdev: […]）"));
    for (std::string key; nextKey(key);) {
      if (key == "evdev") {
        readFrameRows(*d.frames);
      } else {
        skipNode();
      }
    }
  }
}

// One frame's rows; the last is its SYN_REPORT.
void LibinputRecordReader::readFrameRows(FrameBuilder& frames) {
  expect(YAML_SEQUENCE_START_EVENT, i18n::trNoop("evdev 应为事件列表"));
  yaml_mark_t last = event_.start_mark;
  for (next(); event_.type != YAML_SEQUENCE_END_EVENT; next()) {
    last = event_.start_mark;
    readRow(frames);
  }
  if (frames.midFrame()) fail(last, i18n::tr("这一帧没有以 SYN_REPORT 结束"));
}

void LibinputRecordReader::readRow(FrameBuilder& frames) {
  expect(YAML_SEQUENCE_START_EVENT, i18n::trNoop("事件应为 [sec, usec, type, code, value]"));
  const yaml_mark_t at = event_.start_mark;
  int64_t v[kRowFields];
  const int64_t low[kRowFields] = {0, 0, 0, 0, INT32_MIN};
  const int64_t high[kRowFields] = {INT64_MAX / 1'000'000'000 / 2, 999'999, UINT16_MAX, UINT16_MAX,
                                    INT32_MAX};
  std::size_t n = 0;
  for (next(); event_.type != YAML_SEQUENCE_END_EVENT; next()) {
    if (n == kRowFields)
      fail(at, i18n::tr("事件应为 5 个数 [sec, usec, type, code, value]，这里更多"));
    v[n] = integer(low[n], high[n]);
    ++n;
  }
  if (n != kRowFields)
    fail(at, formatText(i18n::tr("事件应为 5 个数 [sec, usec, type, code, value]，这里只有 %zu 个"),
                        n));
  const std::string wrong =
      frames.add(v[0] * 1'000'000'000 + v[1] * 1000, static_cast<uint16_t>(v[2]),
                 static_cast<uint16_t>(v[3]), static_cast<int32_t>(v[4]));
  if (!wrong.empty()) fail(at, wrong);
}

}  // namespace recordings
