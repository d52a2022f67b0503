// The seam between the kernel watchdog backend and the system: the calls
// that it makes on a device node, and what a failed one means. Each
// platform's file (device_calls_linux.cpp, device_calls_none.cpp) gives the
// real calls; tests put a fake device behind them.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "watchdog_facts.h"
#include "wdtDLL.h"

namespace kdev {

using Clock = std::chrono::steady_clock;

// The watchdog ioctls that the backend uses; each takes an int argument.
enum class Request { kSetOptions, kSetTimeout, kGetTimeout, kGetTimeLeft, kKeepAlive, kSetPretimeout, kGetPretimeout };

// Arguments of kSetOptions, as the kernel's interface defines them.
inline constexpr int kDisableCard = 0x0001;
inline constexpr int kEnableCard = 0x0002;

// The magic character: written before a close, it lets the close stop an
// armed watchdog.
inline constexpr char kMagicClose = 'V';

// Each call returns what the system call returns, or the negated errno on
// failure (so a fake needs no errno of its own).
struct SystemCalls {
  // What the path is, without opening it: 1 a character device (its numbers
  // in *numbers), 0 anything else.
  int (*stat_device)(const char* path, sysfs::DeviceNumbers* numbers);
  // Write-only, without blocking and without taking a controlling terminal,
  // never as descriptor 0, 1 or 2. Opening a watchdog starts it.
  int (*open)(const char* path);
  int (*fstat_device)(int fd, sysfs::DeviceNumbers* numbers);  // as stat_device
  // The watchdog's read-only identification: fails on anything else.
  int (*identify)(int fd, std::string* identity);
  int (*ioctl)(int fd, Request request, int* argument);
  long (*write)(int fd, const char* data, std::size_t size);
  int (*close)(int fd);
  Clock::time_point (*now)();
  // Holds back (true) or lets through again (false) the signals that end
  // the process, on the calling thread.
  void (*hold_signals)(bool hold);
};

// The device's system calls on this platform (the platform's file).
SystemCalls DeviceSystemCalls();

// What a failed system call means to the program. One place for every errno.
// kSetValue: setting the timeout or the pretimeout.
enum class Failed { kOpen, kSetValue, kOther };
StatusCode StatusForErrno(Failed what, int error);

// The errno in words: "No such file or directory".
std::string ErrnoText(int error);

}  // namespace kdev
