// Platforms without kernel watchdog devices: every open finds no device, so a
// session asked for with WDT_DEVICE fails with status 2.
#include <cerrno>

#include "device_calls.h"

namespace kdev {
namespace {

int NoDevice(const char*) { return -ENODEV; }
int NoPath(const char*, sysfs::DeviceNumbers*) { return -ENODEV; }
int NoKind(int, sysfs::DeviceNumbers*) { return -ENODEV; }
int NoIdentity(int, std::string*) { return -ENODEV; }
int NoIoctl(int, Request, int*) { return -ENODEV; }
long NoWrite(int, const char*, std::size_t) { return -ENODEV; }
int NoClose(int) { return -ENODEV; }
Clock::time_point Now() { return Clock::now(); }
void NoSignals(bool) {}

}  // namespace

SystemCalls DeviceSystemCalls() {
  return {.stat_device = NoPath,
          .open = NoDevice,
          .fstat_device = NoKind,
          .identify = NoIdentity,
          .ioctl = NoIoctl,
          .write = NoWrite,
          .close = NoClose,
          .now = Now,
          .hold_signals = NoSignals};
}

}  // namespace kdev
