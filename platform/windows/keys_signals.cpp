// Windows keys and stops: the console's own _getch, which a stop wakes, and
// the console's control events (console_events.h) and SIGTERM, which ask for
// a clean stop. There is no request to suspend.
#include <conio.h>
#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string_view>

#include "console_events.h"
#include "platform.h"

namespace platform {
namespace {

static_assert(kCtrlCEvent == CTRL_C_EVENT && kCtrlBreakEvent == CTRL_BREAK_EVENT &&
              kCloseEvent == CTRL_CLOSE_EVENT && kLogoffEvent == CTRL_LOGOFF_EVENT &&
              kShutdownEvent == CTRL_SHUTDOWN_EVENT);
static_assert(kCtrlCExitStatus == STATUS_CONTROL_C_EXIT);

// _getch hands Ctrl+C over as a key code when it comes during the read (the
// console is raw then); the operator means to interrupt. (Wine's console
// swallows it: there the key neither comes nor interrupts.)
constexpr int kCtrlC = 3;
// What _getch returns when no key can ever come: the process has no console
// (standard input a pipe, a file or NUL makes no difference, _getch reads
// the console alone) or the console went away. msvcrt.dll answers EOF,
// as Wine's does (seen with no console and after a terminal hang-up); the
// universal CRT's wide read fails with WEOF, 0xFFFF. No key has either code.
constexpr int kGetchFailed = EOF;
constexpr int kGetchFailedWide = 0xFFFF;

// The longest that the handler of a close, log-off or shutdown holds. Windows
// ends the process when the handler returns, or once the seconds that it
// grants have passed (5 by default); the main thread disarms, closes and ends
// the process well within them, which ends the handler's thread too.
constexpr DWORD kHoldMs = 10000;

// A clean stop asked for: set by the console's handler, which runs on a
// thread that Windows starts for each event, or by SIGTERM's.
std::atomic<bool> g_stop_requested{false};
StopSignals g_which = StopSignals::kHangUpAndTerminate;

// The key read and the stop. _getch waits in the console's input, and only
// an input record (or the console's end, which fails it) ends that wait: so
// while a read may wait, a stop writes a key into the console's input, a q
// going down, and _getch returns it or a key that came before it. Whether a
// read may wait is set and cleared under a lock that the stop takes too: a
// read that begins after the stop sees the flag and does not wait, and none
// that has ended gets a key. A wake-up key that _getch did not take is taken
// back out once it returns, so that no q is left behind for the shell. The
// console keeps serving its input while it hands out an event (it waits for
// the process's answer), so the key is written in time.
SRWLOCK g_read_lock = SRWLOCK_INIT;
bool g_read_may_wait = false;     // under g_read_lock
bool g_wake_key_written = false;  // under g_read_lock

// The console's input as _getch reads it, CONIN$ rather than standard input,
// opened once; null without a console.
HANDLE ConsoleInput() {
  static const HANDLE input = [] {
    const HANDLE handle = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
  }();
  return input;
}

// A q going down with no scan code: no keyboard sends one so, and the read
// knows it again.
INPUT_RECORD WakeKey() {
  INPUT_RECORD record{};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = TRUE;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.wVirtualKeyCode = 'Q';
  record.Event.KeyEvent.uChar.AsciiChar = kNoMoreKeys;
  return record;
}

bool IsWakeKey(const INPUT_RECORD& record) {
  const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
  return record.EventType == KEY_EVENT && key.bKeyDown && key.wVirtualScanCode == 0 &&
         key.wVirtualKeyCode == 'Q' && key.uChar.AsciiChar == kNoMoreKeys && key.dwControlKeyState == 0;
}

// On the handler's thread: a read that may wait gets a key to return.
void WakeRead() {
  AcquireSRWLockExclusive(&g_read_lock);
  if (g_read_may_wait && !g_wake_key_written) {
    const INPUT_RECORD key = WakeKey();
    DWORD written = 0;
    g_wake_key_written = WriteConsoleInputA(ConsoleInput(), &key, 1, &written) && written == 1;
  }
  ReleaseSRWLockExclusive(&g_read_lock);
}

// Takes the wake-up key back out of the console's input, and the keys ahead
// of it with it (the run is ending); under g_read_lock.
void TakeBackWakeKey() {
  INPUT_RECORD records[64];
  DWORD count = 0;
  if (!PeekConsoleInputA(ConsoleInput(), records, 64, &count)) return;
  for (DWORD i = 0; i < count; ++i) {
    if (IsWakeKey(records[i])) {
      ReadConsoleInputA(ConsoleInput(), records, i + 1, &count);
      return;
    }
  }
}

// One _getch code, or kNoMoreKeys once a stop was asked for.
int GetchThatAStopEnds() {
  AcquireSRWLockExclusive(&g_read_lock);
  const bool stopped = g_stop_requested;
  g_read_may_wait = !stopped;
  ReleaseSRWLockExclusive(&g_read_lock);
  if (stopped) return kNoMoreKeys;
  const int key = _getch();
  AcquireSRWLockExclusive(&g_read_lock);
  g_read_may_wait = false;
  if (g_wake_key_written) TakeBackWakeKey();
  g_wake_key_written = false;
  ReleaseSRWLockExclusive(&g_read_lock);
  return g_stop_requested ? kNoMoreKeys : key;
}

void RequestStop() {
  g_stop_requested = true;
  WakeRead();
}

// What a console event does (console_events.h); also a Ctrl+C that _getch
// read as a key.
BOOL Act(DWORD event) {
  switch (ActionFor(event, g_which)) {
    case ConsoleEventAction::kPassOn:
      return FALSE;
    case ConsoleEventAction::kStop:
      RequestStop();
      return TRUE;
    case ConsoleEventAction::kStopAndHold:
      RequestStop();
      Sleep(kHoldMs);
      return TRUE;
    case ConsoleEventAction::kEndInterrupted:
      // As Windows's own handler ends a process on Ctrl+C (Wine's ends it
      // with 0), the watchdog as it is.
      ExitProcess(kCtrlCExitStatus);
  }
  return FALSE;
}

BOOL WINAPI OnConsoleEvent(DWORD event) { return Act(event); }

extern "C" void OnStopSignal(int signal_number) {
  g_stop_requested = true;  // raised in the process itself, on the thread that reads keys
  std::signal(signal_number, OnStopSignal);  // the runtime resets it before the call
}

}  // namespace

int ReadKey() {
  if (g_stop_requested) return kNoMoreKeys;
  const int key = GetchThatAStopEnds();
  if (key == kCtrlC) {
    Act(kCtrlCEvent);
    return kNoMoreKeys;
  }
  if (key == kGetchFailed || key == kGetchFailedWide) return kNoMoreKeys;
  return key;
}

// On Windows the stops come from the console (console_events.h); SIGTERM
// only from the process itself. There is no request to suspend.
void CatchStopSignals(StopSignals which) {
  g_which = which;
  std::signal(SIGTERM, OnStopSignal);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool StopRequested() { return g_stop_requested; }

std::string_view HeldSuspension() { return {}; }

void SuspendIfRequested() {}

}  // namespace platform
