#pragma once

#include "hid/HIDDeviceInfo.h"
#include "results/TestRecord.h"

namespace cli {

// The identity a result file records for a listed mouse, filled where both
// are known: the terminal meter and the window, which both list mice and
// save results. The results part itself knows nothing of the HID layer.
inline results::DeviceIdentity identityOf(const HIDDeviceInfo& d) {
  results::DeviceIdentity id;
  id.name = d.displayName();
  id.product = d.product;
  id.manufacturer = d.manufacturer;
  id.transport = d.transport;
  id.vendorId = d.vendorId;
  id.productId = d.productId;
  id.reportIntervalUs = d.reportIntervalUs;
  id.requestedIntervalUs = d.requestedIntervalUs;
  id.reportIntervalNs = d.reportIntervalNs;
  id.configuredReason = d.configuredReason;
  id.usbhidMousepollMs = d.usbhidMousepollMs;
  id.node = d.node;
  id.busSpeedMbps = d.busSpeedKbps / 1000.0;
  id.portPath = d.portPath;
  id.hostDriver = d.hostDriver;
  return id;
}

}  // namespace cli
