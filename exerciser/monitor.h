#pragma once

#include "operations.h"

// The timer monitor: reads the watchdog's timer value and prints it about
// once a second until the process ends. Started on its own thread with a
// null argument, which it does not use; it never returns and is never
// stopped or joined.
[[noreturn]] void MonitorTimerValue(void* unused);

// The operations that the monitor reads with: set once, before it starts.
void SetMonitorOperations(const wdt::Operations& wdt);
