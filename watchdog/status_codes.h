// The StatusCode values that have a meaning of their own, and the longest
// timeout, named once for the library's backends, its C boundary, the programs
// and the tests. Every other nonzero StatusCode is a failure that is not
// described further.
#pragma once

#include <cstdint>

#include "wdtDLL.h"

namespace wdt {

inline constexpr StatusCode kOk = 0;
inline constexpr StatusCode kNoCommunication = 1;  // no communication with the driver
inline constexpr StatusCode kNoHandle = 2;         // no handle to the driver was obtained
inline constexpr StatusCode kBadParameter = 3;     // an argument was refused

// In seconds: the simulated watchdog refuses a longer timeout or reload, and
// wdt-check arms with none longer.
inline constexpr std::uint32_t kMaxTimeout = 255;

}  // namespace wdt
