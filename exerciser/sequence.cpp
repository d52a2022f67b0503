#include "sequence.h"

#include <string>
#include <string_view>

#include "monitor.h"
#include "platform.h"
#include "status_messages.h"

namespace exerciser {
namespace {

// A checked step that failed: print the step's own line and carry the status
// to the failure handler.
[[noreturn]] void Fail(StatusCode status, std::string_view failure_line) {
  platform::WriteOut(failure_line);
  throw status;
}

void Arm(const wdt::Operations& wdt, std::uint32_t timeout) {
  if (const StatusCode status = wdt.enable_timer(timeout, kMinSec); status != 0) {
    Fail(status, "Failed to start WDT with the following timeout and min_sec args " +
                     std::to_string(timeout) + " " + std::to_string(kMinSec) + "\n");
  }
  platform::WriteOut("Set timer to " + std::to_string(timeout) + " seconds\n");
}

}  // namespace

int RunExercise(const wdt::Operations& wdt) {
  try {
    if (const StatusCode status = wdt.initialize_session(); status != 0) {
      Fail(status, "Failed to open device\n");
    }

    Arm(wdt, kProbeTimeout);
    platform::SleepMs(kProbeHoldMs);
    wdt.disable_timer();  // ends the probe; its status is not examined

    Arm(wdt, kTimeout);
    SetMonitorOperations(wdt);
    if (!platform::StartDetachedThread(MonitorTimerValue)) {
      // The run goes on without the monitor, but not silently.
      platform::WriteErr("Failed to start the timer monitor: no \"Current timeout\" lines will follow\n");
    }

    const std::string prompt = "Press key to reset timer to " + std::to_string(kTimeout) +
                               " seconds. Press q to close WDT and quit application.\n";
    do {
      if (const StatusCode status = wdt.write_timer_value(kTimeout); status != 0) {
        Fail(status, "Failed to write time to driver\n");
      }
      platform::WriteOut(prompt);
    } while (platform::ReadKey() != kQuitKey);

    if (const StatusCode status = wdt.disable_timer(); status != 0) {
      Fail(status, "Failed to disable timer.\n");
    }
    if (const StatusCode status = wdt.close_session(); status != 0) {
      Fail(status, "Failed to close Driver.\n");
    }
    platform::WriteOut("WDT closed. Exiting\n");
  } catch (StatusCode status) {
    // Nothing is undone here: an armed watchdog stays armed, an open session
    // open, and the monitor goes on printing during the pause.
    platform::WriteOut(wdt::StatusMessage(status));
    platform::Pause();
  }
  return 0;
}

}  // namespace exerciser
