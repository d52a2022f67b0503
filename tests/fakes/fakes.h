// A scripted fake of the watchdog library and a fake platform for the
// sequence tests. Everything that happens goes into one ordered event log:
//   "InitializeSession() -> 0", "EnableTimer(5, 0) -> 0", "ReadTimerValue -> 0",
//   "out:<text>", "sleep 2000", "start MonitorTimerValue", "key 0x61", "pause".
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "wdtDLL.h"

namespace fake {

// Clears the script and the log; the library answers 0 to every call.
void Reset();

// The nth call (from 1) of operation returns status; nth 0 means every call.
void FailCall(std::string_view operation, int nth, StatusCode status);

// What successive successful reads store; the last value repeats.
void SetReadValues(std::vector<std::uint32_t> values);

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

// kRecord only logs the start; kRun runs the routine on a thread that ends at
// StopMonitor, to be joined with JoinThread; kFail reports a failed start.
enum class ThreadMode { kRecord, kRun, kFail };
void SetThreadMode(ThreadMode mode);
void JoinThread();
bool MonitorEnded();  // kRun: the routine's thread has ended

std::vector<std::string> Events();
void Log(std::string event);

}  // namespace fake
