// The stand-in for the closed driver library: the six operations, with C
// linkage, over one simulated watchdog, or over the kernel watchdog device
// that WDT_DEVICE names. WDT_SIM_FAULTS injects failures into the simulation,
// WDT_SIM_BEHAVIOUR makes it lie, WDT_SIM_TRACE=1 traces every call to
// standard error; standard output is the program's alone.
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <variant>

#include "kernel_watchdog.h"
#include "printable.h"
#include "simulator.h"
#include "status_codes.h"
#include "wdtDLL.h"

namespace {

// Standard error is unbuffered: each line goes out in one write.
void WriteDiagnostics(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
}

bool TraceFromEnvironment() {
  const char* trace = std::getenv("WDT_SIM_TRACE");
  const std::string_view value = trace != nullptr ? trace : "";
  if (value != "" && value != "0" && value != "1") {
    WriteDiagnostics("wdtDLL: WDT_SIM_TRACE='" + wdt::Printable(value) +
                     "' is neither 1 (trace) nor 0 (no trace); tracing stays off\n");
  }
  return value == "1";
}

sim::Settings SettingsFromEnvironment() {
  sim::Settings settings;
  const char* faults = std::getenv("WDT_SIM_FAULTS");
  settings.faults = sim::ParseFaultList(faults != nullptr ? faults : "");
  settings.trace = TraceFromEnvironment();
  const char* behaviour = std::getenv("WDT_SIM_BEHAVIOUR");
  settings.behaviour = sim::ParseBehaviour(behaviour != nullptr ? behaviour : "");
  return settings;
}

// The watchdog behind the six operations, chosen once.
using Backend = std::variant<sim::Simulator, kdev::KernelWatchdog>;

Backend* BackendFromEnvironment() {
  // Opening a device arms it: only one that the user named is ever opened.
  const char* device = std::getenv("WDT_DEVICE");
  if (device != nullptr && *device != '\0') {
    return new Backend(std::in_place_type<kdev::KernelWatchdog>, device,
                       kdev::DeviceSystemCalls(), TraceFromEnvironment(), WriteDiagnostics);
  }
  return new Backend(std::in_place_type<sim::Simulator>, SettingsFromEnvironment(), sim::Clock::now,
                     WriteDiagnostics);
}

Backend& Watchdog() {
  // Made at the first call and never destroyed: the program's monitor thread
  // may still be inside a call while the process exits.
  static Backend* const backend = BackendFromEnvironment();
  return *backend;
}

// No exception crosses the C boundary: one that escapes is a failure to
// communicate with the driver.
template <typename Call>
StatusCode Guarded(Call call) noexcept {
  try {
    return std::visit(call, Watchdog());
  } catch (...) {
    return wdt::kNoCommunication;
  }
}

}  // namespace

extern "C" {

StatusCode InitializeSession(void) {
  return Guarded([](auto& w) { return w.InitializeSession(); });
}

StatusCode EnableTimer(uint32_t timeout, int32_t min_sec) {
  return Guarded([=](auto& w) { return w.EnableTimer(timeout, min_sec); });
}

StatusCode DisableTimer(void) {
  return Guarded([](auto& w) { return w.DisableTimer(); });
}

StatusCode WriteTimerValue(uint32_t value) {
  return Guarded([=](auto& w) { return w.WriteTimerValue(value); });
}

StatusCode ReadTimerValue(uint32_t* value) {
  return Guarded([=](auto& w) { return w.ReadTimerValue(value); });
}

StatusCode CloseSession(void) {
  return Guarded([](auto& w) { return w.CloseSession(); });
}

}  // extern "C"
