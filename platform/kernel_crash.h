// What the reset proof's dead-kernel road needs from the system: whether the
// kernel can be crashed from here, its panic and sysrq settings, the crash
// itself; and when this boot began by the real-time clock, which keeps time
// across a reset where the monotonic clocks start again.
#pragma once

#include <optional>
#include <string>
#include <variant>

namespace platform {

// Empty, or why this kernel cannot be crashed from here: no sysrq, no right
// to write kernel.panic or the trigger.
std::string CrashRefusal();

// A kernel setting (kernel.panic, kernel.sysrq) as the kernel shows it, or
// nothing where it cannot be read.
std::optional<std::string> KernelSetting(const char* name);
// Empty, or why the setting was not written.
std::string SetKernelSetting(const char* name, const std::string& value);

// Syncs the file systems and crashes the kernel through sysrq ('c'), with
// sysrq enabled for the write where it is off. Returns only if the kernel
// lives on: why.
std::string CrashKernel();

// When this boot began, in seconds since the epoch: the real-time clock's
// time less the time since boot (CLOCK_BOOTTIME); or why no clock that
// keeps time across a reset says so (no RTC, or the system clock not set
// from it at boot, or the RTC more than 2 s from the system clock, which
// the crash's instant is on). The RTC counts whole seconds.
std::variant<double, std::string> BootBeganByRtc();

}  // namespace platform
