// The pause and the sleep, the same on every platform. The pause is the
// command interpreter's, with its text, but in the process, over ReadKey,
// which a stop ends: a child cmd.exe waiting for a key could not be woken by
// a stop.
#include <chrono>
#include <thread>

#include "platform.h"

namespace platform {

void Pause() {
  WriteOut("Press any key to continue . . . ");
  ReadKey();
  WriteOut("\n");
}

void SleepMs(unsigned milliseconds) {
#ifdef WDT_INSTANT_SLEEP
  // Test build: every sleep returns at once, so a run takes milliseconds.
  (void)milliseconds;
#else
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
#endif
}

}  // namespace platform
