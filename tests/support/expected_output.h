// The exact texts that the programs print, written out once for every test
// and the benchmark. Each is a line's text without its end: "\n" on POSIX,
// "\r\n" through a terminal or on Windows; Line() adds one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace printed {

// The exerciser's road, in order.
inline constexpr char kProbeArmed[] = "Set timer to 5 seconds";
inline constexpr char kArmed[] = "Set timer to 30 seconds";
inline constexpr char kPrompt[] =
    "Press key to reset timer to 30 seconds. Press q to close WDT and quit application.";
inline constexpr char kClosed[] = "WDT closed. Exiting";

// The monitor's lines: the value follows the text, a failed read comes first.
inline constexpr char kTimerLine[] = "Current timeout: ";
inline constexpr char kFailedRead[] = "Failed to read";
// On standard error when the monitor's thread cannot start; the run goes on.
inline constexpr char kMonitorNotStarted[] =
    "Failed to start the timer monitor: no \"Current timeout\" lines will follow";

// A checked step's own failure line, then the status line, then the pause.
inline constexpr char kFailedOpen[] = "Failed to open device";
inline constexpr char kFailedProbe[] =
    "Failed to start WDT with the following timeout and min_sec args 5 0";
inline constexpr char kFailedArm[] =
    "Failed to start WDT with the following timeout and min_sec args 30 0";
inline constexpr char kFailedReload[] = "Failed to write time to driver";
inline constexpr char kFailedDisarm[] = "Failed to disable timer.";
inline constexpr char kFailedClose[] = "Failed to close Driver.";

// The status lines: 1, 2, 3, and every other status.
inline constexpr char kNoCommunication[] = "Failed to communicate with driver";
inline constexpr char kNoHandle[] = "Failed to obtain handle to driver";
inline constexpr char kBadParameter[] = "Bad parameter";
inline constexpr char kUnknownError[] = "Unkown error!";

inline constexpr const char* StatusLine(std::int64_t status) {
  switch (status) {
    case 1: return kNoCommunication;
    case 2: return kNoHandle;
    case 3: return kBadParameter;
    default: return kUnknownError;
  }
}

// The pause's text, as the command interpreter's "pause" prints it: no line
// end, the key that ends it brings one.
inline constexpr char kPause[] = "Press any key to continue . . . ";

// The simulated library's trace (WDT_TRACE=1, standard error) of the
// road's calls that succeed.
inline constexpr char kTraceOpen[] = "InitializeSession() -> 0";
inline constexpr char kTraceProbe[] = "EnableTimer(5, 0) -> 0";
inline constexpr char kTraceArm[] = "EnableTimer(30, 0) -> 0";
inline constexpr char kTraceReload[] = "WriteTimerValue(30) -> 0";
inline constexpr char kTraceDisarm[] = "DisableTimer() -> 0";
inline constexpr char kTraceClose[] = "CloseSession() -> 0";

inline std::string Line(std::string_view text, std::string_view end = "\n") {
  return std::string(text).append(end);
}

}  // namespace printed
