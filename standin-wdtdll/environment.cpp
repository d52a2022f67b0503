#include "environment.h"

#include <string>

#include "printable.h"

namespace standin {

bool Switch(const Lookup& lookup, const Diagnostics& diagnostics, const char* name, std::string_view on,
            std::string_view off, std::string_view stays) {
  const char* set = lookup(name);
  const std::string_view value = set != nullptr ? set : "";
  if (value != "" && value != "0" && value != "1") {
    diagnostics("wdtDLL: " + std::string(name) + "='" + wdt::Printable(value) + "' is neither 1 (" +
                std::string(on) + ") nor 0 (" + std::string(off) + "); " + std::string(stays) + "\n");
  }
  return value == "1";
}

bool TraceSwitch(const Lookup& lookup, const Diagnostics& diagnostics) {
  const char* current = lookup("WDT_TRACE");
  const char* name = current != nullptr && *current != '\0' ? "WDT_TRACE" : "WDT_SIM_TRACE";
  return Switch(lookup, diagnostics, name, "trace", "no trace", "tracing stays off");
}

}  // namespace standin
