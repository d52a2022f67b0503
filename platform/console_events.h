// What each of the Windows console's control events does to a run: the
// Windows counterpart of the stop signals (platform.h). A table of its own,
// free of the system's headers, so that it is checked on every platform,
// the events that no test can send among them.
#pragma once

#include "platform.h"

namespace platform {

// The console's control events, numbered as the console numbers them.
inline constexpr unsigned long kCtrlCEvent = 0;
inline constexpr unsigned long kCtrlBreakEvent = 1;
inline constexpr unsigned long kCloseEvent = 2;     // the console window closed, or its task ended
inline constexpr unsigned long kLogoffEvent = 5;
inline constexpr unsigned long kShutdownEvent = 6;

// The exit status of a process that a Ctrl+C ended (STATUS_CONTROL_C_EXIT).
inline constexpr unsigned long kCtrlCExitStatus = 0xC000013A;

enum class ConsoleEventAction {
  kPassOn,   // not this program's: the next handler decides
  kStop,     // the run ends as q does; the handler returns at once
  // As kStop, but the handler returns only once the process has ended (or
  // after a bound): on its return Windows ends the process, disarmed or not.
  kStopAndHold,
  // The process ends at once with kCtrlCExitStatus, the watchdog left as it
  // is: the operator's way to see a real reset.
  kEndInterrupted,
};

constexpr ConsoleEventAction ActionFor(unsigned long event, StopSignals which) {
  switch (event) {
    case kCtrlCEvent:
      return which != StopSignals::kHangUpAndTerminate ? ConsoleEventAction::kStop
                                                       : ConsoleEventAction::kEndInterrupted;
    case kCtrlBreakEvent:
      return ConsoleEventAction::kStop;
    case kCloseEvent:
    case kLogoffEvent:
    case kShutdownEvent:
      return ConsoleEventAction::kStopAndHold;
    default:
      return ConsoleEventAction::kPassOn;
  }
}

}  // namespace platform
