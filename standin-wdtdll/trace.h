// One traced call, as both backends write it to standard error with
// WDT_TRACE=1: "EnableTimer(5, 0) -> 0", "ReadTimerValue() -> 0 (value 30)".
#pragma once

#include <string>
#include <string_view>

#include "wdtDLL.h"

namespace standin {

// The arguments of a call without any, for a backend's Call(): each call
// passes its arguments as a function that formats them, called only when the
// trace is on, so that a call costs no formatting while it is off.
inline constexpr auto kNoArguments = [] { return std::string(); };

// result: what the call found out, with its leading space, or empty.
inline std::string TraceLine(std::string_view operation, std::string_view arguments,
                             StatusCode status, std::string_view result) {
  std::string line(operation);
  line.append("(").append(arguments).append(") -> ").append(std::to_string(status));
  return line.append(result).append("\n");
}

}  // namespace standin
