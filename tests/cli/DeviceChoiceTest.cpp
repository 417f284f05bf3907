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

TEST(DeviceChoiceTest, IndexNodeOrPartOfTheNameInAnyCase) {
  const auto list = mice();
  EXPECT_EQ(cli::chooseDevice("2", list, 0), 2);
  EXPECT_EQ(cli::chooseDevice("/dev/input/event3", list, 0), 2);
  EXPECT_EQ(cli::chooseDevice("logitech usb", list, 2), 0);
  EXPECT_EQ(cli::chooseDevice("[ps/2]", list, 0), 2);
  // Digits beyond the list are a part of a name.
  EXPECT_EQ(cli::chooseDevice("8000", list, 0), 1);
}

TEST(DeviceChoiceTest, NothingMatchingOrNothingToChooseIsNoDevice) {
  const auto list = mice();
  EXPECT_EQ(cli::chooseDevice("", list, 1), 1);
  EXPECT_EQ(cli::chooseDevice("", list, -1), std::nullopt);
  EXPECT_EQ(cli::chooseDevice("Razer", list, 0), std::nullopt);
  EXPECT_EQ(cli::chooseDevice("7", list, 0), std::nullopt);
  EXPECT_EQ(cli::chooseDevice("/dev/input/event9", list, 0), std::nullopt);
  // A virtual mouse has no node: an empty node never matches.
  EXPECT_EQ(cli::chooseDevice("/", list, 0), std::nullopt);
  EXPECT_EQ(cli::chooseDevice("0", {}, -1), std::nullopt);
}
