// The library's on/off switches from the environment, read once at its
// first call. The lookup and the sink for what is wrong with a value are
// passed in, so tests give tables of their own.
#pragma once

#include <functional>
#include <string_view>

namespace standin {

// A variable's value, or nullptr where it is not set (std::getenv).
using Lookup = std::function<const char*(const char* name)>;
// Receives whole lines for standard error.
using Diagnostics = std::function<void(std::string_view line)>;

// "1" on; unset, empty or "0" off; anything else off, and said so: "on",
// "off" and "stays" name what each means ("trace", "no trace", "tracing
// stays off").
bool Switch(const Lookup& lookup, const Diagnostics& diagnostics, const char* name, std::string_view on,
            std::string_view off, std::string_view stays);

// The trace switch of both backends: WDT_TRACE, or where that is unset or
// empty WDT_SIM_TRACE, its older name, which scripts still set.
bool TraceSwitch(const Lookup& lookup, const Diagnostics& diagnostics);

}  // namespace standin
