#include "cli/ResultInput.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "i18n/Translate.h"
#include "results/FileWriter.h"
#include "results/ResultJson.h"
#include "results/TextFormat.h"

namespace cli {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string textAt(const json& j, const char* pointer) {
  const json::json_pointer p(pointer);
  return j.contains(p) && j.at(p).is_string() ? j.at(p).get<std::string>() : std::string();
}

double numberAt(const json& j, const char* pointer, double otherwise = 0.0) {
  const json::json_pointer p(pointer);
  return j.contains(p) && j.at(p).is_number() ? j.at(p).get<double>() : otherwise;
}

bool sameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

// "2026-12-07T18:15:02.125+08:00", as the result files write it.
std::optional<std::chrono::system_clock::time_point> parseIsoTime(const std::string& text) {
  std::tm t{};
  int millis = 0, offsetH = 0, offsetM = 0;
  char sign = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c%2d:%2d", &t.tm_year, &t.tm_mon,
                  &t.tm_mday, &t.tm_hour, &t.tm_min, &t.tm_sec, &millis, &sign, &offsetH,
                  &offsetM) != 10 ||
      (sign != '+' && sign != '-')) {
    return std::nullopt;
  }
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  const std::time_t utc = timegm(&t);
  if (utc == static_cast<std::time_t>(-1)) return std::nullopt;
  const long offset = (offsetH * 3600L + offsetM * 60L) * (sign == '-' ? -1 : 1);
  return std::chrono::system_clock::from_time_t(utc - offset) + std::chrono::milliseconds(millis);
}

// The whole file, or nullopt with the reason.
std::optional<std::string> readText(const fs::path& path, std::string& trouble) {
  std::FILE* f = std::fopen(path.c_str(), "rbe");
  if (f == nullptr) {
    trouble = i18n::tr("无法打开：") + results::readErrnoText(errno);
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(::fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(f);
    trouble = i18n::tr("这是一个文件夹，不是结果文件");
    return std::nullopt;
  }
  std::string text;
  char buf[1 << 16];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  const int err = std::ferror(f) ? errno : 0;
  std::fclose(f);
  if (err != 0) {
    trouble = i18n::tr("读取失败：") + results::readErrnoText(err);
    return std::nullopt;
  }
  return text;
}

// No result nests deeper than a few levels; a file nested far deeper is
// refused before it costs memory or stack.
constexpr int kMaxJsonDepth = 64;

struct TooDeep {};

// The fields compare reads, with the type each must have when present.
enum class Kind { Object, Array, String, Number };
struct Field {
  const char* pointer;
  Kind kind;
};
constexpr Field kFields[] = {
    {"/device", Kind::Object},
    {"/device/name", Kind::String},
    {"/device/configured_hz", Kind::Number},
    {"/environment", Kind::Object},
    {"/environment/usb_port_path", Kind::String},
    {"/environment/bus_speed_mbps", Kind::Number},
    {"/test", Kind::Object},
    {"/test/label", Kind::String},
    {"/intervals_file", Kind::Object},
    {"/intervals_file/recorded", Kind::Number},
    {"/whole_test", Kind::Object},
    {"/whole_test/reports", Kind::Number},
    {"/whole_test/intervals", Kind::Number},
    {"/whole_test/moving_s", Kind::Number},
    {"/whole_test/moving_rate_hz", Kind::Number},
    {"/whole_test/missed_slots", Kind::Number},
    {"/whole_test/kernel_drops", Kind::Number},
    {"/whole_test/kernel_dropped_reports", Kind::Number},
    {"/whole_test/interval_us", Kind::Object},
    {"/whole_test/interval_us/p50", Kind::Number},
    {"/whole_test/interval_us/p99", Kind::Number},
    {"/whole_test/interval_us/p99_9", Kind::Number},
    {"/whole_test/interval_us/max", Kind::Number},
    {"/whole_test/lateness_us", Kind::Object},
    {"/whole_test/lateness_us/p99", Kind::Number},
    {"/whole_test/cause", Kind::Object},
    {"/whole_test/cause/text", Kind::String},
    {"/whole_test/motion", Kind::Object},
    {"/whole_test/motion/bands", Kind::Array},
};

bool hasKind(const json& v, Kind kind) {
  switch (kind) {
    case Kind::Object:
      return v.is_object();
    case Kind::Array:
      return v.is_array();
    case Kind::String:
      return v.is_string();
    case Kind::Number:
      return v.is_number();
  }
  return false;
}

// Version 2 is the first with the whole test's figures.
constexpr int kOldestReadVersion = 2;

// Why a parsed file is not a result compare can read; empty when it is.
std::string resultTrouble(const json& r) {
  if (!r.is_object() || !r.contains("schema") || r["schema"] != "quillmark-result") {
    return i18n::tr("不是 Quillmark 的结果文件");
  }
  if (const int v = schemaVersion(r); v < kOldestReadVersion || v > results::kResultSchemaVersion) {
    std::string why;
    results::appendFormat(why, i18n::tr("结果文件的版本 %d 不认识（本程序读版本 %d 到 %d）"), v,
                          kOldestReadVersion, results::kResultSchemaVersion);
    return why;
  }
  for (const Field& f : kFields) {
    const json::json_pointer p(f.pointer);
    if (!r.contains(p) || r.at(p).is_null() || hasKind(r.at(p), f.kind)) continue;
    std::string name = f.pointer + 1;
    std::replace(name.begin(), name.end(), '/', '.');
    std::string why;
    results::appendFormat(why, i18n::tr("不是 Quillmark 的结果文件（%s 的类型不对）"),
                          name.c_str());
    return why;
  }
  return {};
}

json parseBounded(const std::string& text) {
  return json::parse(text, [](int depth, json::parse_event_t, json&) {
    if (depth > kMaxJsonDepth) throw TooDeep{};
    return true;
  });
}

// Where the JSON went wrong: "第 3 行第 14 列" (lines from 1, columns in
// bytes from 1), as the recordings' errors say it.
std::string jsonTrouble(const std::string& text, const json::parse_error& e) {
  const std::size_t at = std::min<std::size_t>(e.byte > 0 ? e.byte - 1 : 0, text.size());
  const std::size_t line =
      1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + at, '\n'));
  const std::size_t lineStart = text.rfind('\n', at == 0 ? 0 : at - 1);
  const std::size_t column = lineStart == std::string::npos || at == 0 ? at + 1 : at - lineStart;
  std::string why;
  results::appendFormat(why,
                        i18n::tr("不是 Quillmark 的结果文件（第 %zu 行第 %zu 列不是有效的 JSON）"),
                        line, column);
  return why;
}

}  // namespace

