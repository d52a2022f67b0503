// The reset proof's second half, after the machine came back: the record
// read, then the verdicts on it, each judged without a clock: whether the
// machine booted anew, whether the reset came within the window (no earlier,
// and no "no reset"), and whether the driver says that the watchdog caused
// it (its boot status, where it keeps one).
#pragma once

#include <optional>
#include <string>

#include "record.h"
#include "report.h"
#include "watchdog_facts.h"

namespace check {

Check JudgeRebooted(const ResetRecord& record, const std::optional<std::string>& boot_id);
Check JudgeOnTime(const ResetRecord& record);
Check JudgeCause(const ResetRecord& record, const std::optional<sysfs::Facts>& device);

}  // namespace check
