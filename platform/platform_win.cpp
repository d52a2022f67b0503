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
// (Wine's console swallows it: there the key neither comes nor interrupts.)
constexpr int kCtrlC = 3;
// What _getch returns when no key can ever come: the process has no console
// (standard input a pipe, a file or NUL makes no difference, _getch reads
// the console alone) or the console went away. msvcrt.dll answers EOF,
// as Wine's does (seen with no console and after a terminal hang-up); the
// universal CRT's wide read fails with WEOF, 0xFFFF. No key has either code.
constexpr int kGetchFailed = EOF;
constexpr int kGetchFailedWide = 0xFFFF;

}  // namespace

void Prepare() {}

int ReadKey() {
  const int key = _getch();
  if (key == kCtrlC) std::raise(SIGINT);
  if (key == kGetchFailed || key == kGetchFailedWide) return kNoMoreKeys;
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
  // call, so the two threads' lines do not break each other. In text mode it
  // writes each "\n" as "\r\n", as the console expects.
  const int fd = _fileno(stdout);
  if (fd < 0 || text.empty()) return;  // no standard output at all
  _write(fd, text.data(), static_cast<unsigned>(text.size()));
}

}  // namespace platform
