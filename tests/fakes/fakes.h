// A scripted fake of the watchdog library and a fake platform for the
// sequence tests. Everything that happens goes into one ordered event log:
//   "InitializeSession() -> 0", "EnableTimer(5, 0) -> 0", "ReadTimerValue -> 0",
//   "out:<text>", "sleep 2000", "start MonitorTimerValue", "key 0x61", "pause".
#pragma once

#include <chrono>
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

// A watchdog behind the scripted answers, counting on the test's clock:
// EnableTimer arms it, WriteTimerValue reloads it while armed, DisableTimer
// stops it where it stands, and successful reads store its units left.
struct Counter {
  std::function<std::chrono::steady_clock::time_point()> now{};  // the test sets it
  double seconds_per_unit = 1;  // as it counts and runs out
  double tick_s = 0;            // it moves in steps of this many seconds; 0 smoothly
  bool round_down = false;      // a part of a unit shows rounded down, else up
  std::uint32_t grant = 255;    // timeouts and reloads above are cut to this
};
void UseCounter(Counter counter);
// The least time left that any call found while the counter was armed (at
// or below 0: it ran out), and whether it is armed now.
double LeastSecondsLeft();
bool CounterArmed();

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
