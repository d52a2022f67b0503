// The machine's sleep, for wdt-check --suspend: the states that the kernel
// offers, the RTC's wake alarm that ends the sleep, the sleep itself and the
// boot clock, which counts while the machine sleeps. Linux only: elsewhere
// there is no state to offer and no alarm.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The words of /sys/power/state ("freeze mem disk"); none if it cannot be read.
std::optional<std::string> PowerStates();
// What `mem` means here: the chosen one of /sys/power/mem_sleep ("deep",
// "s2idle"); empty if there is no choice.
std::string MemSleep();
// Whether rtc0 has a wake alarm.
bool HasWakeAlarm();
// Whether this process may write the state and the wake alarm.
bool MaySleep();
// Sets the wake alarm `seconds` from now; *previous gets the alarm that was
// set (seconds since the epoch, empty if none). Empty, or why not.
std::string SetWakeAlarm(unsigned seconds, std::string* previous);
// Clears the alarm, and sets `previous` again where one was set. Empty, or why not.
std::string PutBackWakeAlarm(const std::string& previous);
// Writes `state` to /sys/power/state: returns once the machine woke. Empty,
// or why it did not sleep.
std::string Sleep(std::string_view state);
// Seconds on the boot clock (CLOCK_BOOTTIME), which goes on while the
// machine sleeps; 0 where there is none.
double BootClock();

}  // namespace platform
