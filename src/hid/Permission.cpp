#include "hid/Permission.h"

const char* permissionStatusName(PermissionStatus status) {
  switch (status) {
    case PermissionStatus::NotRequired:
      return "NotRequired";
    case PermissionStatus::Unknown:
      return "Unknown";
    case PermissionStatus::Granted:
      return "Granted";
    case PermissionStatus::Denied:
      return "Denied";
  }
  return "Unknown";
}
