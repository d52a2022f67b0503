// The linked watchdog library's operations, its optional ones looked up by
// name in wdtDLL.dll. Compiled into the programs alone, which link the
// library; the platform layer itself does not.
#include <windows.h>

#include "operations.h"
#include "platform.h"

namespace platform {
namespace {

// A function pointer cast back to its own type, as wdtDLL.h defines it,
// through void (*)(), the one function type that a cast to any other does
// not warn about (GetProcAddress's FARPROC does).
template <typename Function>
Function LibraryFunction(const char* name) {
  const HMODULE library = GetModuleHandleA("wdtDLL.dll");
  if (library == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
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
