#include "monitor.h"

#include <cstdint>
#include <string>

#include "platform.h"

namespace {

// Written before the thread starts, only read after: nothing the two threads
// change is shared.
wdt::Operations g_operations{};

}  // namespace

void SetMonitorOperations(const wdt::Operations& wdt) { g_operations = wdt; }

// The process may end while this thread is inside ReadTimerValue or writing a
// line: it uses only its own stack, the library and standard output, and none
// of those is torn down at exit.
void MonitorTimerValue(void* /*unused*/) {
  std::uint32_t holder = 0;  // printed as is if the first read fails
  for (;;) {
    if (g_operations.read_timer_value(&holder) != 0) platform::WriteOut("Failed to read\n");
    platform::WriteOut("Current timeout: " + std::to_string(holder) + "\n");
    platform::SleepMs(1000);
  }
}
