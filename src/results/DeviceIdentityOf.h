#pragma once

#include "hid/HIDDeviceInfo.h"
#include "results/TestRecord.h"

namespace results {

// The identity a result file records for a listed mouse. Header only: the
// programs that save results (the window, the terminal meter) also link the
// HID layer; the results part itself does not.
inline DeviceIdentity identityOf(const HIDDeviceInfo& d) {
  DeviceIdentity id;
  id.name = d.displayName();
  id.product = d.product;
  id.manufacturer = d.manufacturer;
  id.transport = d.transport;
  id.vendorId = d.vendorId;
  id.productId = d.productId;
  id.reportIntervalUs = d.reportIntervalUs;
  id.requestedIntervalUs = d.requestedIntervalUs;
  id.configuredReason = d.configuredReason;
  id.usbhidMousepollMs = d.usbhidMousepollMs;
  id.node = d.node;
  id.busSpeedMbps = d.busSpeedKbps / 1000.0;
  id.portPath = d.portPath;
  id.hostDriver = d.hostDriver;
  return id;
}

}  // namespace results
