// No kernel log that wdt-check reads on Windows: the watch says so, and
// nothing is ever found in it.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "platform.h"

namespace platform {

std::string WatchKernelLog() { return "this system has no kernel log that wdt-check reads"; }

std::optional<std::chrono::steady_clock::time_point> KernelLogged(std::string_view) { return std::nullopt; }

}  // namespace platform
