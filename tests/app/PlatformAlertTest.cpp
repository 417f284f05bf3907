// The banner for every permission status and monitor error.
#include <gtest/gtest.h>

#include "app/PlatformActions.h"

namespace {

const char* kPermissionTitle = "缺少「输入监控」权限 — 无法读取鼠标报告，回报率将恒为 0";

HIDError errorWith(HIDStatus status) {
  if (status == HIDStatus::Ok) return {};
  return makeHIDError(status, kIOReturnNotPermitted, "IOHIDDeviceOpen");
}

void expectPermissionButtons(const PlatformAlert& alert) {
  ASSERT_EQ(alert.actions.size(), 2u);
  EXPECT_EQ(alert.actions[0].kind, PlatformActionKind::OpenUrl);
  EXPECT_EQ(alert.actions[0].label, "打开「输入监控」设置");
  EXPECT_EQ(alert.actions[0].url, permissionHelpUrl());
  EXPECT_EQ(alert.actions[1].kind, PlatformActionKind::Relaunch);
  EXPECT_EQ(alert.actions[1].label, "重启应用");
  EXPECT_EQ(alert.actions[1].url, "");
}

TEST(PlatformAlertRules, EveryStatusAndError) {
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
        EXPECT_EQ(alert.title, kPermissionTitle);
        EXPECT_NE(alert.detail.find("udev"), std::string::npos);
        expectPermissionButtons(alert);
      } else if (errorStatus == HIDStatus::Ok) {
        EXPECT_EQ(alert.title, "");
        EXPECT_EQ(alert.detail, "");
        EXPECT_TRUE(alert.actions.empty());
      } else {
        EXPECT_EQ(alert.title, error.message);
        EXPECT_NE(alert.detail.find("授予权限后重启本程序"), std::string::npos);
        if (errorStatus == HIDStatus::PermissionDenied) {
          expectPermissionButtons(alert);
        } else {
          EXPECT_TRUE(alert.actions.empty());
        }
      }
    }
  }
}

TEST(PlatformAlertRules, HelpPageIsAnExistingFileUrl) {
  const std::string url = permissionHelpUrl();
  ASSERT_EQ(url.rfind("file:///", 0), 0u) << url;
  EXPECT_TRUE(isUsableUrl(url)) << url;
  // Without percent-escapes in the checkout path the URL names the file directly.
  const std::string path = url.substr(7);
  if (path.find('%') == std::string::npos) {
    FILE* f = std::fopen(path.c_str(), "rb");
    EXPECT_NE(f, nullptr) << path;
    if (f) std::fclose(f);
  }
}

}  // namespace
