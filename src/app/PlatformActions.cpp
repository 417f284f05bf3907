#include "app/PlatformActions.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/ProcessLaunch.h"
#include "app/Shell.h"
#include "i18n/Translate.h"
#include "results/TextFormat.h"

namespace {

constexpr const char* kPermissionTitle =
    i18n::trNoop("缺少读取鼠标设备的权限 — 无法读取鼠标报告，回报率将恒为 0");
constexpr const char* kPermissionDetail =
    i18n::trNoop("按已打开的帮助页安装 udev 规则或加入 input 组，然后重启本程序");
constexpr const char* kOpenHelpLabel = i18n::trNoop("查看授权方法");
constexpr const char* kRelaunchLabel = i18n::trNoop("重启应用");

// Which help page: the one in the program's language.
const char* helpPage() {
  return i18n::currentLanguage() == i18n::Language::English ? QUILLMARK_HELP_PAGE_EN
                                                            : QUILLMARK_HELP_PAGE;
}

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

bool isSchemeChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

bool fileExists(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

// Directory of the running program, "" when it cannot be read.
std::string programDir() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string findPermissionHelpUrl() {
  const std::string page = helpPage();
  const std::string installed = programDir() + "/../" QUILLMARK_DOC_RELDIR "/" + page;
  if (fileExists(installed)) return fileUrl(installed);
  const std::string source = QUILLMARK_SOURCE_DIR "/docs/" + page;
  if (fileExists(source)) return fileUrl(source);
  return fileUrl(QUILLMARK_DOC_FULLDIR "/" + page);
}

// What the user can do about a monitor error: permission advice only when
// the system refused access; another program's exclusive hold is not a
// matter of rules or groups. Other failures have nothing to advise.
std::string errorAdvice(const HIDError& error) {
  if (error.code == EBUSY)
    return i18n::tr(
        "另一个程序正在独占此鼠标（例如 input-remapper、evsieve "
        "或虚拟机的设备直通）：关闭它后重试");
  if (error.code != EACCES && error.code != EPERM && error.status != HIDStatus::PermissionDenied)
    return {};
  char detail[256];
  std::snprintf(detail, sizeof detail,
                i18n::tr("请安装 udev 规则（%s）或加入 input 组，获得权限后重启本程序"),
                QUILLMARK_UDEV_RULE);
  return detail;
}

}  // namespace

std::string permissionStartupText() {
  std::string text;
  results::appendFormat(
      text,
      i18n::tr(
          "[权限] 回报率将恒为 0。请安装 udev 规则 %s"
          "（安装 quillmark 软件包会装好，或复制到 /etc/udev/rules.d/）\n"
          "       或把当前用户加入 input 组，然后重启本程序。\n"
          "       如果规则已经装好却仍然不行，那是设备节点还带着旧的权限\n"
          "       （装好规则后没有让 udev 重新应用，或加入 input 组后没有重新登录都会这样），\n"
          "       请运行 sudo udevadm control --reload-rules && "
          "sudo udevadm trigger --subsystem-match=input --action=change，或注销后重新登录。\n"),
      QUILLMARK_UDEV_RULE);
  return text;
}

PlatformAlert makePlatformAlert(PermissionStatus status, const HIDError& error) {
  PlatformAlert alert;
  if (status == PermissionStatus::Unknown || status == PermissionStatus::Denied) {
    alert.title = i18n::tr(kPermissionTitle);
    alert.detail = i18n::tr(kPermissionDetail);
    addPermissionActions(alert);
  } else if (error.status != HIDStatus::Ok) {
    alert.title = error.message;
    alert.detail = errorAdvice(error);
    if (error.status == HIDStatus::PermissionDenied) addPermissionActions(alert);
  }
  return alert;
}

void addPermissionActions(PlatformAlert& alert) {
  alert.actions.push_back(
      {PlatformActionKind::OpenUrl, i18n::tr(kOpenHelpLabel), permissionHelpUrl()});
  alert.actions.push_back({PlatformActionKind::Relaunch, i18n::tr(kRelaunchLabel), {}});
}

void performPlatformAction(const PlatformAction& action) {
  switch (action.kind) {
    case PlatformActionKind::OpenUrl:
      openLink(action.url);
      break;
    case PlatformActionKind::Relaunch: {
      std::string reason;
      if (relaunchSelf(reason)) {
        g_quitRequested = true;
      } else {
        std::fprintf(stderr, i18n::tr("[权限] 重启失败：%s\n"), reason.c_str());
      }
      break;
    }
  }
}

bool isUsableUrl(const std::string& text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  if (!std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  for (size_t i = 1; i < colon; ++i) {
    if (!isSchemeChar(text[i])) return false;
  }
  for (size_t i = colon + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c <= ' ' || c >= 0x7f || std::strchr("\"<>\\^`{|}", c) != nullptr) return false;
    if (c == '%' && (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))) {
      return false;
    }
  }
  return true;
}

void openLink(const std::string& text) {
  if (!isUsableUrl(text)) {
    std::fprintf(stderr, i18n::tr("[链接] URL 无效，打不开：%s\n"), text.c_str());
    return;
  }
  std::string reason;
  if (!spawnProgram("xdg-open", {text}, reason)) {
    std::fprintf(stderr, i18n::tr("[链接] 无法启动 xdg-open：%s\n"), reason.c_str());
  }
}

std::string fileUrl(const std::string& path) {
  static const char* kHexDigits = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    if (std::isalnum(c) || std::strchr("/-._~", c) != nullptr) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHexDigits[c >> 4];
      url += kHexDigits[c & 15];
    }
  }
  return url;
}

std::string permissionHelpUrl() {
  // Looked up once per language: the alert asks for it every frame while it
  // is shown.
  static std::string s_urls[2];
  std::string& url = s_urls[i18n::currentLanguage() == i18n::Language::English ? 1 : 0];
  if (url.empty()) url = findPermissionHelpUrl();
  return url;
}
