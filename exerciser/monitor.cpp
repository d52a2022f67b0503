#include "monitor.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>

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
  constexpr std::string_view kLead = "Current timeout: ";
  // Made on the stack, so that a pass allocates nothing: the lead, up to ten
  // digits and the newline.
  char line[kLead.size() + 11];
  std::memcpy(line, kLead.data(), kLead.size());
  std::uint32_t holder = 0;  // printed as is if the first read fails
  for (;;) {
    if (g_operations.read_timer_value(&holder) != 0) platform::WriteOut("Failed to read\n");
    char* end = std::to_chars(line + kLead.size(), line + sizeof line - 1, holder).ptr;
    *end++ = '\n';
    platform::WriteOut(std::string_view(line, static_cast<std::size_t>(end - line)));
    platform::SleepMs(1000);
  }
}
