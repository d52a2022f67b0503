// The machine's sleep on Windows: none that wdt-check --suspend drives, so
// its pre-flight refuses it before anything is armed.
#include "suspend.h"

namespace platform {

std::optional<std::string> PowerStates() { return std::nullopt; }
std::string MemSleep() { return {}; }
bool HasWakeAlarm() { return false; }
bool MaySleep() { return false; }
std::string SetWakeAlarm(unsigned, std::string* previous) {
  previous->clear();
  return "no wake alarm on Windows";
}
std::string PutBackWakeAlarm(const std::string&) { return {}; }
std::string Sleep(std::string_view) { return "not on Windows"; }
double BootClock() { return 0; }

}  // namespace platform
