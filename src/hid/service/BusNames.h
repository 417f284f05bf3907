#pragma once

#include <linux/input.h>

#include <string>
#include <string_view>

// The names of the buses an input device hangs off. Header only: the
// recordings readers name a recorded device's bus too, without the HID layer.
namespace hidservice {

// Transport name of a kernel bus type (BUS_USB ...), "" when unknown.
inline std::string transportFromBusType(unsigned busType) {
  switch (busType) {
    case BUS_USB:
      return "USB";
    case BUS_BLUETOOTH:
      return "Bluetooth";
    case BUS_I2C:
      return "I2C";
    case BUS_SPI:
      return "SPI";
    case BUS_I8042:
      return "PS/2";
    case BUS_VIRTUAL:
      return "Virtual";
    default:
      return "";
  }
}

// Transport name of udev's ID_BUS, "" when unknown.
inline std::string transportFromIdBus(std::string_view idBus) {
  if (idBus == "usb") return "USB";
  if (idBus == "bluetooth") return "Bluetooth";
  if (idBus == "i2c") return "I2C";
  if (idBus == "spi") return "SPI";
  if (idBus == "i8042") return "PS/2";
  return "";
}

}  // namespace hidservice
