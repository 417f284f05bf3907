#pragma once

enum class PermissionStatus : int {
  NotRequired = 0,
  Unknown = 1,
  Granted = 2,
  Denied = 3,
};

const char* permissionStatusName(PermissionStatus status);
