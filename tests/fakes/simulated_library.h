// The real simulated watchdog behind the six operations, for the tests of
// the programs' logic: it runs on the fakes' clock (which the fake
// platform's sleeps move), every call is traced into the fakes' event log
// ("EnableTimer(5, 0) -> 0", "ReadTimerValue() -> 0 (value 30)"), and its
// faults and lies are given in the library's own grammars (WDT_SIM_FAULTS,
// WDT_SIM_BEHAVIOUR).
#pragma once

#include <string_view>

#include "fake_clock.h"
#include "operations.h"

namespace fake {

// A new simulated watchdog in place of the last one.
void UseSimulator(std::string_view faults = "", std::string_view behaviour = "");
wdt::Operations Simulated();

// The clock that the simulator reads, which the fake platform's sleeps move.
FakeClock& TheClock();

// While the watchdog was armed: the least time left, in seconds, before or
// after any call (at or below 0 it ran out); and whether it is armed now.
double LeastSecondsLeft();
bool Armed();

}  // namespace fake
