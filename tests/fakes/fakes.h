// A fake platform for the tests of the programs' logic, beside the simulated
// watchdog (simulated_library.h). Everything that happens goes into one
// ordered event log: the library's trace lines ("EnableTimer(5, 0) -> 0",
// "ReadTimerValue() -> 0 (value 30)"), "out:<text>", "sleep 2000",
// "start thread", "key 0x61", "pause".
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "wdtDLL.h"

namespace fake {

// Clears the log, the keys and the clock; a new, honest simulated watchdog
// (simulated_library.h) stands behind the six operations.
void Reset();

// Keys that ReadKey hands out in order; past the end it yields 'q'.
void SetKeys(std::string keys);

// Runs before each key is handed out (on the reading thread).
void BeforeEachKey(std::function<void()> hook);

// Thrown from the monitor's one-second sleep once its passes are used up, so
// that a test can end the otherwise endless monitor. A sleep of any other
// length on a thread that has read the timer (the monitor) fails the test and
// throws it at once.
struct StopMonitor {};
void SetMonitorPasses(int passes);
// kRun: the monitor's thread, out of passes, waits for more (at most ten
// seconds, then the test fails) instead of ending; these give it more, and
// end it.
void GrantMonitorPasses(int passes);
void EndMonitor();

// kRecord only logs the start; kRun runs the routine on a thread that ends at
// StopMonitor, to be joined with JoinThread; kFail reports a failed start.
enum class ThreadMode { kRecord, kRun, kFail };
void SetThreadMode(ThreadMode mode);
void JoinThread();
bool MonitorEnded();  // kRun: the routine's thread has ended

std::vector<std::string> Events();
void Log(std::string event);

}  // namespace fake
