// The kernel watchdog device's system calls on Linux.
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <linux/watchdog.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "device_calls.h"

namespace kdev {
namespace {

static_assert(kDisableCard == WDIOS_DISABLECARD && kEnableCard == WDIOS_ENABLECARD);

// Never blocks (a FIFO without a reader fails with ENXIO instead of waiting
// for one), never makes a terminal the controlling one, and never lands on
// descriptor 0, 1 or 2, where the program's own output would go to it.
int Open(const char* path) {
  int fd = ::open(path, O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -errno;
  if (fd <= STDERR_FILENO) {
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int error = errno;
    ::close(fd);  // the other descriptor keeps the file open
    if (moved < 0) return -error;
    fd = moved;
  }
  return fd;
}

int CharacterDevice(const struct stat& status, sysfs::DeviceNumbers* numbers) {
  if (!S_ISCHR(status.st_mode)) return 0;
  *numbers = {major(status.st_rdev), minor(status.st_rdev)};
  return 1;
}

// stat, not lstat: a symbolic link such as /dev/watchdog -> watchdog0 is
// what it points to.
int StatDevice(const char* path, sysfs::DeviceNumbers* numbers) {
  struct stat status {};
  if (::stat(path, &status) != 0) return -errno;
  return CharacterDevice(status, numbers);
}

int FstatDevice(int fd, sysfs::DeviceNumbers* numbers) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return -errno;
  return CharacterDevice(status, numbers);
}

// WDIOC_GETSUPPORT reads the driver's description and changes nothing; any
// other device answers ENOTTY (or EINVAL).
int Identify(int fd, std::string* identity) {
  watchdog_info info {};
  if (::ioctl(fd, WDIOC_GETSUPPORT, &info) != 0) return -errno;
  identity->assign(reinterpret_cast<const char*>(info.identity),
                   strnlen(reinterpret_cast<const char*>(info.identity), sizeof info.identity));
  return 0;
}

unsigned long RequestCode(Request request) {
  switch (request) {
    case Request::kSetOptions: return WDIOC_SETOPTIONS;
    case Request::kSetTimeout: return WDIOC_SETTIMEOUT;
    case Request::kGetTimeout: return WDIOC_GETTIMEOUT;
    case Request::kGetTimeLeft: return WDIOC_GETTIMELEFT;
    case Request::kKeepAlive: return WDIOC_KEEPALIVE;
    case Request::kSetPretimeout: return WDIOC_SETPRETIMEOUT;
    case Request::kGetPretimeout: return WDIOC_GETPRETIMEOUT;
  }
  return 0;
}

int Ioctl(int fd, Request request, int* argument) {
  int unused = 0;
  const int result = ::ioctl(fd, RequestCode(request), argument != nullptr ? argument : &unused);
  return result < 0 ? -errno : result;
}

long Write(int fd, const char* data, std::size_t size) {
  const ssize_t written = ::write(fd, data, size);
  return written < 0 ? -errno : static_cast<long>(written);
}

// The descriptor is released even when close reports an error.
int Close(int fd) { return ::close(fd) < 0 ? -errno : 0; }

Clock::time_point Now() { return Clock::now(); }

// Every signal but those that a fault raises (blocking those is undefined);
// the mask before the hold is kept for its end. Called under the backend's
// lock, one hold at a time.
sigset_t g_mask_before_hold;

void HoldSignals(bool hold) {
  if (hold) {
    sigset_t ending;
    sigfillset(&ending);
    for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) sigdelset(&ending, fault);
    pthread_sigmask(SIG_BLOCK, &ending, &g_mask_before_hold);
  } else {
    pthread_sigmask(SIG_SETMASK, &g_mask_before_hold, nullptr);
  }
}

}  // namespace

SystemCalls DeviceSystemCalls() {
  return {.stat_device = StatDevice,
          .open = Open,
          .fstat_device = FstatDevice,
          .identify = Identify,
          .ioctl = Ioctl,
          .write = Write,
          .close = Close,
          .now = Now,
          .hold_signals = HoldSignals};
}

}  // namespace kdev
