// Windows implementation of the platform layer: the console's own _getch,
// the command interpreter's "pause", _beginthread and Sleep.
#include <conio.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <string_view>

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

// Set by the stop signals' handler, which the runtime may run on a thread of
// its own (the console's Ctrl+C).
volatile std::sig_atomic_t g_stop_requested = 0;

extern "C" void OnStopSignal(int signal_number) {
  g_stop_requested = 1;
  std::signal(signal_number, OnStopSignal);  // the runtime resets it before the call
}

void WriteAll(FILE* stream, std::string_view text) {
  // One _write per line: the runtime holds the handle's lock for the whole
  // call, so the two threads' lines do not break each other. In text mode it
  // writes each "\n" as "\r\n", as the console expects.
  const int fd = _fileno(stream);
  if (fd < 0 || text.empty()) return;  // no such output at all
  _write(fd, text.data(), static_cast<unsigned>(text.size()));
}

}  // namespace

void Prepare() {}

int ReadKey() {
  if (g_stop_requested) return kNoMoreKeys;
  const int key = _getch();
  if (key == kCtrlC) std::raise(SIGINT);
  if (key == kGetchFailed || key == kGetchFailedWide) return kNoMoreKeys;
  return key;
}

void Pause() { std::system("pause"); }

bool StartDetachedThread(void (*routine)(void*)) {
  return _beginthread(routine, 0, nullptr) != static_cast<uintptr_t>(-1);
}

void SleepMs(unsigned milliseconds) {
#ifdef WDT_INSTANT_SLEEP
  // Test build: every sleep returns at once, so a run takes milliseconds.
  (void)milliseconds;
#else
  Sleep(milliseconds);
#endif
}

void WriteOut(std::string_view text) { WriteAll(stdout, text); }

void WriteErr(std::string_view text) { WriteAll(stderr, text); }

// Every write above is done before it returns: nothing is kept.
void FinishOutput() {}

// The console's close and log-off events are not caught: on Windows a run
// ends on them as it always has. There is no request to suspend.
void CatchStopSignals(StopSignals which) {
  std::signal(SIGTERM, OnStopSignal);
  if (which != StopSignals::kHangUpAndTerminate) {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGBREAK, OnStopSignal);
  }
}

bool StopRequested() { return g_stop_requested != 0; }

std::string_view HeldSuspension() { return {}; }

void SuspendIfRequested() {}

}  // namespace platform
