// POSIX keys and stop signals: the key read in raw mode, the terminal put
// back on every road (also by the handlers of the signals that end or stop
// the process), and the signals that ask for a clean stop, the held request
// to suspend among them. They share the state below: the handlers read it.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <initializer_list>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include "platform.h"
#include "stop_wake.h"

namespace platform {
namespace {

// The terminal's own settings, saved once before the first raw read; whether
// a key read is under way, and whether the terminal is in raw mode right
// now. The signal handlers read them. Every asynchronous signal is blocked
// in the program's other threads, so the handlers run on the thread that
// reads keys, and plain sig_atomic_t flags suffice.
termios g_saved_termios;
termios g_raw_termios;
volatile std::sig_atomic_t g_reading = 0;
volatile std::sig_atomic_t g_raw_applied = 0;

// A clean stop asked for by a signal: the flag, and a byte in a pipe that
// wakes a key read or an output waiting in poll (it is never read: once a
// stop came, it stays readable). Input that is not a terminal is read
// without a poll first (one read a key); a stop that comes between the flag's
// check and that read must not wait for the next key, so the handler puts
// the null device in standard input's place, whose read ends at once. The
// flags are atomic: the monitor's thread reads the stop flag when it writes.
std::atomic<int> g_stop_requested = 0;
std::atomic<int> g_held_suspension = 0;  // the request to suspend, held back
static_assert(std::atomic<int>::is_always_lock_free, "set in signal handlers");
int g_stop_pipe[2] = {-1, -1};
volatile std::sig_atomic_t g_plain_input = 0;
int g_null_input = -1;

// The key loop's read goes straight to the kernel, without the C library's
// cancellation point around it: with the monitor's thread running, that
// costs more than the rest of a key, and no thread here is ever cancelled.
// Errors, and a signal's wake-up, are as with read.
ssize_t RawRead(int fd, void* data, std::size_t size) { return syscall(SYS_read, fd, data, size); }

// Only the process group in the terminal's foreground touches its settings:
// a background job that did so would take the echo from the shell. A
// terminal that is not the session's controlling one has no foreground.
bool InForeground() {
  const pid_t foreground = tcgetpgrp(STDIN_FILENO);
  return foreground == getpgrp() || (foreground < 0 && errno == ENOTTY);
}

void ApplyRaw() {
  g_raw_applied = 1;  // first: a signal in between still puts it back
  tcsetattr(STDIN_FILENO, TCSANOW, &g_raw_termios);
}

void RestoreTerminal() {
  tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_termios);
  g_raw_applied = 0;
}

void Install(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a key read wakes up and looks again
  sigaction(signal_number, &action, nullptr);
}

bool Ignored(int signal_number) {
  struct sigaction current {};
  return sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

// Only async-signal-safe calls in the handlers.
extern "C" void OnStopSignal(int /*signal_number*/) {
  const int saved_errno = errno;
  g_stop_requested = 1;
  if (g_plain_input && g_null_input >= 0) dup2(g_null_input, STDIN_FILENO);
  const char wake = 0;
  if (g_stop_pipe[1] >= 0 && write(g_stop_pipe[1], &wake, 1) < 0) {
    // The pipe is full: a wake-up is pending already.
  }
  errno = saved_errno;
}

extern "C" void OnSuspendSignal(int signal_number) {
  int none = 0;
  g_held_suspension.compare_exchange_strong(none, signal_number);
  OnStopSignal(signal_number);
}

const std::initializer_list<int> kSuspendSignals = {SIGTSTP, SIGTTIN, SIGTTOU};

// Puts the terminal back, then lets the signal do what it would have done.
// After a stop, a read under way goes on in raw mode once continued in the
// foreground.
extern "C" void RestoreTerminalAndReraise(int signal_number) {
  const int saved_errno = errno;
  if (g_raw_applied) RestoreTerminal();
  std::signal(signal_number, SIG_DFL);
  if (signal_number == SIGTSTP || signal_number == SIGTTIN || signal_number == SIGTTOU) {
    sigset_t stop_set;
    sigemptyset(&stop_set);
    sigaddset(&stop_set, signal_number);
    sigprocmask(SIG_UNBLOCK, &stop_set, nullptr);
    raise(signal_number);  // stopped here until continued
    Install(signal_number, RestoreTerminalAndReraise);
    if (g_reading && InForeground()) ApplyRaw();
  } else {
    raise(signal_number);  // delivered, with its default action, on return
  }
  errno = saved_errno;
}

// Every signal whose default action ends or stops the process and that can
// be caught.
const std::initializer_list<int> kEndingSignals = {
    SIGINT,  SIGQUIT, SIGHUP,  SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU,
    SIGXFSZ, SIGSYS,  SIGTRAP, SIGABRT, SIGBUS,  SIGFPE,  SIGILL,  SIGSEGV,   SIGTSTP, SIGTTIN,
    SIGTTOU,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

// Saves the terminal's settings and installs the handlers that put them back;
// called once, before the first read. Signals that the process was started
// ignoring stay ignored, and those caught for a clean stop stay caught.
bool PrepareTerminal() {
  if (tcgetattr(STDIN_FILENO, &g_saved_termios) != 0) return false;
  g_raw_termios = g_saved_termios;
  // No echo, no line editing, no output flow control: Ctrl+S and Ctrl+Q are
  // keys like any other (and the kernel restarts output that an earlier
  // Ctrl+S stopped). ISIG stays, so Ctrl+C still interrupts.
  g_raw_termios.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  g_raw_termios.c_iflag &= ~static_cast<tcflag_t>(IXON);
  g_raw_termios.c_cc[VMIN] = 1;
  g_raw_termios.c_cc[VTIME] = 0;
  const auto prepare = [](int signal_number) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN ||
        current.sa_handler == OnStopSignal || current.sa_handler == OnSuspendSignal) {
      return;
    }
    Install(signal_number, RestoreTerminalAndReraise);
  };
  for (const int signal_number : kEndingSignals) prepare(signal_number);
#ifdef SIGRTMIN
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    prepare(signal_number);
  }
#endif
  return true;
}

