#include "hid/HIDDeviceInfo.h"

#include <cstdio>

std::string HIDDeviceInfo::displayName() const {
  std::string name;
  if (!manufacturer.empty() && !product.empty()) {
    name = manufacturer + " " + product;
  } else if (!product.empty()) {
    name = product;
  } else {
    char buf[32];
    std::snprintf(buf, sizeof buf, "VID:%04x PID:%04x", static_cast<unsigned>(vendorId) & 0xFFFFu,
                  static_cast<unsigned>(productId) & 0xFFFFu);
    name = buf;
  }
  if (!transport.empty()) name += " [" + transport + "]";
  return name;
}
