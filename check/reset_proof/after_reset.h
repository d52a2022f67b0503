// The reset proof's second half, after the machine came back: the record
// read, then the verdicts on it, each judged without a clock: whether the
// machine booted anew, whether the reset came within the window (no earlier,
// and no "no reset"), and whether the driver says that the watchdog caused
// it (its boot status, where it keeps one).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "record.h"
#include "report.h"
#include "seam.h"
#include "settings.h"
#include "watchdog_description.h"
#include "watchdog_facts.h"

namespace check {

Check JudgeRebooted(const ResetRecord& record, const std::optional<std::string>& boot_id);
// boot_began: the next boot's beginning by the real-time clock (seconds since
// the epoch), or why it is not known: it confirms an early verdict, which the
// beats alone cannot tell from a checker held up, or the verdict says not.
Check JudgeOnTime(const ResetRecord& record,
                  const std::variant<double, std::string>& boot_began = std::string("no real-time clock was read"));
// The watchdog that a record names: its device as sysfs shows it now, where
// it is still the same watchdog; the linked library's, as it describes it.
Watchdog RecordedWatchdog(const ResetRecord& record, const Settings& settings,
                          const std::function<std::optional<sysfs::Facts>(const std::string&)>& facts_of);
// The watchdog that a run checks: after a reset, the one that its record
// names, where it can be read; else the library's.
Watchdog WatchdogChecked(const Settings& settings, const Seam& seam);
Check JudgeCause(const ResetRecord& record, const std::optional<sysfs::Facts>& device);

}  // namespace check
