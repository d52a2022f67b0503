// After a dead kernel's reset, its timing judged on the clocks that survive
// a reset: the crash (the record's last instant alive) and the next boot's
// beginning by the real-time clock, whose whole seconds bound it either way.
// The firmware's time before the kernel is in the boot's instant: it counts
// against the window's end, not its start. A wall-clock step between the two
// boots cannot be seen from one machine: the bound rests on the RTC.
#include <string>
#include <vector>

#include "judged.h"
#include "parse.h"
#include "reset_proof/hang.h"

namespace check {

using wdt::Fixed;

Check JudgeOnTimeAfterHang(const ResetRecord& record, const std::variant<double, std::string>& boot_began) {
  if (const std::string* why = std::get_if<std::string>(&boot_began)) {
    return Skipped("on-time", "not judged: " + *why + ", and no other clock keeps time across a reset");
  }
  const double died = record.crashed_s;
  // Anchored at the crash, which the record holds on both clocks.
  const double booted = std::get<double>(boot_began) - record.crashed_at + died;
  const double from = record.window_from_s;
  const double until = record.window_until_s;
  const double latest = booted + kRtcResolution;
  const std::vector<Figure> figures = {{"last_alive_s", Fixed(died, 3)},
                                       {"window_from_s", Fixed(from, 3)},
                                       {"window_until_s", Fixed(until, 3)},
                                       {"delay_s", Fixed(booted, 3)},
                                       {"delay_from_s", Fixed(died, 3)},
                                       {"delay_until_s", Fixed(latest, 3)},
                                       {"bound_s", Fixed(latest - died, 3)}};
  const std::string booted_at = Fixed(booted, 1) + " s";
  const std::string by_rtc = "by the real-time clock, to within " + Short(kRtcResolution) + " s";
  const std::string window = " (the reset was due from " + Short(from) + " s to " + Short(until) + " s)";
  const std::string rests = "; this bound rests on the real-time clock: a wall-clock step between the two boots "
                            "cannot be seen from one machine";
  if (latest < from) {
    return Judged("on-time", false, "reset early, not the watchdog's: the kernel died " + Fixed(died, 2) +
                                        " s and the next boot began " + booted_at + " after the last reload (" +
                                        by_rtc + ")" + window + rests,
                  figures, Evidence::kRecord);
  }
  if (booted - kRtcResolution > until + kFirmwareAllowance) {
    return Judged("on-time", false, "reset late: the next boot began " + booted_at + " after the last reload (" +
                                        by_rtc + "), after the window closed and " + Short(kFirmwareAllowance) +
                                        " s more for the firmware" + window + rests,
                  figures, Evidence::kRecord);
  }
  return Judged("on-time", true, "the reset came between " + Fixed(died, 2) + " s (the kernel died) and " +
                                     booted_at + " (the next boot began, " + by_rtc + ") after the last reload" +
                                     window + rests +
                                     (booted - kRtcResolution > until ? "; it began after the window closed: the "
                                                                        "firmware's time before the kernel is allowed"
                                                                      : ""),
                figures, Evidence::kRecord);
}

}  // namespace check
