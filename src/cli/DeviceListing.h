#pragma once

#include <string>
#include <vector>

#include "hid/HIDDeviceInfo.h"
#include "hid/Permission.h"

// The mice as the terminal shows them, and the choice of one by what the
// user typed. Plain functions over a copy of the monitor's list; any thread.
namespace cli {

// "1234:abcd"
std::string vidPid(const HIDDeviceInfo& device);

// One line per mouse, the automatic choice marked with '*', and the reason
// under each one that cannot be read.
std::string deviceTable(const std::vector<HIDDeviceInfo>& devices, int autoChoice);
// The same as a JSON document (schema "quillmark-devices", version 1).
std::string deviceJson(const std::vector<HIDDeviceInfo>& devices, int autoChoice,
                       PermissionStatus permission);

// The mice --device names, by index: digits are an index of the list and
// nothing else, a text starting with '/' an event node (or a link to one),
// any other text a part of the name (any case), which may match several;
// an empty text means the automatic choice. Empty when nothing matches.
std::vector<int> chooseDevice(const std::string& wanted, const std::vector<HIDDeviceInfo>& devices,
                              int autoChoice);
// The mice whose names contain `part` (any case).
std::vector<int> devicesNamed(const std::string& part, const std::vector<HIDDeviceInfo>& devices);
// Digits only: --device reads the text as an index.
bool isIndexText(const std::string& text);

}  // namespace cli
