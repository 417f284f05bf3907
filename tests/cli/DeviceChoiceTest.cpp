// How --device picks a mouse from the list.
#include <gtest/gtest.h>

#include "cli/DeviceListing.h"

namespace {

std::vector<HIDDeviceInfo> mice() {
  HIDDeviceInfo a;
  a.product = "USB Receiver";
  a.manufacturer = "Logitech";
  a.transport = "USB";
  a.node = "/dev/input/event7";
  HIDDeviceInfo b;
  b.product = "虚拟鼠标 8000 Hz";
  b.transport = "Virtual";
  HIDDeviceInfo c;
  c.product = "Generic Mouse";
  c.transport = "PS/2";
  c.node = "/dev/input/event3";
  return {a, b, c};
}

}  // namespace

TEST(DeviceChoiceTest, IndexNodeOrPartsOfNamesInAnyCase) {
  const auto list = mice();
  using V = std::vector<int>;
  const struct {
    const char* wanted;
    int autoChoice;
    V matches;
  } kCases[] = {
      {"2", 0, V{2}},
      {"/dev/input/event3", 0, V{2}},
      {"logitech usb", 2, V{0}},
      {"[ps/2]", 0, V{2}},
      {"us", 0, V{0, 2}},  // several: the caller lists them
      {"", 1, V{1}},
      // Digits are an index and nothing else, even where a name holds them.
      {"8000", 0, V{}},
      {"7", 0, V{}},
      {"", -1, V{}},
      {"Razer", 0, V{}},
      {"/dev/input/event9", 0, V{}},
      // A virtual mouse has no node: an empty node never matches.
      {"/", 0, V{}},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(cli::chooseDevice(c.wanted, list, c.autoChoice), c.matches) << c.wanted;
  }
  EXPECT_EQ(cli::chooseDevice("0", {}, -1), V{});
}
