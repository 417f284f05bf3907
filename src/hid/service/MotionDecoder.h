#pragma once

#include <cstddef>
#include <cstdint>

#include "analysis/ReportMotion.h"

namespace hidservice {

// The motion of one report, read from its bytes as EvdevFrameAssembler packs
// them (events of 8 bytes: type u16, code u16, value s32, little-endian).
// REL_X and REL_Y are summed and saturated to 16 bits; the wheels count
// detents, from the high-resolution events (120 to a detent) only when the
// frame has no low-resolution one; every EV_KEY press or release is a button
// change. A trailing partial event is ignored. Any thread; no state, a few
// comparisons per event.
ReportMotion decodeMotion(const uint8_t* frameBytes, size_t length);

}  // namespace hidservice
