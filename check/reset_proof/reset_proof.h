// What the reset proof's roads share. Each road arms the watchdog, writes the
// record and reloads a last time (last_reload.cpp), then brings the reset
// about its own way, with the machine recorded alive meanwhile: the watchdog
// left to run out (expire.cpp). A new road is a new file beside them, a step
// in steps.cpp, and a way of its own to end the wait.
#pragma once

#include <string>
#include <string_view>

#include "settings.h"

namespace check {

class Run;

// The reset may come as late as the second expiry (a TCO-style watchdog
// resets on it), and this much after it: seconds after the last reload.
inline constexpr double kLateBy = 10;
inline double LatestReset(double timeout) { return 2 * timeout + kLateBy; }
// What the record names as its device where WDT_DEVICE is not set.
inline constexpr std::string_view kLinkedLibrary = "the linked library";
// How often the machine is recorded alive while the reset is awaited, where
// the disk keeps up: the reset is bounded to this and a write.
inline constexpr Clock::duration kBeat = 100ms;

// A wall-clock time as the record and the operator read it: 08:01:02 UTC.
std::string WallTime(double seconds);

// Replaces the record on disk with run.learned.record, or writes its next
// beat in place; false, with the run ended, if it cannot be.
bool WriteRecord(Run& run);
bool WriteBeat(Run& run);

}  // namespace check
