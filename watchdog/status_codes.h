// The StatusCode values that have a meaning of their own, named once for the
// library's backends, its C boundary, the programs and the tests. Every other
// nonzero value is a failure that is not described further.
#pragma once

#include "wdtDLL.h"

namespace wdt {

inline constexpr StatusCode kOk = 0;
inline constexpr StatusCode kNoCommunication = 1;  // no communication with the driver
inline constexpr StatusCode kNoHandle = 2;         // no handle to the driver was obtained
inline constexpr StatusCode kBadParameter = 3;     // an argument was refused

}  // namespace wdt
