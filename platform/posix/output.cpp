// POSIX whole-line output: standard output and error written whole and at
// once, what a blocked reader cannot take kept in order for the next write,
// and the wait for it at the end of a run. Prepare sets the outputs up.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "light_lock.h"
#include "platform.h"
#include "stop_wake.h"

namespace platform {
namespace {

// The outputs' writes go straight to the kernel, without the C library's
// cancellation point around each: with the monitor's thread running, that
// costs more than the rest of a key, and no thread here is ever cancelled.
// Errors, and a signal's wake-up, are as with write.
ssize_t RawWrite(int fd, const void* data, std::size_t size) {
  return syscall(SYS_write, fd, data, size);
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
  pollfd fds[2] = {{nap ? -1 : out.fd, POLLOUT, 0}, {posix::StopWakeDescriptor(), POLLIN, 0}};
  int timeout_ms = static_cast<int>(limit.count());
  if (nap && (timeout_ms < 0 || timeout_ms > 10)) timeout_ms = 10;
  poll(fds, 2, timeout_ms);
}

// Once much is kept: a reader that is merely slow is waited for, a second at
// most, and never once a stop came: the caller may have a watchdog to disarm.
void WaitToKeep(Output& out, std::string_view text) {
  const auto give_up = std::chrono::steady_clock::now() + kWaitForReader;
  bool took = true;
  while (!out.stuck && !StopRequested()) {
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
  while (out.kept > 0 && out.written < end && !StopRequested()) {
    Unlocked(out, [&] { AwaitReader(out, std::chrono::milliseconds(-1), !took); });
    took = Flush(out);
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
  SetUp(g_out);
  SetUp(g_err);
}

void WriteOut(std::string_view text) { Write(g_out, text); }

void WriteErr(std::string_view text) { Write(g_err, text); }

void FinishOutput() {
  Finish(g_out);
  Finish(g_err);
}

}  // namespace platform
