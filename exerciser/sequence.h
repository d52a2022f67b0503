#pragma once

#include <cstdint>

#include "operations.h"

namespace exerciser {

inline constexpr std::uint32_t kProbeTimeout = 5;
inline constexpr std::uint32_t kTimeout = 30;
inline constexpr std::int32_t kMinSec = 0;  // seconds
inline constexpr unsigned kProbeHoldMs = 2000;
inline constexpr int kQuitKey = 'q';

// The whole exercise on the calling thread through `wdt`: open, probe, arm,
// monitor, reload on every key until q, disarm, close. A failed step prints
// its line and the status line, then pauses. Returns the exit status, 0 on
// every road.
int RunExercise(const wdt::Operations& wdt);

}  // namespace exerciser
