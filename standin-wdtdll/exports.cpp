// The stand-in for the closed driver library: the six operations, with C
// linkage, over one simulated watchdog, or over the kernel watchdog device
// that WDT_DEVICE names. WDT_SIM_FAULTS injects failures into the simulation,
// WDT_SIM_BEHAVIOUR makes it lie, WDT_SIM_TRACE=1 traces every call to
// standard error; standard output is the program's alone.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "backend.h"
#include "kernel_watchdog.h"
#include "printable.h"
#include "simulator.h"
#include "status_codes.h"
#include "wdtDLL.h"

namespace {

// Each line goes out whole and at once: standard error is unbuffered here,
// and a Windows runtime that buffers it into a pipe is flushed.
void WriteDiagnostics(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

// A switch from the environment: 1 on, empty or 0 off, anything else off
// and said so.
bool SwitchFromEnvironment(const char* name, std::string_view on, std::string_view off, std::string_view stays) {
  const char* set = std::getenv(name);
  const std::string_view value = set != nullptr ? set : "";
  if (value != "" && value != "0" && value != "1") {
    WriteDiagnostics("wdtDLL: " + std::string(name) + "='" + wdt::Printable(value) + "' is neither 1 (" +
                     std::string(on) + ") nor 0 (" + std::string(off) + "); " + std::string(stays) + "\n");
  }
  return value == "1";
}

bool TraceFromEnvironment() {
  return SwitchFromEnvironment("WDT_SIM_TRACE", "trace", "no trace", "tracing stays off");
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

void SayWhatIsLeft();

// The watchdog behind the operations, chosen once.
standin::Backend* BackendFromEnvironment() {
  standin::Backend* backend = nullptr;
  // Opening a device arms it: only one that the user named is ever opened.
  const char* device = std::getenv("WDT_DEVICE");
  if (device != nullptr && *device != '\0') {
    kdev::Settings settings;
    settings.trace = TraceFromEnvironment();
    settings.allow_nowayout = SwitchFromEnvironment("WDT_ALLOW_NOWAYOUT", "open a nowayout driver",
                                                    "refuse it", "a nowayout driver is refused");
    settings.allow_pretimeout = SwitchFromEnvironment("WDT_ALLOW_PRETIMEOUT", "open it under any governor",
                                                      "refuse one that may panic", "a pretimeout that may panic is refused");
    backend = new kdev::KernelWatchdog(device, kdev::DeviceSystemCalls(), std::move(settings), WriteDiagnostics);
  } else {
    backend = new sim::Simulator(SettingsFromEnvironment(), sim::Clock::now, WriteDiagnostics);
  }
  std::atexit(SayWhatIsLeft);
  return backend;
}

standin::Backend& Watchdog() {
  // Made at the first call and never destroyed: the program's monitor thread
  // may still be inside a call while the process exits.
  static standin::Backend* const backend = BackendFromEnvironment();
  return *backend;
}

// An armed device that the process leaves behind says when it will reset
// the machine. Nothing is destroyed here.
void SayWhatIsLeft() {
  try {
    Watchdog().AtExit();
  } catch (...) {
  }
}

// No exception crosses the C boundary: one that escapes is a failure to
// communicate with the driver.
template <typename Call>
StatusCode Guarded(Call call) noexcept {
  try {
    return call(Watchdog());
  } catch (...) {
    return wdt::kNoCommunication;
  }
}

}  // namespace

extern "C" {

StatusCode InitializeSession(void) {
  return Guarded([](standin::Backend& w) { return w.InitializeSession(); });
}

StatusCode EnableTimer(uint32_t timeout, int32_t min_sec) {
  return Guarded([=](standin::Backend& w) { return w.EnableTimer(timeout, min_sec); });
}

StatusCode DisableTimer(void) {
  return Guarded([](standin::Backend& w) { return w.DisableTimer(); });
}

StatusCode WriteTimerValue(uint32_t value) {
  return Guarded([=](standin::Backend& w) { return w.WriteTimerValue(value); });
}

StatusCode ReadTimerValue(uint32_t* value) {
  return Guarded([=](standin::Backend& w) { return w.ReadTimerValue(value); });
}

StatusCode CloseSession(void) {
  return Guarded([](standin::Backend& w) { return w.CloseSession(); });
}

// Not one of the driver's six, and not exported on Windows: wdt-check looks
// it up at run time and does without it where a library lacks it.
WDT_API StatusCode SetPretimeout(uint32_t seconds) {
  return Guarded([=](standin::Backend& w) { return w.SetPretimeout(seconds); });
}

// Not one of the driver's six either: wdt-check calls it before it opens a
// watchdog whose pretimeout it plans for.
WDT_API StatusCode AcceptPretimeout(void) {
  return Guarded([](standin::Backend& w) { return w.AcceptPretimeout(); });
}

}  // extern "C"
