// POSIX implementation of the platform layer.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <initializer_list>
#include <mutex>
#include <system_error>
#include <thread>

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include "kernel_log_record.h"
#include "light_lock.h"
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

// The key loop's read and the outputs' writes go straight to the kernel,
// without the C library's cancellation point around each: with the monitor's
// thread running, that costs more than the rest of a key, and no thread here
// is ever cancelled. Errors, and a signal's wake-up, are as with read and
// write.
ssize_t RawRead(int fd, void* data, std::size_t size) { return syscall(SYS_read, fd, data, size); }

ssize_t RawWrite(int fd, const void* data, std::size_t size) {
  return syscall(SYS_write, fd, data, size);
}

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

void WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = RawWrite(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // closed or broken output: the run goes on
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Standard output and error. Where a write could block (a terminal, a pipe
// or FIFO, a socket), each is written without blocking: a terminal or a pipe
// through a description of its own, reopened through /proc/self/fd with
// O_NONBLOCK (the description shared with the shell keeps its flags: the
// shell and the programs after this one rely on them), a socket with
// MSG_DONTWAIT. What the output cannot take now is kept, in order, in a fixed
// buffer (no allocation, and nothing torn down at exit while the monitor
// writes) and goes out with the next write; one write a line on the way that
// does not block. A file or the null device never blocks and is written as
// before; so is an output that cannot be reopened (no /proc, another user's
// pipe): there a blocked reader still holds the writer.
constexpr std::size_t kKeptBytes = 64 * 1024;
constexpr char kDroppedNote[] = "[lines dropped: the output was blocked]\n";
constexpr std::size_t kRoom = kKeptBytes - (sizeof kDroppedNote - 1);  // the rest for the note
constexpr auto kWaitForReader = std::chrono::seconds(1);

// The lock that keeps the two threads' lines whole and guards what is kept;
// it is never held across a wait.
using Lock = wdt::LightLock;

struct Output {
  enum class Kind { kAsItIs, kOwn, kSocket };
  int fd;
  Kind kind = Kind::kAsItIs;
  Lock lock{};
  std::size_t kept = 0;
  std::uint64_t written = 0;  // bytes of the buffer written so far
  bool stuck = false;         // a wait for the reader ran out: no more waits until it moves
  bool noted = false;         // the last thing kept is the note
  char buffer[kKeptBytes] = {};
};
Output g_out{STDOUT_FILENO};
Output g_err{STDERR_FILENO};

// With the output's lock held: lets the other thread write while this one
// waits.
template <typename Wait>
void Unlocked(Output& out, Wait wait) {
  out.lock.unlock();
  wait();
  out.lock.lock();
}

void SetUp(Output& out) {
  struct stat status {};
  if (fstat(out.fd, &status) != 0) return;
  if (S_ISSOCK(status.st_mode)) {
    out.kind = Output::Kind::kSocket;
    return;
  }
  const bool terminal = S_ISCHR(status.st_mode) && isatty(out.fd) != 0;
  if (!terminal && !S_ISFIFO(status.st_mode)) return;
#ifdef TIOCGPTN
  // A terminal's master side: its path would open a new terminal.
  int number = 0;
  if (terminal && ioctl(out.fd, TIOCGPTN, &number) == 0) return;
#endif
  char path[32];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", out.fd);
  const int own = open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (own < 0) return;
  // Where such a path gives the same description (a dup), it stays as it is.
  if ((fcntl(own, F_GETFL) & O_NONBLOCK) == 0) {
    close(own);
    return;
  }
  out.fd = own;
  out.kind = Output::Kind::kOwn;
}

ssize_t WriteNow(const Output& out, const char* data, std::size_t size) {
  return out.kind == Output::Kind::kSocket ? send(out.fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL)
                                           : RawWrite(out.fd, data, size);
}

bool Transient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

// One write of what is kept; whether the output took any of it. A closed or
// broken output has it dropped: the run goes on.
bool Flush(Output& out) {
  if (out.kept == 0) return false;
  const ssize_t n = WriteNow(out, out.buffer, out.kept);
  if (n < 0 && !Transient(errno)) out.kept = 0;
  if (n <= 0) return false;
  const auto taken = static_cast<std::size_t>(n);
  std::memmove(out.buffer, out.buffer + taken, out.kept - taken);
  out.kept -= taken;
  out.written += taken;
  out.stuck = false;
  return true;
}

bool Keep(Output& out, std::string_view text) {
  if (text.size() > kRoom - std::min(kRoom, out.kept)) return false;
  std::memcpy(out.buffer + out.kept, text.data(), text.size());
  out.kept += text.size();
  out.noted = false;
  return true;
}

// Waits without the lock until the output may take bytes, a stop comes or
// `limit` passes (negative: no limit). After the output was said to be ready
// and took nothing (a stopped terminal may say so), it only naps, so as not
// to spin.
void AwaitReader(const Output& out, std::chrono::milliseconds limit, bool nap) {
  pollfd fds[2] = {{nap ? -1 : out.fd, POLLOUT, 0}, {g_stop_pipe[0], POLLIN, 0}};
  int timeout_ms = static_cast<int>(limit.count());
  if (nap && (timeout_ms < 0 || timeout_ms > 10)) timeout_ms = 10;
  poll(fds, 2, timeout_ms);
}

// Once much is kept: a reader that is merely slow is waited for, a second at
// most, and never once a stop came: the caller may have a watchdog to disarm.
void WaitToKeep(Output& out, std::string_view text) {
  const auto give_up = std::chrono::steady_clock::now() + kWaitForReader;
  bool took = true;
  while (!out.stuck && g_stop_requested == 0) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(give_up - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      out.stuck = true;
      break;
    }
    Unlocked(out, [&] { AwaitReader(out, left, !took); });
    took = Flush(out);
    if (Keep(out, text)) return;
  }
  if (!out.noted) {
    std::memcpy(out.buffer + out.kept, kDroppedNote, sizeof kDroppedNote - 1);
    out.kept += sizeof kDroppedNote - 1;
    out.noted = true;
  }
}

// What a write did not take (n: what it took, or -1 and errno): kept, to go
// out with the next write. Out of line, as is the next one, so that a line
// that goes out at once costs only its write.
[[gnu::noinline]] void KeepRest(Output& out, std::string_view text, ssize_t n) {
  if (n < 0 && !Transient(errno)) return;  // closed or broken output: the run goes on
  if (n > 0) text.remove_prefix(static_cast<std::size_t>(n));
  if (!Keep(out, text)) WaitToKeep(out, text);
}

// A line behind what is kept already, which goes out first.
[[gnu::noinline]] void KeepBehind(Output& out, std::string_view text) {
  if (Keep(out, text)) {
    Flush(out);
    return;
  }
  WaitToKeep(out, text);
}

void Write(Output& out, std::string_view text) {
  if (out.kind == Output::Kind::kAsItIs) {
    WriteAll(out.fd, text);
    return;
  }
  if (text.empty()) return;
  const std::lock_guard locked(out.lock);
  if (out.kept != 0) {
    KeepBehind(out, text);
    return;
  }
  const ssize_t n = WriteNow(out, text.data(), text.size());
  if (n != static_cast<ssize_t>(text.size())) KeepRest(out, text, n);
}

void Finish(Output& out) {
  if (out.kind == Output::Kind::kAsItIs) return;
  const std::lock_guard locked(out.lock);
  // What is kept now, not what the monitor adds meanwhile.
  const std::uint64_t end = out.written + out.kept;
  bool took = true;
  while (out.kept > 0 && out.written < end && g_stop_requested == 0) {
    Unlocked(out, [&] { AwaitReader(out, std::chrono::milliseconds(-1), !took); });
    took = Flush(out);
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
  SetUp(g_out);
  SetUp(g_err);
}

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

void WriteOut(std::string_view text) { Write(g_out, text); }

void WriteErr(std::string_view text) { Write(g_err, text); }

void FinishOutput() {
  Finish(g_out);
  Finish(g_err);
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

int OpenExisting(const char* path) {
  const int fd = open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  return fd < 0 ? -errno : fd;
}

long WriteAt(int fd, const char* data, std::size_t size, std::size_t offset) {
  const ssize_t written = pwrite(fd, data, size, static_cast<off_t>(offset));
  return written < 0 ? -errno : static_cast<long>(written);
}

int SyncData(int fd) { return Result(fdatasync(fd)); }

}  // namespace

FileCalls DurableFileCalls() {
  return {FileKind,   CreateTemp, WriteBytes,   SyncFile, CloseFile, RenameFile,
          RemoveFile, SyncFolder, OpenExisting, WriteAt,  SyncData};
}

std::optional<std::string> BootIdentity() {
  std::ifstream in("/proc/sys/kernel/random/boot_id");
  std::string id;
  if (!std::getline(in, id) || id.empty()) return std::nullopt;
  return id;
}

namespace {

// A function pointer cast back to its own type, as wdtDLL.h defines it.
template <typename Function>
Function LibraryFunction(const char* name) {
  void* found = dlsym(RTLD_DEFAULT, name);
  Function function = nullptr;
  static_assert(sizeof function == sizeof found);
  std::memcpy(&function, &found, sizeof function);
  return function;
}

}  // namespace

wdt::Operations LibraryOperations() {
  wdt::Operations operations = wdt::LinkedOperations();
  operations.set_pretimeout = LibraryFunction<SetPretimeoutOperation>(WDT_SET_PRETIMEOUT_NAME);
  operations.accept_pretimeout = LibraryFunction<AcceptPretimeoutOperation>(WDT_ACCEPT_PRETIMEOUT_NAME);
  return operations;
}

namespace {
int g_kernel_log = -1;  // /dev/kmsg, read from where the watch began
}  // namespace

std::string WatchKernelLog() {
  if (g_kernel_log < 0) {
    g_kernel_log = open("/dev/kmsg", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (g_kernel_log < 0) return "/dev/kmsg: " + std::generic_category().message(errno);
  }
  if (lseek(g_kernel_log, 0, SEEK_END) < 0) return "/dev/kmsg: " + std::generic_category().message(errno);
  return {};
}

std::optional<std::chrono::steady_clock::time_point> KernelLogged(std::string_view message) {
  // One record a read (kernel_log_record.h). EPIPE: records were
  // overwritten; read on.
  char record[8192];
  for (int reads = 0; g_kernel_log >= 0 && reads < 1000; ++reads) {
    const ssize_t got = read(g_kernel_log, record, sizeof record - 1);
    if (got < 0 && errno == EPIPE) continue;
    if (got <= 0) break;
    const auto parsed = ParseKernelLogRecord(std::string_view(record, static_cast<std::size_t>(got)));
    if (!parsed || parsed->message != message) continue;
    // libstdc++'s steady clock is CLOCK_MONOTONIC, the clock of the stamps.
    return std::chrono::steady_clock::time_point(parsed->stamp);
  }
  return std::nullopt;
}

std::optional<std::pair<unsigned, unsigned>> CharacterDevice(const char* path) {
  struct stat status {};
  if (stat(path, &status) != 0 || !S_ISCHR(status.st_mode)) return std::nullopt;
  return std::pair{major(status.st_rdev), minor(status.st_rdev)};
}

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
