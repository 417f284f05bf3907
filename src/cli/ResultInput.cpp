#include "cli/ResultInput.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>

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

}  // namespace

std::optional<json> readResultJson(const fs::path& path) {
  std::ifstream in(path);
  json result = json::parse(in, nullptr, false);
  if (!in || result.is_discarded() || !result.is_object() ||
      result.value("schema", "") != "quillmark-result") {
    return std::nullopt;
  }
  return result;
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
  d.reportIntervalUs = static_cast<int32_t>(numberAt(result, "/device/endpoint_interval_us"));
  const double requestedHz = numberAt(result, "/device/requested_hz");
  if (requestedHz > 0) d.requestedIntervalUs = static_cast<int32_t>(std::lround(1e6 / requestedHz));
  d.configuredReason = textAt(result, "/device/configured_reason");
  d.node = textAt(result, "/device/node");
  d.busSpeedMbps = numberAt(result, "/environment/bus_speed_mbps");
  d.portPath = textAt(result, "/environment/usb_port_path");
  d.hostDriver = textAt(result, "/environment/host_controller_driver");
  d.usbhidMousepollMs = static_cast<int>(numberAt(result, "/environment/usbhid_mousepoll_ms", -1));
  f.kernelRelease = textAt(result, "/environment/kernel_release");
  f.start = parseIsoTime(textAt(result, "/test/start"));
  return f;
}

}  // namespace cli
