#include "hid/service/HIDService.h"

namespace hidservice {

std::optional<std::string> Device::stringProperty(std::string_view key) const {
  if (key == kProductKey) return properties_.product;
  if (key == kManufacturerKey) return properties_.manufacturer;
  if (key == kTransportKey) return properties_.transport;
  if (key == kNodeKey) return properties_.node;
  if (key == kPortPathKey) return properties_.portPath;
  if (key == kHostDriverKey) return properties_.hostDriver;
  if (key == kConfiguredReasonKey) return properties_.configuredReason;
  return std::nullopt;
}

std::optional<int32_t> Device::numberProperty(std::string_view key) const {
  if (key == kVendorIdKey) return properties_.vendorId;
  if (key == kProductIdKey) return properties_.productId;
  if (key == kReportIntervalKey) return properties_.reportIntervalUs;
  if (key == kBuiltInKey) return properties_.builtIn;
  if (key == kBusSpeedKey) return properties_.busSpeedKbps;
  if (key == kRequestedIntervalKey) return properties_.requestedIntervalUs;
  if (key == kReportIntervalNsKey) {
    if (properties_.reportIntervalNs) return properties_.reportIntervalNs;
    if (properties_.reportIntervalUs) return *properties_.reportIntervalUs * 1000;
  }
  if (key == kUsbhidMousepollKey) return properties_.usbhidMousepollMs;
  return std::nullopt;
}

}  // namespace hidservice
