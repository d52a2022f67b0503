// The dead-kernel road has no Windows road: refused before anything is armed.
#include "kernel_crash.h"

namespace platform {

std::string CrashRefusal() { return "the kernel crash is Linux's (sysrq): not on Windows"; }
std::optional<std::string> KernelSetting(const char*) { return std::nullopt; }
std::string SetKernelSetting(const char*, const std::string&) { return "no kernel settings on Windows"; }
std::string CrashKernel() { return "the kernel crash is Linux's (sysrq): not on Windows"; }
std::variant<double, std::string> BootBeganByRtc() {
  return std::string("no real-time clock that this wdt-check reads on Windows");
}

}  // namespace platform
