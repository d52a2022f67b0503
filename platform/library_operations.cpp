// The linked watchdog library's operations: its six, and the optional ones
// that it exports, looked up by name (LibraryFunction, one per platform).
// Compiled into the programs alone, which link the library; the platform
// layer itself does not.
#include "operations.h"
#include "platform.h"

namespace platform {
namespace {

// A function pointer cast back to its own type, as wdtDLL.h defines it.
template <typename Function>
Function Optional(const char* name) {
  return reinterpret_cast<Function>(LibraryFunction(name));
}

}  // namespace

wdt::Operations LibraryOperations() {
  wdt::Operations operations = wdt::LinkedOperations();
  operations.set_pretimeout = Optional<SetPretimeoutOperation>(WDT_SET_PRETIMEOUT_NAME);
  operations.accept_pretimeout = Optional<AcceptPretimeoutOperation>(WDT_ACCEPT_PRETIMEOUT_NAME);
  operations.describe_watchdog = Optional<DescribeWatchdogOperation>(WDT_DESCRIBE_WATCHDOG_NAME);
  return operations;
}

}  // namespace platform