int schemaVersion(const json& result) {
  return static_cast<int>(numberAt(result, "/schema_version"));
}

std::string verdictTextOf(const json& result) {
  const double moving = numberAt(result, "/whole_test/moving_s");
  const double intervals = numberAt(result, "/whole_test/intervals");
  if (moving < results::kMinJudgedMovingSeconds || intervals < results::kMinJudgedIntervals)
    return i18n::tr("测试太短，无法判断");
  // Version 4: the test's one verdict. Before, whole_test.target judged
  // the mouse alone (version 3) or the moving rate (version 2), with the
  // reason in its own field when unknown.
  if (schemaVersion(result) >= 4) return textAt(result, "/target/verdict_text");
  const std::string reason = textAt(result, "/whole_test/target/reason");
  return reason.empty() ? textAt(result, "/whole_test/target/verdict_text") : reason;
}

std::optional<json> readResultJson(const fs::path& path, std::string* trouble) {
  std::string why;
  std::optional<json> result;
  if (const std::optional<std::string> text = readText(path, why)) {
    try {
      result = parseBounded(*text);
      why = resultTrouble(*result);
    } catch (const json::parse_error& e) {
      why = jsonTrouble(*text, e);
    } catch (const json::exception&) {
      why = i18n::tr("不是 Quillmark 的结果文件");
    } catch (const TooDeep&) {
      why.clear();
      results::appendFormat(why, i18n::tr("嵌套超过 %d 层，不是 Quillmark 的结果文件"),
                            static_cast<int>(kMaxJsonDepth));
    }
  }
  if (why.empty()) return result;
  if (trouble != nullptr) *trouble = why;
  return std::nullopt;
}

std::optional<std::string> intervalsBeside(const fs::path& jsonPath) {
  fs::path same = jsonPath;
  same.replace_extension(".csv");
  std::error_code ec;
  if (fs::is_regular_file(same, ec)) return same.string();
  const fs::path inFolder = jsonPath.parent_path() / "intervals.csv";
  if (fs::is_regular_file(inFolder, ec)) return inFolder.string();
  return std::nullopt;
}

std::optional<fs::path> resultBeside(const fs::path& csvPath) {
  fs::path same = csvPath;
  same.replace_extension(".json");
  for (const fs::path& candidate : {same, csvPath.parent_path() / "result.json"}) {
    std::error_code ec;
    if (!fs::is_regular_file(candidate, ec)) continue;
    const std::optional<std::string> csv = intervalsBeside(candidate);
    if (csv && sameFile(*csv, csvPath)) return candidate;
  }
  return std::nullopt;
}

ResultFacts resultFacts(const json& result) {
  ResultFacts f;
  results::DeviceIdentity& d = f.device;
  d.name = textAt(result, "/device/name");
  d.product = textAt(result, "/device/product");
  d.manufacturer = textAt(result, "/device/manufacturer");
  d.transport = textAt(result, "/device/transport");
  unsigned vendor = 0, product = 0;
  if (std::sscanf(textAt(result, "/device/vid_pid").c_str(), "%4x:%4x", &vendor, &product) == 2) {
    d.vendorId = static_cast<int32_t>(vendor);
    d.productId = static_cast<int32_t>(product);
  } else {
    d.vendorId = d.productId = -1;
  }
  const double intervalUs = numberAt(result, "/device/endpoint_interval_us");
  if (schemaVersion(result) <= 2 && d.transport == "USB") {
    // Version 2 held the descriptor's interval (bInterval taken as ms), the
    // rate the mouse asks for: the host's own rate is not known.
    d.requestedIntervalUs = static_cast<int32_t>(std::lround(intervalUs));
  } else {
    d.reportIntervalUs = static_cast<int32_t>(std::lround(intervalUs));
    d.reportIntervalNs = std::llround(intervalUs * 1000);
    const double requestedHz = numberAt(result, "/device/requested_hz");
    if (requestedHz > 0)
      d.requestedIntervalUs = static_cast<int32_t>(std::lround(1e6 / requestedHz));
  }
  d.configuredReason = textAt(result, "/device/configured_reason");
  d.node = textAt(result, "/device/node");
  d.busSpeedMbps = numberAt(result, "/environment/bus_speed_mbps");
  d.portPath = textAt(result, "/environment/usb_port_path");
  d.hostDriver = textAt(result, "/environment/host_controller_driver");
  d.usbhidMousepollMs = static_cast<int>(numberAt(result, "/environment/usbhid_mousepoll_ms", -1));
  f.kernelRelease = textAt(result, "/environment/kernel_release");
  f.start = parseIsoTime(textAt(result, "/test/start"));
  f.label = textAt(result, "/test/label");
  return f;
}

}  // namespace cli
