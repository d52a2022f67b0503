// Windows implementation of the platform layer: the console's own _getch,
// the command interpreter's "pause", _beginthread and Sleep.
#include <conio.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform.h"

namespace platform {
namespace {

// _getch hands Ctrl+C over as a key code; the operator means to interrupt.
constexpr int kCtrlC = 3;
// What _getch returns when no key can ever come (no console to read).
constexpr int kGetchFailed = -1;

}  // namespace

void Prepare() {}

int ReadKey() {
  const int key = _getch();
  if (key == kCtrlC) std::raise(SIGINT);
  if (key == kGetchFailed || key == 0xFFFF) return kNoMoreKeys;
  return key;
}

void Pause() { std::system("pause"); }

void StartDetachedThread(void (*routine)(void*)) {
  _beginthread(routine, 0, nullptr);
}

void SleepMs(unsigned milliseconds) {
#ifdef WDT_INSTANT_SLEEP
  // Test build: every sleep returns at once, so a run takes milliseconds.
  (void)milliseconds;
#else
  Sleep(milliseconds);
#endif
}

void WriteOut(std::string_view text) {
  // One _write per line: the runtime holds the handle's lock for the whole
  // call, so the two threads' lines do not break each other.
  if (!text.empty()) {
    _write(_fileno(stdout), text.data(), static_cast<unsigned>(text.size()));
  }
}

}  // namespace platform
