#include "cli/DeviceListing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "cli/DeviceIdentityOf.h"
#include "i18n/Translate.h"
#include "results/TestRecord.h"
#include "results/TextFormat.h"

namespace cli {

namespace {

std::string lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool allDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string interval(const HIDDeviceInfo& d) {
  return d.reportIntervalUs > 0 ? std::to_string(d.reportIntervalUs) + " µs" : i18n::tr("未知");
}

std::string hzText(float hz) { return std::to_string(static_cast<int>(std::lround(hz))) + " Hz"; }

// The rate the host polls the mouse at.
std::string configuredRate(const HIDDeviceInfo& d) {
  const float hz = results::configuredHz(identityOf(d));
  return hz > 0.0f ? hzText(hz) : i18n::tr("未知");
}

// Why the host polls at another rate than the mouse asks for, as a line of
// its own under the mouse; empty when they agree or the mouse asks nothing.
std::string configuredNote(const HIDDeviceInfo& d) {
  const results::DeviceIdentity id = identityOf(d);
  const float host = results::configuredHz(id);
  const float asked = results::requestedHz(id);
  if (host <= 0.0f || asked <= 0.0f || d.reportIntervalUs == d.requestedIntervalUs) return "";
  std::string why;
  if (d.configuredReason == "usbhid_mousepoll") {
    results::appendFormat(why, i18n::tr("内核 usbhid.mousepoll=%d"), d.usbhidMousepollMs);
  } else if (d.configuredReason == "interval_rounding") {
    why = i18n::tr("主机按 2 的幂毫秒轮询");
  } else {
    return "";
  }
  std::string out = "        ";
  results::appendFormat(out, i18n::tr("设定回报率：%s（%s；鼠标要求 %s）\n"), hzText(host).c_str(),
                        why.c_str(), hzText(asked).c_str());
  return out;
}

// A column of the list: the text and the spaces that make it `width`
// terminal columns wide (µ and CJK characters are more bytes than columns),
// then the gap to the next.
std::string cell(const std::string& text, int width) {
  return text +
         std::string(
             static_cast<std::size_t>(std::max(0, width - results::displayColumns(text))) + 1, ' ');
}

// The canonical path of an existing file, or the text as given.
std::string canonical(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string out(resolved);
  std::free(resolved);
  return out;
}

const char* statusKey(const HIDDeviceInfo& d) {
  if (d.opened) return "ok";
  return d.openError.status == HIDStatus::PermissionDenied ? "permission_denied" : "device_error";
}

}  // namespace

std::string vidPid(const HIDDeviceInfo& d) { return results::vidPidText(d.vendorId, d.productId); }

std::string deviceTable(const std::vector<HIDDeviceInfo>& devices, int autoChoice) {
  // The heading's words start where the rows' columns do (CJK characters
  // take two columns); a translation keeps them there.
  std::string out = i18n::tr(
      "  序号  节点                 VID:PID    连接       端口       端点间隔   设定回报率  可读   "
      " "
      "名称\n");
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const HIDDeviceInfo& d = devices[i];
    const std::string node = d.node.empty() ? "-" : d.node;
    // The name goes last and whole, however long the hardware made it.
    // The port tells two mice of one model apart.
    std::string line = static_cast<int>(i) == autoChoice ? "* " : "  ";
    line += cell(std::to_string(i), 5) + cell(node, 20) + cell(vidPid(d), 10) +
            cell(d.transport.empty() ? "-" : d.transport, 10) +
            cell(d.portPath.empty() ? "-" : d.portPath, 10) + cell(interval(d), 10) +
            cell(configuredRate(d), 11) + cell(d.opened ? i18n::tr("是") : i18n::tr("否"), 6) + " ";
    out += line + results::plainText(d.displayName()) + "\n";
    out += configuredNote(d);
    if (!d.opened)
      out += "        " + std::string(i18n::tr("无法读取：")) + d.openError.message + "\n";
  }
  if (autoChoice >= 0) out += i18n::tr("* 不指定 --device 时测量的鼠标\n");
  return out;
}

std::string deviceJson(const std::vector<HIDDeviceInfo>& devices, int autoChoice,
                       PermissionStatus permission) {
  nlohmann::ordered_json j;
  j["schema"] = "quillmark-devices";
  j["schema_version"] = 1;
  j["permission"] = permissionStatusName(permission);
  j["auto_choice"] = autoChoice >= 0 ? nlohmann::ordered_json(autoChoice) : nullptr;
  j["devices"] = nlohmann::ordered_json::array();
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const HIDDeviceInfo& d = devices[i];
    nlohmann::ordered_json e;
    e["index"] = i;
    e["node"] = d.node.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(d.node);
    e["name"] = d.displayName();
    e["product"] = d.product;
    e["manufacturer"] = d.manufacturer;
    e["vid_pid"] = vidPid(d);
    e["transport"] = d.transport;
    e["usb_port_path"] =
        d.portPath.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(d.portPath);
    e["endpoint_interval_us"] = d.reportIntervalUs;
    const results::DeviceIdentity id = identityOf(d);
    const float host = results::configuredHz(id);
    const float asked = results::requestedHz(id);
    e["configured_hz"] = host > 0.0f ? nlohmann::ordered_json(host) : nullptr;
    e["requested_hz"] = asked > 0.0f ? nlohmann::ordered_json(asked) : nullptr;
    e["configured_reason"] = d.configuredReason.empty()
                                 ? nlohmann::ordered_json(nullptr)
                                 : nlohmann::ordered_json(d.configuredReason);
    e["readable"] = d.opened;
    e["status"] = statusKey(d);
    e["error"] =
        d.opened ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(d.openError.message);
    j["devices"].push_back(std::move(e));
  }
  return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::vector<int> chooseDevice(const std::string& wanted, const std::vector<HIDDeviceInfo>& devices,
                              int autoChoice) {
  const int count = static_cast<int>(devices.size());
  if (wanted.empty()) {
    return autoChoice >= 0 && autoChoice < count ? std::vector<int>{autoChoice}
                                                 : std::vector<int>{};
  }
  if (allDigits(wanted)) {
    const long index = std::strtol(wanted.c_str(), nullptr, 10);
    return index < count ? std::vector<int>{static_cast<int>(index)} : std::vector<int>{};
  }
  if (wanted.front() == '/') {
    for (int i = 0; i < count; ++i) {
      if (devices[static_cast<std::size_t>(i)].node == wanted) return {i};
    }
    // A link to a node, e.g. under /dev/input/by-id/.
    const std::string path = canonical(wanted);
    for (int i = 0; i < count; ++i) {
      const std::string& node = devices[static_cast<std::size_t>(i)].node;
      if (!node.empty() && canonical(node) == path) return {i};
    }
    return {};
  }
  return devicesNamed(wanted, devices);
}

std::vector<int> devicesNamed(const std::string& part, const std::vector<HIDDeviceInfo>& devices) {
  const std::string wanted = lower(part);
  std::vector<int> matches;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (lower(devices[i].displayName()).find(wanted) != std::string::npos)
      matches.push_back(static_cast<int>(i));
  }
  return matches;
}

bool isIndexText(const std::string& text) { return allDigits(text); }

}  // namespace cli
