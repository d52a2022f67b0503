// The stand-in for the closed driver library: the six operations, with C
// linkage, over one simulated watchdog, or over the kernel watchdog device
// that WDT_DEVICE names. WDT_SIM_FAULTS injects failures into the simulation,
// WDT_SIM_BEHAVIOUR makes it lie, WDT_TRACE=1 (or its older name
// WDT_SIM_TRACE=1) traces every call to standard error; standard output is
// the program's alone.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "backend.h"
#include "environment.h"
#include "kernel_watchdog.h"
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

const char* Variable(const char* name) { return std::getenv(name); }

bool SwitchFromEnvironment(const char* name, std::string_view on, std::string_view off, std::string_view stays) {
  return standin::Switch(Variable, WriteDiagnostics, name, on, off, stays);
}

bool TraceFromEnvironment() { return standin::TraceSwitch(Variable, WriteDiagnostics); }

sim::Settings SettingsFromEnvironment() {
  const char* faults = std::getenv("WDT_SIM_FAULTS");
  const char* behaviour = std::getenv("WDT_SIM_BEHAVIOUR");
  return {.faults = sim::ParseFaultList(faults != nullptr ? faults : ""),
          .trace = TraceFromEnvironment(),
          .behaviour = sim::ParseBehaviour(behaviour != nullptr ? behaviour : "")};
}

kdev::Settings DeviceSettingsFromEnvironment() {
  return {.trace = TraceFromEnvironment(),
          .allow_nowayout = SwitchFromEnvironment("WDT_ALLOW_NOWAYOUT", "open a nowayout driver", "refuse it",
                                                  "a nowayout driver is refused"),
          .allow_pretimeout =
              SwitchFromEnvironment("WDT_ALLOW_PRETIMEOUT", "open it under any governor", "refuse one that may panic",
                                    "a pretimeout that may panic is refused")};
}

void SayWhatIsLeft();

// The watchdog behind the operations, chosen once.
standin::Backend* BackendFromEnvironment() {
  standin::Backend* backend = nullptr;
  // Opening a device arms it: only one that the user named is ever opened.
  const char* device = std::getenv("WDT_DEVICE");
  if (device != nullptr && *device != '\0') {
    backend = new kdev::KernelWatchdog(device, kdev::DeviceSystemCalls(), DeviceSettingsFromEnvironment(),
                                       WriteDiagnostics);
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

// Exported on Windows too: wdt-check names the watchdog that it checked, and
// a simulated one is never taken for the hardware.
WDT_API StatusCode DescribeWatchdog(char* text, uint32_t size) {
  if (text == nullptr || size == 0) return wdt::kBadParameter;
  text[0] = '\0';
  return Guarded([=](standin::Backend& w) {
    const std::string described = w.Describe();
    if (described.size() >= size) return wdt::kBadParameter;
    std::memcpy(text, described.c_str(), described.size() + 1);
    return wdt::kOk;
  });
}

}  // extern "C"
