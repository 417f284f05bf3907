#pragma once

#include <cstdint>

#include "hid/service/HIDService.h"

// Host time to steady-clock nanoseconds. Both divisions are integer
// divisions done before the multiplication, so the remainder is dropped.
inline int64_t hostToNs(uint64_t hostTime, hidservice::Timebase timebase) {
  const uint64_t denom = timebase.denom != 0 ? timebase.denom : 1;
  return static_cast<int64_t>((hostTime / denom) * timebase.numer);
}

// Steady-clock time minus host time, both read at the same moment.
inline int64_t hostClockOffsetNs(int64_t steadyNowNs, uint64_t hostNow,
                                 hidservice::Timebase timebase) {
  return steadyNowNs - hostToNs(hostNow, timebase);
}
