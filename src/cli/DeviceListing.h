#pragma once

#include <optional>
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

// What --device names: an index of the list, an event node, or a part of the
// name (any case; digits beyond the list are taken as a part of a name);
// an empty text means the automatic choice. The first match
// wins. nullopt when nothing matches.
std::optional<int> chooseDevice(const std::string& wanted,
                                const std::vector<HIDDeviceInfo>& devices, int autoChoice);

}  // namespace cli
