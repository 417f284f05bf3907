#pragma once

// Kernel input events built by hand, for feeding the evdev reader in tests
// and benchmarks.
#include <linux/input.h>

#include <cstdint>

inline input_event ev(uint16_t type, uint16_t code, int32_t value, int64_t us) {
  input_event e{};
  e.input_event_sec = us / 1000000;
  e.input_event_usec = us % 1000000;
  e.type = type;
  e.code = code;
  e.value = value;
  return e;
}
