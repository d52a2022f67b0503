// The reset proof on a dead kernel (--hang): the refusals before anything is
// armed, and the verdict on the reset's timing after it, on the clocks that
// survive a reset. The crash itself is a check (checks.h, hang.cpp).
#pragma once

#include <string>
#include <variant>

#include "record.h"
#include "report.h"
#include "settings.h"

namespace check {

// The real-time clock counts whole seconds: the boot's instant by it is this
// far either way.
inline constexpr double kRtcResolution = 1;
// The next boot's instant comes after the reset by the firmware's time and
// the kernel's own start before its clocks count, which the machine cannot
// measure: allowed this much against the window's end, never its start (a
// QEMU VM under load took 19 s).
inline constexpr double kFirmwareAllowance = 20;

// Empty, or why --hang refuses this run: no kernel device that sysfs knows
// (the simulated watchdog), a software watchdog, or the kernel's own refusal
// (no sysrq, no rights), given.
std::string HangRefusal(const Settings& settings, const std::string& kernel_refusal);

// The on-time verdict on a dead kernel's record: the reset came after the
// crash and no later than the next boot began, by the real-time clock
// (seconds since the epoch, or why no clock keeps time across a reset).
Check JudgeOnTimeAfterHang(const ResetRecord& record, const std::variant<double, std::string>& boot_began);

}  // namespace check
