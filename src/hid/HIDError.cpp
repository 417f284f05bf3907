#include "hid/HIDError.h"

#include <cstdio>

const char* ioReturnName(int32_t code) {
  switch (static_cast<uint32_t>(code)) {
    case 0x00000000u:
      return "kIOReturnSuccess";
    case 0xE00002BCu:
      return "kIOReturnError";
    case 0xE00002C5u:
      return "kIOReturnExclusiveAccess (设备已被独占)";
    case 0xE00002C7u:
      return "kIOReturnUnsupported";
    case 0xE00002CDu:
      return "kIOReturnNotOpen";
    case 0xE00002E2u:
      return "kIOReturnNotPermitted (缺少输入监控权限)";
    case 0xE00002F0u:
      return "kIOReturnNotFound";
    default:
      return "unknown";
  }
}

HIDError makeHIDError(HIDStatus status, int32_t code, const char* what) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "%s failed: 0x%08X (%s)", what, static_cast<unsigned>(code),
                ioReturnName(code));
  return HIDError{status, code, buf};
}
