// POSIX implementation of the platform layer.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <system_error>
#include <thread>

#include <termios.h>
#include <unistd.h>

#include "platform.h"

namespace platform {
namespace {

// The terminal's own settings, saved once before the first raw read, and
// whether a read has the terminal in raw mode right now. The signal handlers
// read both, so they are plain data set before the handlers are installed.
termios g_saved_termios;
termios g_raw_termios;
volatile std::sig_atomic_t g_raw_active = 0;

// Only async-signal-safe calls here: put the terminal back, then let the
// signal do what it would have done.
extern "C" void RestoreTerminalAndReraise(int signal_number) {
  const int saved_errno = errno;
  if (g_raw_active) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_termios);
  if (signal_number == SIGTSTP) {
    // Stop with the terminal put back; once continued, resume the read in
    // raw mode.
    std::signal(SIGTSTP, SIG_DFL);
    sigset_t stop_set;
    sigemptyset(&stop_set);
    sigaddset(&stop_set, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop_set, nullptr);
    raise(SIGTSTP);
    std::signal(SIGTSTP, RestoreTerminalAndReraise);
    if (g_raw_active) tcsetattr(STDIN_FILENO, TCSANOW, &g_raw_termios);
    errno = saved_errno;
    return;
  }
  std::signal(signal_number, SIG_DFL);
  raise(signal_number);
  errno = saved_errno;
}

// Saves the terminal's settings and installs the handlers that put them back;
// called once, before the first read. Signals that the process was started
// ignoring stay ignored.
bool PrepareTerminal() {
  if (tcgetattr(STDIN_FILENO, &g_saved_termios) != 0) return false;
  g_raw_termios = g_saved_termios;
  // No echo, no line editing; ISIG stays, so Ctrl+C still interrupts.
  g_raw_termios.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  g_raw_termios.c_cc[VMIN] = 1;
  g_raw_termios.c_cc[VTIME] = 0;
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = RestoreTerminalAndReraise;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
  return true;
}

// One byte from standard input, or kNoMoreKeys once none can come.
int ReadByte() {
  unsigned char byte = 0;
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, &byte, 1);
    if (n == 1) return byte;
    if (n < 0 && errno == EINTR) continue;
    return kNoMoreKeys;
  }
}

}  // namespace

void Prepare() { std::signal(SIGPIPE, SIG_IGN); }

int ReadKey() {
  // Asked and prepared once: a pipe's key then costs one read and nothing else.
  static const bool terminal = isatty(STDIN_FILENO) != 0 && PrepareTerminal();
  if (!terminal) return ReadByte();
  // Raw only for the read, so the terminal behaves as usual in between.
  g_raw_active = 1;
  tcsetattr(STDIN_FILENO, TCSANOW, &g_raw_termios);
  const int key = ReadByte();
  tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_termios);
  g_raw_active = 0;
  return key;
}

void Pause() {
  WriteOut("Press any key to continue . . . ");
  ReadKey();
  WriteOut("\n");
}

void StartDetachedThread(void (*routine)(void*)) {
  try {
    std::thread(routine, nullptr).detach();
  } catch (const std::system_error&) {
    // Not started: the caller goes on without it.
  }
}

void SleepMs(unsigned milliseconds) {
#ifdef WDT_INSTANT_SLEEP
  // Test build: every sleep returns at once, so a run takes milliseconds.
  (void)milliseconds;
#else
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
#endif
}

void WriteOut(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(STDOUT_FILENO, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // closed or broken output: the run goes on
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace platform
