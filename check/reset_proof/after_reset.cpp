#include "reset_proof/after_reset.h"

#include <cmath>
#include <variant>
#include <vector>

#include "checks.h"
#include "judged.h"
#include "output.h"
#include "parse.h"
#include "printable.h"
#include "reset_proof/hang.h"
#include "reset_proof/reset_proof.h"
#include "reset_proof/suspend.h"
#include "run.h"

namespace check {

using wdt::Fixed;

Check Record(Run& run) {
  std::string text;
  ResetRecord& record = run.learned.record;
  if (const std::string failed = run.seam().reset.read_record(&text); !failed.empty()) {
    run.End("the record cannot be read: " + failed);
    return Judged("record", false, run.ended(), {}, Evidence::kRecord);
  }
  auto parsed = ParseRecord(text);
  if (const std::string* why = std::get_if<std::string>(&parsed)) {
    run.End("the record is " + *why);
    return Judged("record", false, run.ended(), {}, Evidence::kRecord);
  }
  record = std::get<ResetRecord>(std::move(parsed));
  run.Checked(RecordedWatchdog(record, run.settings(), run.seam().kernel.facts_of));
  if (record.state == ResetRecord::State::kAbandoned) {
    run.End("the wait for the reset was abandoned (a signal, a stop or a failure ended it)");
    return Judged("record", false, run.ended(), {}, Evidence::kRecord);
  }
  return Judged("record", true,
                wdt::Printable(record.device) +
                    (record.identity.empty() ? "" : " (" + wdt::Printable(record.identity) + ")") + ", armed " +
                    Whole(record.timeout_s) + " s, last reload at " + WallTime(record.reloaded_at),
                {{"timeout_s", Whole(record.timeout_s)}, {"reloaded_at", Fixed(record.reloaded_at, 3)}},
                Evidence::kRecord);
}

Watchdog RecordedWatchdog(const ResetRecord& record, const Settings& settings,
                          const std::function<std::optional<sysfs::Facts>(const std::string&)>& facts_of) {
  // The linked library's own watchdog: as the library describes it now.
  if (record.device == kLinkedLibrary) return settings.watchdog;
  Watchdog watchdog{.kind = Watchdog::Kind::kDevice, .node = record.device, .identity = record.identity};
  watchdog.software = record.identity == sysfs::kSoftwareIdentity;
  if (const std::optional<sysfs::Facts> now = facts_of ? facts_of(record.device) : std::nullopt;
      now && (record.identity.empty() || now->identity == record.identity)) {
    watchdog.driver = now->driver.value_or("");
    watchdog.software = watchdog.software || now->software;
  }
  return watchdog;
}

Watchdog WatchdogChecked(const Settings& settings, const Seam& seam) {
  if (settings.mode != Mode::kAfterReset) return settings.watchdog;
  std::string text;
  if (!seam.reset.read_record || !seam.reset.read_record(&text).empty()) return settings.watchdog;
  const auto parsed = ParseRecord(text);
  const ResetRecord* record = std::get_if<ResetRecord>(&parsed);
  return record != nullptr ? RecordedWatchdog(*record, settings, seam.kernel.facts_of) : settings.watchdog;
}

Check Rebooted(Run& run) {
  const auto& boot_id = run.seam().reset.boot_id;
  return JudgeRebooted(run.learned.record, boot_id ? boot_id() : std::nullopt);
}

Check OnTime(Run& run) {
  if (const auto& boot_began = run.seam().crash.boot_began; !run.learned.record.hang.empty()) {
    return JudgeOnTimeAfterHang(run.learned.record, boot_began ? boot_began() : "this wdt-check reads no RTC");
  }
  const auto& boot_began = run.seam().crash.boot_began;
  return JudgeOnTime(run.learned.record, boot_began ? boot_began() : "this wdt-check reads no RTC");
}

Check Cause(Run& run) {
  const auto& facts_of = run.seam().kernel.facts_of;
  return JudgeCause(run.learned.record, facts_of ? facts_of(run.learned.record.device) : std::nullopt);
}

Check JudgeRebooted(const ResetRecord& record, const std::optional<std::string>& boot_id) {
  if (!boot_id) return Skipped("rebooted", "this system gives no boot identity to compare");
  const std::vector<Figure> figures = {{"boot_before", JsonString(wdt::Printable(record.boot_id))},
                                       {"boot_now", JsonString(wdt::Printable(*boot_id))}};
  if (*boot_id == record.boot_id) {
    return Judged("rebooted", false, "the same boot (" + wdt::Printable(*boot_id) + "): the machine did not restart",
                  figures, Evidence::kRecord);
  }
  return Judged("rebooted", true,
                "booted anew: " + wdt::Printable(record.boot_id) + ", then " + wdt::Printable(*boot_id), figures,
                Evidence::kRecord);
}

namespace {

// Beats that stopped before the window opened say "early" as long as the
// checker kept its pace to the end: a write held up for seconds (an SD card's
// flush, a starved machine) would look the same. The next boot's beginning by
// the RTC, where it can be set beside the record, confirms it, or the verdict
// says that it does not.
std::string EarlyByTheRtc(const ResetRecord& record, const std::variant<double, std::string>& boot_began) {
  const double* began = std::get_if<double>(&boot_began);
  // A record on the wall clock, or a step while waiting, leaves the RTC's
  // instant nothing to be set beside.
  if (began == nullptr || !RecordLimits(record.version).empty() || std::abs(record.wall_step_s) > 1) return "";
  const double booted = *began - record.alive_at + record.alive_s;
  const std::string by_rtc = "the next boot began " + Fixed(booted, 1) +
                             " s after the last reload by the real-time clock (to within " + Short(kRtcResolution) + " s)";
  if (booted + kRtcResolution < record.window_from_s) return ", and " + by_rtc + ", which confirms it";
  return "; " + by_rtc + ", which cannot confirm it: a checker held up that long before the reset would look the same";
}

}  // namespace

Check JudgeOnTime(const ResetRecord& record, const std::variant<double, std::string>& boot_began) {
  const double alive = record.alive_s;
  const double from = record.window_from_s;
  const double until = record.window_until_s;
  const double bound = record.next_by_s - alive;
  std::vector<Figure> figures = {{"last_alive_s", Fixed(alive, 3)},
                                 {"window_from_s", Fixed(from, 3)},
                                 {"window_until_s", Fixed(until, 3)},
                                 {"delay_s", Fixed(alive + bound / 2, 3)},
                                 {"delay_from_s", Fixed(alive, 3)},
                                 {"delay_until_s", Fixed(record.next_by_s, 3)},
                                 {"bound_s", Fixed(bound, 3)}};
  if (std::optional<Check> asleep = JudgeResetAsleep(record, figures)) return *asleep;
  std::string notes = SleepNote(record, &figures);
  if (const std::string_view limits = RecordLimits(record.version); !limits.empty()) {
    notes += "; a version " + std::to_string(record.version) + " record, judged on what it holds: " +
             std::string(limits);
  } else if (std::abs(record.wall_step_s) > 1) {
    notes += "; the wall clock was set " + std::string(record.wall_step_s < 0 ? "back " : "forward ") +
             Fixed(std::abs(record.wall_step_s), 0) + " s while waiting, which judges nothing";
  }
  const std::string window = " (the reset was due from " + Short(from) + " s to " + Short(until) + " s)";
  if (record.state == ResetRecord::State::kNoReset) {
    return Judged("on-time", false, "still alive when the window closed, " + Short(until) +
                                        " s after the last reload: the watchdog did not reset the machine" + notes,
                  figures, Evidence::kRecord);
  }
  if (alive < from) {
    return Judged("on-time", false, "reset early: last seen alive " + Fixed(alive, 1) + " s after the last reload" +
                                        window + EarlyByTheRtc(record, boot_began) + notes,
                  figures, Evidence::kRecord);
  }
  if (alive > until) {
    return Judged("on-time", false, "reset late: seen alive " + Fixed(alive, 1) +
                                        " s after the last reload, after the window closed" + window + notes,
                  figures, Evidence::kRecord);
  }
  return Judged("on-time", true,
                "reset between " + Fixed(alive, 2) + " s and " + Fixed(record.next_by_s, 2) +
                    " s after the last reload (bound " + Fixed(bound, 2) + " s; the reset was due from " + Short(from) +
                    " s to " + Short(until) + " s)" + notes,
                figures, Evidence::kRecord);
}

Check JudgeCause(const ResetRecord& record, const std::optional<sysfs::Facts>& device) {
  if (!device) return Skipped("cause", "no boot status: sysfs knows no watchdog at " + wdt::Printable(record.device));
  if (!record.identity.empty() && device->identity && *device->identity != record.identity) {
    return Skipped("cause", "no boot status: " + wdt::Printable(record.device) + " is now another watchdog (" +
                                wdt::Printable(*device->identity) + ")");
  }
  if (!device->bootstatus) return Skipped("cause", "no boot status: the driver reports none");
  const std::uint32_t status = *device->bootstatus;
  const std::vector<Figure> figures = {{"bootstatus", Whole(status)}};
  if ((status & sysfs::kCardReset) != 0) {
    return Judged("cause", true, "the watchdog reset the machine (boot status: " + sysfs::BootStatusText(status) + ")",
                  figures);
  }
  if (status == 0) {
    return Skipped("cause", "the driver keeps no cause (boot status 0), as softdog and iTCO_wdt do");
  }
  return Judged("cause", false, "the machine started for another reason: " + sysfs::BootStatusText(status), figures);
}

}  // namespace check
