// The linked watchdog library's operations, its optional ones looked up by
// name in the process (dlsym). Compiled into the programs alone, which link
// the library; the platform layer itself does not.
#include <cstring>

#include <dlfcn.h>

#include "operations.h"
#include "platform.h"

namespace platform {
namespace {

// A function pointer cast back to its own type, as wdtDLL.h defines it.
template <typename Function>
Function LibraryFunction(const char* name) {
  void* found = dlsym(RTLD_DEFAULT, name);
  Function function = nullptr;
  static_assert(sizeof function == sizeof found);
  std::memcpy(&function, &found, sizeof function);
  return function;
}

}  // namespace

wdt::Operations LibraryOperations() {
  wdt::Operations operations = wdt::LinkedOperations();
  operations.set_pretimeout = LibraryFunction<SetPretimeoutOperation>(WDT_SET_PRETIMEOUT_NAME);
  operations.accept_pretimeout = LibraryFunction<AcceptPretimeoutOperation>(WDT_ACCEPT_PRETIMEOUT_NAME);
  operations.describe_watchdog = LibraryFunction<DescribeWatchdogOperation>(WDT_DESCRIBE_WATCHDOG_NAME);
  return operations;
}

}  // namespace platform
