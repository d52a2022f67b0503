// POSIX implementation of the platform layer.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <initializer_list>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include "platform.h"

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
// wakes a key read waiting in poll. Input that is not a terminal is read
// without a poll first (one read a key); a stop that comes between the flag's
// check and that read must not wait for the next key, so the handler puts
// the null device in standard input's place, whose read ends at once.
volatile std::sig_atomic_t g_stop_requested = 0;
int g_stop_pipe[2] = {-1, -1};
volatile std::sig_atomic_t g_plain_input = 0;
int g_null_input = -1;

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

void PutBack() {
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

// Puts the terminal back, then lets the signal do what it would have done.
// After a stop, a read under way goes on in raw mode once continued in the
// foreground.
extern "C" void RestoreTerminalAndReraise(int signal_number) {
  const int saved_errno = errno;
  if (g_raw_applied) PutBack();
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
  // No echo, no line editing; ISIG stays, so Ctrl+C still interrupts.
  g_raw_termios.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  g_raw_termios.c_cc[VMIN] = 1;
  g_raw_termios.c_cc[VTIME] = 0;
  const auto prepare = [](int signal_number) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN ||
        current.sa_handler == OnStopSignal) {
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
    const ssize_t n = read(STDIN_FILENO, &byte, 1);
    if (n == 1) return byte;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      wait_first = true;
      continue;
    }
    return kNoMoreKeys;
  }
}

void WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // closed or broken output: the run goes on
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

void Prepare() {
  // Descriptors 0, 1 and 2 are open before anything else is: a closed one
  // would be the next open's number, and a watchdog device opened there
  // would receive the program's output, each line a keepalive.
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);  // takes the lowest: fd
    }
  }
  std::signal(SIGPIPE, SIG_IGN);
}

int ReadKey() {
  // Asked and prepared once: a pipe's key then costs one read and nothing else.
  static const bool terminal = isatty(STDIN_FILENO) != 0 && PrepareTerminal();
  if (!terminal) {
    g_plain_input = 1;
    return ReadByte(false);
  }
  // Raw only for the read, so the terminal behaves as usual in between.
  g_reading = 1;
  const int key = ReadByte(true);
  g_reading = 0;
  if (g_raw_applied) PutBack();
  return key;
}

void Pause() {
  WriteOut("Press any key to continue . . . ");
  ReadKey();
  WriteOut("\n");
}

bool StartDetachedThread(void (*routine)(void*)) {
  // The new thread blocks every signal (it inherits the mask), so that the
  // handlers above run on this thread, the one that reads keys.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  bool started = true;
  try {
    std::thread(routine, nullptr).detach();
  } catch (const std::system_error&) {
    started = false;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return started;
}

void SleepMs(unsigned milliseconds) {
#ifdef WDT_INSTANT_SLEEP
  // Test build: every sleep returns at once, so a run takes milliseconds.
  (void)milliseconds;
#else
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
#endif
}

void WriteOut(std::string_view text) { WriteAll(STDOUT_FILENO, text); }

void WriteErr(std::string_view text) { WriteAll(STDERR_FILENO, text); }

void CatchStopSignals(StopSignals which) {
  if (g_stop_pipe[0] < 0 && pipe2(g_stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    g_stop_pipe[0] = g_stop_pipe[1] = -1;  // the flag alone still stops at the next read
  }
  if (g_null_input < 0) g_null_input = open("/dev/null", O_RDONLY | O_CLOEXEC);
  for (const int signal_number : {SIGHUP, SIGTERM, SIGINT}) {
    if (signal_number == SIGINT && which != StopSignals::kAlsoInterrupt) continue;
    if (!Ignored(signal_number)) Install(signal_number, OnStopSignal);
  }
}

bool StopRequested() { return g_stop_requested != 0; }

namespace {

int FileKind(const char* path) {
  struct stat status {};
  if (lstat(path, &status) != 0) return errno == ENOENT ? kNoFile : -errno;
  return S_ISREG(status.st_mode) ? kRegularFile : kOtherFile;
}

int CreateTemp(const char* folder, std::string* path) {
  std::string name = std::string(folder) + "/.wdt-check-XXXXXX";
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return -errno;
  *path = name;
  return fd;
}

long WriteBytes(int fd, const char* data, std::size_t size) {
  const ssize_t written = write(fd, data, size);
  return written < 0 ? -errno : static_cast<long>(written);
}

int Result(int result) { return result < 0 ? -errno : 0; }
int SyncFile(int fd) { return Result(fsync(fd)); }
int CloseFile(int fd) { return Result(close(fd)); }
int RenameFile(const char* from, const char* to) { return Result(rename(from, to)); }
int RemoveFile(const char* path) { return Result(unlink(path)); }

int SyncFolder(const char* folder) {
  const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -errno;
  const int synced = Result(fsync(fd));
  close(fd);
  return synced;
}

}  // namespace

FileCalls DurableFileCalls() {
  return {FileKind, CreateTemp, WriteBytes, SyncFile, CloseFile, RenameFile, RemoveFile, SyncFolder};
}

std::optional<std::string> BootIdentity() {
  std::ifstream in("/proc/sys/kernel/random/boot_id");
  std::string id;
  if (!std::getline(in, id) || id.empty()) return std::nullopt;
  return id;
}

std::optional<std::pair<unsigned, unsigned>> CharacterDevice(const char* path) {
  struct stat status {};
  if (stat(path, &status) != 0 || !S_ISCHR(status.st_mode)) return std::nullopt;
  return std::pair{major(status.st_rdev), minor(status.st_rdev)};
}

}  // namespace platform
