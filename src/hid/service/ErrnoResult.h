#pragma once

// Linux failures in Linux words: the operation with its node, the errno
// name and its meaning in the chosen language. Any thread; no state.

#include <string>
#include <string_view>

#include "hid/service/Result.h"

namespace hidservice {

// "EACCES", "EBUSY" ...; "errno N" for a number the table does not know.
std::string errnoName(int err);
// "没有读取权限" ...; the C library's text for numbers outside the table.
std::string errnoMeaning(int err);
// The kind the monitor acts on: EACCES/EPERM are permission matters, EBUSY
// an exclusive holder, ENODEV a device that went away, others failures.
ResultKind errnoKind(int err);
// {kind, err, "<operation> failed: <NAME>（<meaning>）"}, e.g. operation
// "open /dev/input/event7".
Result errnoResult(std::string_view operation, int err);

}  // namespace hidservice
