// Every check of a run, each a step of the engine (steps.cpp lists them for
// each mode), and the actions between them; each defined in the file that
// its group names. A check acts through the run (run.h) and returns its
// verdict, judged as it ends.
#pragma once

#include "report.h"
#include "settings.h"

namespace check {

class Run;

// How long a disarmed counter must stay still, and how often it is read; an
// armed counter that has not moved for as long fails at once.
inline constexpr Clock::duration kStillFor = 1500ms;
inline constexpr Clock::duration kStillPoll = 20ms;

// The session's calls, judged on their statuses (open_close.cpp).
Check Open(Run& run);
Check Close(Run& run);

// Loads that must read back as written (arm_reload.cpp).
Check Arm(Run& run);
Check Reload(Run& run);

// The countdown, watched and judged (countdown.cpp).
Check Countdown(Run& run);

// The pretimeout's bark (pretimeout_bark.cpp).
Check Bark(Run& run);

// The disarm, and the counter standing still after it (disarm.cpp).
Check Disarm(Run& run);

// The device's timeout, pretimeout and governor put back as they were found,
// once it is disarmed and before the close (put_back.cpp).
void PutBack(Run& run);

// The reset proof (reset_proof/): the last reload, with the record on disk
// before it (last_reload.cpp); the watchdog left to run out, the machine
// recorded alive meanwhile (expire.cpp); a wait that a stop, a stall or a
// failure ended said so in the record (reset_proof.cpp).
Check LastReload(Run& run);
Check Expire(Run& run);
void RecordHowTheWaitEnded(Run& run);
// With --suspend, between the last reload and the wait: the machine asleep,
// the beats stopped; then reloaded once, its time left counting down again
// where the driver reports it (suspend.cpp).
Check Suspend(Run& run);
Check Resume(Run& run);
// With --hang, after the last reload: the kernel crashed (reset_proof/hang.cpp).
Check Crash(Run& run);
// After the reset: the record read, and the verdicts on it (after_reset.cpp).
Check Record(Run& run);
Check Rebooted(Run& run);
Check OnTime(Run& run);
Check Cause(Run& run);

}  // namespace check