// One byte from standard input, or kNoMoreKeys once none can come or a stop
// was asked for. A non-blocking input (left so by an earlier program) is
// waited for, not taken for its end.
int ReadByte(bool terminal) {
  unsigned char byte = 0;
  bool wait_first = terminal;  // a terminal's read waits in poll, to wake on a stop
  for (;;) {
    if (g_stop_requested) return kNoMoreKeys;
    if (terminal && !g_raw_applied && InForeground()) ApplyRaw();
    // In the background the read itself stops the process (SIGTTIN) until
    // it is brought to the foreground, or fails where it cannot be stopped.
    if (wait_first && (!terminal || g_raw_applied)) {
      pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {g_stop_pipe[0], POLLIN, 0}};
      if (poll(fds, g_stop_pipe[0] >= 0 ? 2 : 1, -1) < 0) {
        if (errno == EINTR) continue;
        return kNoMoreKeys;
      }
      if (fds[1].revents != 0) continue;  // a stop: the flag is set
    }
    const ssize_t n = RawRead(STDIN_FILENO, &byte, 1);
    if (n == 1) return byte;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      wait_first = true;
      continue;
    }
    return kNoMoreKeys;
  }
}

// Whether standard input is a terminal, asked once, before the first key;
// a terminal's settings are then saved, a pipe's read made ready for a stop.
// This and the next are out of line, so that a pipe's key, ReadKey's own
// road, saves no registers for them.
[[gnu::noinline]] bool FirstLookAtInput() {
  const bool terminal = isatty(STDIN_FILENO) != 0 && PrepareTerminal();
  g_plain_input = !terminal;
  return terminal;
}

// Raw only for the read, so the terminal behaves as usual in between.
[[gnu::noinline]] int ReadTerminalKey() {
  g_reading = 1;
  const int key = ReadByte(true);
  g_reading = 0;
  if (g_raw_applied) RestoreTerminal();
  return key;
}

}  // namespace

int posix::StopWakeDescriptor() { return g_stop_pipe[0]; }

int ReadKey() {
  // Asked and prepared once: a pipe's key then costs one read and nothing else.
  static const bool terminal = FirstLookAtInput();
  if (terminal) return ReadTerminalKey();
  // A byte at once; anything else (a stop, the end, an interrupted or a
  // non-blocking read) takes the careful road.
  unsigned char byte = 0;
  if (g_stop_requested == 0 && RawRead(STDIN_FILENO, &byte, 1) == 1) return byte;
  return ReadByte(false);
}

void CatchStopSignals(StopSignals which) {
  if (g_stop_pipe[0] < 0 && pipe2(g_stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    g_stop_pipe[0] = g_stop_pipe[1] = -1;  // the flag alone still stops at the next read
  }
  if (g_null_input < 0) g_null_input = open("/dev/null", O_RDONLY | O_CLOEXEC);
  for (const int signal_number : {SIGHUP, SIGTERM, SIGINT}) {
    if (signal_number == SIGINT && which == StopSignals::kHangUpAndTerminate) continue;
    if (!Ignored(signal_number)) Install(signal_number, OnStopSignal);
  }
  if (which != StopSignals::kAlsoInterruptAndSuspend) return;
  for (const int signal_number : kSuspendSignals) {
    if (!Ignored(signal_number)) Install(signal_number, OnSuspendSignal);
  }
}

bool StopRequested() { return g_stop_requested != 0; }

std::string_view HeldSuspension() {
  switch (g_held_suspension) {
    case SIGTSTP: return "SIGTSTP";
    case SIGTTIN: return "SIGTTIN";
    case SIGTTOU: return "SIGTTOU";
    default: return {};
  }
}

void SuspendIfRequested() {
  // Held back while the handlers give way, so that a request that comes
  // meanwhile and the held one suspend the process once, not twice.
  sigset_t suspend, previous;
  sigemptyset(&suspend);
  for (const int signal_number : kSuspendSignals) sigaddset(&suspend, signal_number);
  pthread_sigmask(SIG_BLOCK, &suspend, &previous);
  for (const int signal_number : kSuspendSignals) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == OnSuspendSignal) {
      std::signal(signal_number, SIG_DFL);
    }
  }
  if (const int held = g_held_suspension; held != 0) raise(held);
  // Stopped here until continued; a process group that no shell watches
  // (orphaned) is not stopped at all.
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace platform
