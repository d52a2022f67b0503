// The stand-in for the closed driver library: the six operations, with C
// linkage, over one simulated watchdog. WDT_SIM_FAULTS injects failures,
// WDT_SIM_TRACE=1 traces every call to standard error; standard output is
// the program's alone.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "simulator.h"
#include "wdtDLL.h"

namespace {

// Standard error is unbuffered: each line goes out in one write.
void WriteDiagnostics(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
}

sim::Settings SettingsFromEnvironment() {
  sim::Settings settings;
  const char* faults = std::getenv("WDT_SIM_FAULTS");
  settings.faults = sim::ParseFaultList(faults != nullptr ? faults : "");
  const char* trace = std::getenv("WDT_SIM_TRACE");
  settings.trace = trace != nullptr && std::string_view(trace) == "1";
  return settings;
}

sim::Simulator& Watchdog() {
  // Made at the first call and never destroyed: the program's monitor thread
  // may still be inside a call while the process exits.
  static sim::Simulator* const watchdog =
      new sim::Simulator(SettingsFromEnvironment(), sim::Clock::now, WriteDiagnostics);
  return *watchdog;
}

// No exception crosses the C boundary: one that escapes is a failure to
// communicate with the simulated driver.
template <typename Call>
StatusCode Guarded(Call call) noexcept {
  try {
    return call(Watchdog());
  } catch (...) {
    return 1;
  }
}

}  // namespace

extern "C" {

StatusCode InitializeSession(void) {
  return Guarded([](sim::Simulator& w) { return w.InitializeSession(); });
}

StatusCode EnableTimer(uint32_t timeout, int32_t min_sec) {
  return Guarded([=](sim::Simulator& w) { return w.EnableTimer(timeout, min_sec); });
}

StatusCode DisableTimer(void) {
  return Guarded([](sim::Simulator& w) { return w.DisableTimer(); });
}

StatusCode WriteTimerValue(uint32_t value) {
  return Guarded([=](sim::Simulator& w) { return w.WriteTimerValue(value); });
}

StatusCode ReadTimerValue(uint32_t* value) {
  return Guarded([=](sim::Simulator& w) { return w.ReadTimerValue(value); });
}

StatusCode CloseSession(void) {
  return Guarded([](sim::Simulator& w) { return w.CloseSession(); });
}

}  // extern "C"
