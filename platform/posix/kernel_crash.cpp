// The dead-kernel road on Linux: /proc/sysrq-trigger, /proc/sys/kernel and
// the real-time clock in sysfs.
#include "kernel_crash.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr const char* kTrigger = "/proc/sysrq-trigger";
constexpr const char* kRtc = "/sys/class/rtc/rtc0";

std::string SettingPath(const char* name) { return std::string("/proc/sys/kernel/") + name; }

// One write(2) of text to a kernel file: "" or what failed, with the
// kernel's error.
std::string WriteOnce(const std::string& path, std::string_view text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return "cannot open " + path + ": " + std::strerror(errno);
  const ssize_t wrote = write(fd, text.data(), text.size());
  const int error = errno;
  close(fd);
  if (wrote != static_cast<ssize_t>(text.size())) return "cannot write " + path + ": " + std::strerror(error);
  return {};
}

std::optional<std::string> FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  return line;
}

}  // namespace

std::string CrashRefusal() {
  if (access(kTrigger, F_OK) != 0) return "this kernel has no sysrq (no /proc/sysrq-trigger): it cannot be crashed";
  for (const std::string& path : {SettingPath("panic"), SettingPath("sysrq"), std::string(kTrigger)}) {
    if (access(path.c_str(), W_OK) != 0) {
      return "cannot write " + path + ": " + std::strerror(errno) + " (the crash needs root)";
    }
  }
  return {};
}

std::optional<std::string> KernelSetting(const char* name) { return FirstLine(SettingPath(name)); }

std::string SetKernelSetting(const char* name, const std::string& value) {
  return WriteOnce(SettingPath(name), value + "\n");
}

std::string CrashKernel() {
  // Whatever the crash loses, the record is on disk already: flushed anyway.
  sync();
  // sysrq's mask governs the keyboard; a write to the trigger needs only
  // sysrq on (any value but 0), as some kernels read it.
  if (const auto sysrq = KernelSetting("sysrq"); !sysrq || *sysrq == "0") {
    if (std::string failed = SetKernelSetting("sysrq", "1"); !failed.empty()) return failed;
  }
  if (std::string failed = WriteOnce(kTrigger, "c"); !failed.empty()) return failed;
  return std::string("the write of 'c' to ") + kTrigger + " returned: the kernel did not crash";
}

std::variant<double, std::string> BootBeganByRtc() {
  const std::string rtc = kRtc;
  const auto hctosys = FirstLine(rtc + "/hctosys");
  if (!hctosys) return std::string("no real-time clock (no ") + kRtc + ")";
  if (*hctosys != "1") return std::string("the system clock was not set from the real-time clock at boot (hctosys 0)");
  const auto since_epoch = FirstLine(rtc + "/since_epoch");
  timespec boot{};
  timespec wall{};
  if (!since_epoch || clock_gettime(CLOCK_BOOTTIME, &boot) != 0 || clock_gettime(CLOCK_REALTIME, &wall) != 0) {
    return std::string("the real-time clock cannot be read");
  }
  double rtc_time = 0;
  try {
    rtc_time = std::stod(*since_epoch);
  } catch (const std::exception&) {
    return "the real-time clock reads '" + *since_epoch + "'";
  }
  // The crash is on the system clock: an RTC that keeps another time (local
  // time, or one that drifted) would move the boot's instant by as much.
  if (const double apart = rtc_time - static_cast<double>(wall.tv_sec); apart > 2 || apart < -2) {
    return "the real-time clock is " + std::to_string(static_cast<long>(apart)) +
           " s from the system clock (it keeps another time)";
  }
  return rtc_time - (static_cast<double>(boot.tv_sec) + static_cast<double>(boot.tv_nsec) * 1e-9);
}

}  // namespace platform
