#pragma once

#include <cstdint>

// The user's test. Nothing leads back to Idle.
enum class TestState : int32_t {
  Idle = 0,     // no test since the program started
  Running = 1,  // reports of the selected mouse reach the analyzer
  Paused = 2,   // reports are dropped; the statistics are kept
};
