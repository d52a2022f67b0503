// wdt-exerciser: exercises a hardware watchdog through its driver's library.
// Takes no arguments and reads no environment.
#include "operations.h"
#include "platform.h"
#include "sequence.h"

int main() {
  platform::Prepare();
  // A hang-up or a termination ends the run as q does: disarmed and closed.
  platform::CatchStopSignals(platform::StopSignals::kHangUpAndTerminate);
  const int status = exerciser::RunExercise(wdt::LinkedOperations());
  // What the output could not take yet is waited for, but not after a stop.
  platform::FinishOutput();
  return status;
}
