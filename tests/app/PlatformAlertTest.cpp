// The banner for every permission status and monitor error.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "app/PlatformActions.h"
#include "i18n/Translate.h"

namespace {

// What the banner says, in each language the window speaks.
struct BannerTexts {
  i18n::Language language;
  const char* title;
  const char* detail;
  const char* errorDetail;
  const char* openHelp;
  const char* relaunch;
  const char* helpPage;
  const char* startupStart;
  const char* inputGroup;
  const char* busyDetail;
};
const BannerTexts kBanners[] = {
    {i18n::Language::Chinese, "缺少读取鼠标设备的权限 — 无法读取鼠标报告，回报率将恒为 0",
     "按已打开的帮助页安装 udev 规则或加入 input 组，然后重启本程序",
     "请安装 udev 规则（70-quillmark.rules）或加入 input 组，获得权限后重启本程序", "查看授权方法",
     "重启应用", "/permission-help.html",
     "[权限] 回报率将恒为 0。请安装 udev 规则 70-quillmark.rules", "input 组",
     "另一个程序正在独占此鼠标（例如 input-remapper、evsieve 或虚拟机的设备直通）：关闭它后重试"},
    {i18n::Language::English,
     "No permission to read mice — no reports can be read, the report rate will stay 0",
     "Install the udev rule or join the input group as the help page says, then restart the "
     "program",
     "Install the udev rule (70-quillmark.rules) or join the input group, then restart the program "
     "once you have access",
     "How to grant access", "Restart", "/permission-help.en.html",
     "[permission] The report rate will stay 0. Install the udev rule 70-quillmark.rules",
     "input group",
     "Another program holds this mouse exclusively (for example input-remapper, evsieve or a "
     "virtual machine's device passthrough): close it and try again"},
};

// Each case runs once per language, and leaves the program Chinese.
template <typename Case>
void inEachLanguage(Case check) {
  for (const BannerTexts& texts : kBanners) {
    SCOPED_TRACE(texts.helpPage);
    i18n::initTranslation(texts.language);
    check(texts);
  }
  i18n::initTranslation(i18n::Language::Chinese);
}

HIDError errorWith(HIDStatus status) {
  if (status == HIDStatus::Ok) return {};
  return {status, EACCES, "open /dev/input/event7 failed: EACCES（没有读取权限）"};
}

void expectPermissionButtons(const PlatformAlert& alert, const BannerTexts& texts) {
  ASSERT_EQ(alert.actions.size(), 2u);
  EXPECT_EQ(alert.actions[0].kind, PlatformActionKind::OpenUrl);
  EXPECT_EQ(alert.actions[0].label, texts.openHelp);
  EXPECT_EQ(alert.actions[0].url, permissionHelpUrl());
  EXPECT_EQ(alert.actions[1].kind, PlatformActionKind::Relaunch);
  EXPECT_EQ(alert.actions[1].label, texts.relaunch);
  EXPECT_EQ(alert.actions[1].url, "");
}

TEST(PlatformAlertRules, EveryStatusAndError) {
  inEachLanguage([](const BannerTexts& texts) {
    const PermissionStatus statuses[] = {PermissionStatus::NotRequired, PermissionStatus::Unknown,
                                         PermissionStatus::Granted, PermissionStatus::Denied};
    const HIDStatus errors[] = {HIDStatus::Ok, HIDStatus::PermissionDenied, HIDStatus::ManagerError,
                                HIDStatus::DeviceError};
    for (PermissionStatus status : statuses) {
      for (HIDStatus errorStatus : errors) {
        SCOPED_TRACE(testing::Message()
                     << permissionStatusName(status) << " x " << static_cast<int>(errorStatus));
        const HIDError error = errorWith(errorStatus);
        const PlatformAlert alert = makePlatformAlert(status, error);
        const bool missing =
            status == PermissionStatus::Unknown || status == PermissionStatus::Denied;
        if (missing) {
          EXPECT_EQ(alert.title, texts.title);
          EXPECT_EQ(alert.detail, texts.detail);
          expectPermissionButtons(alert, texts);
        } else if (errorStatus == HIDStatus::Ok) {
          EXPECT_EQ(alert.title, "");
          EXPECT_EQ(alert.detail, "");
          EXPECT_TRUE(alert.actions.empty());
        } else {
          EXPECT_EQ(alert.title, error.message);
          EXPECT_EQ(alert.detail, texts.errorDetail);
          if (errorStatus == HIDStatus::PermissionDenied) {
            expectPermissionButtons(alert, texts);
          } else {
            EXPECT_TRUE(alert.actions.empty());
          }
        }
      }
    }
  });
}

// Advice follows the errno: an exclusive holder is named, not the
// permission rules; a failure with nothing to advise gets no advice.
TEST(PlatformAlertRules, ErrorAdviceFollowsTheErrno) {
  inEachLanguage([](const BannerTexts& texts) {
    const struct {
      HIDError error;
      const char* detail;
      size_t buttons;
    } kRows[] = {
        {{HIDStatus::DeviceError, EBUSY, "open /dev/input/event7 failed: EBUSY"},
         texts.busyDetail,
         0},
        {{HIDStatus::PermissionDenied, EPERM, "open /dev/input/event7 failed: EPERM"},
         texts.errorDetail,
         2},
        {{HIDStatus::DeviceError, EIO, "read /dev/input/event7 failed: EIO"}, "", 0},
        {{HIDStatus::ManagerError, EMFILE, "udev_monitor failed: EMFILE"}, "", 0},
    };
    for (const auto& row : kRows) {
      SCOPED_TRACE(row.error.message);
      const PlatformAlert alert = makePlatformAlert(PermissionStatus::Granted, row.error);
      EXPECT_EQ(alert.title, row.error.message);
      EXPECT_EQ(alert.detail, row.detail);
      EXPECT_EQ(alert.actions.size(), row.buttons);
    }
  });
}

// The banner opens the help page in the window's language.
TEST(PlatformAlertRules, HelpPageIsAnExistingFileUrl) {
  inEachLanguage([](const BannerTexts& texts) {
    const std::string url = permissionHelpUrl();
    ASSERT_EQ(url.rfind("file:///", 0), 0u) << url;
    EXPECT_EQ(url.substr(url.rfind('/')), texts.helpPage);
    EXPECT_TRUE(isUsableUrl(url)) << url;
    // Without percent-escapes in the checkout path the URL names the file directly.
    const std::string path = url.substr(7);
    if (path.find('%') == std::string::npos) {
      FILE* f = std::fopen(path.c_str(), "rb");
      EXPECT_NE(f, nullptr) << path;
      if (f) std::fclose(f);
    }
  });
}

// The console text at start-up: five lines, the first tagged, the others
// indented under it, in Linux words only.
TEST(PlatformAlertRules, StartupTextSpeaksOfTheUdevRuleAndTheInputGroup) {
  inEachLanguage([](const BannerTexts& texts) {
    const std::string text = permissionStartupText();
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
      lines.push_back(text.substr(start, end - start));
    }
    ASSERT_EQ(lines.size(), 5u) << text;
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(lines[0].rfind(texts.startupStart, 0), 0u) << lines[0];
    for (size_t i = 1; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].rfind("       ", 0), 0u) << lines[i];
      EXPECT_NE(lines[i][7], ' ') << lines[i];
    }
    EXPECT_NE(text.find(texts.inputGroup), std::string::npos);
    EXPECT_NE(text.find("udevadm trigger"), std::string::npos);
    for (const char* macos : {"输入监控", "系统设置", "Quillmark.app", "CFBundleIdentifier"}) {
      EXPECT_EQ(text.find(macos), std::string::npos) << macos;
    }
  });
}

TEST(PlatformAlertRules, PermissionStatusNamesForTheConsole) {
  EXPECT_STREQ(permissionStatusName(PermissionStatus::NotRequired), "NotRequired");
  EXPECT_STREQ(permissionStatusName(PermissionStatus::Unknown), "Unknown");
  EXPECT_STREQ(permissionStatusName(PermissionStatus::Granted), "Granted");
  EXPECT_STREQ(permissionStatusName(PermissionStatus::Denied), "Denied");
  EXPECT_STREQ(permissionStatusName(static_cast<PermissionStatus>(4)), "Unknown");
  EXPECT_STREQ(permissionStatusName(static_cast<PermissionStatus>(-1)), "Unknown");
}

}  // namespace
