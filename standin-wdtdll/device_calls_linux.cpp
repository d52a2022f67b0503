// The kernel watchdog device's system calls on Linux.
#include <cerrno>

#include <fcntl.h>
#include <linux/watchdog.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "kernel_watchdog.h"

namespace kdev {
namespace {

static_assert(kDisableCard == WDIOS_DISABLECARD && kEnableCard == WDIOS_ENABLECARD);

int Open(const char* path) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  return fd < 0 ? -errno : fd;
}

unsigned long RequestCode(Request request) {
  switch (request) {
    case Request::kSetOptions: return WDIOC_SETOPTIONS;
    case Request::kSetTimeout: return WDIOC_SETTIMEOUT;
    case Request::kGetTimeout: return WDIOC_GETTIMEOUT;
    case Request::kGetTimeLeft: return WDIOC_GETTIMELEFT;
    case Request::kKeepAlive: return WDIOC_KEEPALIVE;
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

}  // namespace

SystemCalls DeviceSystemCalls() { return {Open, Ioctl, Write, Close, Now}; }

}  // namespace kdev
