// The road of the reset proof across a sleep: after the last reload, the
// record says that the machine is about to sleep (its last beat is the
// sleep's entry) and it sleeps for longer than the timeout, woken by the
// RTC's wake alarm. A watchdog that counts through the sleep resets it then.
// Once awake, it is reloaded once, its time left must count down again where
// the driver reports it, and it is left to run out (expire.cpp): a watchdog
// that the resume killed resets nothing.
#include <algorithm>
#include <utility>

#include "checks.h"
#include "judged.h"
#include "parse.h"
#include "reset_proof/reset_proof.h"
#include "reset_proof/suspend.h"
#include "run.h"

namespace check {
namespace {

// "mem (deep)": what the state meant, as /sys/power/mem_sleep chose.
std::string Kind(const Settings& settings, const Seam::Sleep& sleep) {
  const std::string mem = settings.suspend == "mem" && sleep.mem_sleep ? sleep.mem_sleep() : "";
  return settings.suspend + (mem.empty() ? "" : " (" + mem + ")");
}

}  // namespace

Check Suspend(Run& run) {
  if (run.Stop()) return run.Stopped("suspend");
  if (!run.learned.reload_took) return Skipped("suspend", "the last reload did not read back: not worth a sleep");
  // The sleep is a gap on purpose: no stall.
  run.Release();
  const Seam& seam = run.seam();
  const Settings& settings = run.settings();
  ResetRecord& record = run.learned.record;
  const std::uint32_t length = SleepFor(settings);
  const std::string kind = Kind(settings, seam.sleep);
  // On disk before the sleep: the state, its length and its entry, the last beat.
  const Clock::time_point entry = seam.time.now();
  record.suspend = settings.suspend;
  record.suspend_for_s = length;
  record.suspend_at_s = record.alive_s = std::max(Seconds(entry - run.learned.reloaded_at), 0.001);
  record.alive_at = seam.reset.wall_now();
  record.next_by_s = record.alive_s + length;
  if (!WriteRecord(run)) return run.Stopped("suspend");
  std::string previous;
  if (const std::string failed = seam.sleep.set_wake_alarm(length, &previous); !failed.empty()) {
    seam.sleep.put_back_wake_alarm(previous);
    run.End("the wake alarm was not set: " + failed);
    return run.Stopped("suspend");
  }
  seam.output.said("sleeping (" + kind + ") for " + Whole(length) + " s, " + wdt::Fixed(record.alive_s, 1) +
                   " s after the last reload, armed " + Whole(settings.timeout) + " s");
  const double boot_before = seam.sleep.boot_clock();
  const std::string failed = seam.sleep.sleep(settings.suspend);
  const Clock::time_point woke = seam.time.now();
  const double slept = seam.sleep.boot_clock() - boot_before - Seconds(woke - entry);
  if (const std::string put_back = seam.sleep.put_back_wake_alarm(previous); !put_back.empty()) {
    seam.output.said("the wake alarm was not put back: " + put_back);
  }
  if (!failed.empty()) {
    run.End("the machine did not sleep: " + failed);
    return run.Stopped("suspend");
  }
  record.slept_s = std::max(slept, 0.001);
  const std::vector<Figure> figures = {{"slept_s", wdt::Fixed(slept, 3)}, {"suspend_for_s", Whole(length)}};
  if (slept < settings.timeout) {
    return Judged("suspend", false,
                  "woke after " + wdt::Fixed(slept, 1) + " s in " + kind + ", before the timeout of " +
                      Whole(settings.timeout) + " s: the sleep proves nothing",
                  figures);
  }
  return Judged("suspend", true,
                "slept " + wdt::Fixed(slept, 1) + " s in " + kind +
                    " (the boot clock against the monotonic one), armed " + Whole(settings.timeout) +
                    " s: no reset meanwhile",
                figures);
}

Check Resume(Run& run) {
  if (run.Stop()) return run.Stopped("resume");
  const Seam& seam = run.seam();
  const Settings& settings = run.settings();
  ResetRecord& record = run.learned.record;
  // The last reload from now on: the record goes on disk first.
  record.reloaded_at = record.alive_at = seam.reset.wall_now();
  record.alive_s = 0;
  record.next_by_s = Seconds(kBeat);
  if (!WriteRecord(run)) return run.Stopped("resume");
  run.learned.reloaded_at = seam.time.now();
  const std::string wrote = Whole(settings.timeout);
  if (const StatusCode status = run.wdt().write_timer_value(settings.timeout); status != 0) {
    return CallFailed("resume", "WriteTimerValue(" + wrote + ")", status);
  }
  const Run::Reading first = run.Read();
  if (first.status != 0) return CallFailed("resume", "ReadTimerValue()", first.status);
  if (run.LibraryCounts()) {
    return Judged("resume", true,
                  "wrote " + wrote + " after the resume: the driver reports no time left, only the reset shows "
                  "whether the watchdog lives",
                  {{"wrote", wrote}}, Evidence::kLibraryCount);
  }
  // Its time left must fall again, as the disarm check's counter would stand still.
  Run::Reading last = first;
  while (last.status == 0 && last.value >= first.value && last.at - first.at < kStillFor + 1s) {
    if (run.Stop()) return run.Stopped("resume");
    seam.time.sleep(5 * kStillPoll);
    last = run.Read();
  }
  if (last.status != 0) return CallFailed("resume", "ReadTimerValue()", last.status);
  const std::vector<Figure> figures = {{"wrote", wrote}, {"read", Whole(first.value)}, {"then", Whole(last.value)}};
  if (last.value >= first.value) {
    return Judged("resume", false, "the watchdog's time left stays at " + Whole(first.value) + " after the resume",
                  figures);
  }
  if (!JustLoaded(first.value, settings.timeout)) {
    return Judged("resume", false,
                  "the reload after the resume did not take: wrote " + wrote + ", read " + Whole(first.value), figures);
  }
  return Judged("resume", true,
                "wrote " + wrote + " after the resume, read " + Whole(first.value) + ", then " + Whole(last.value) +
                    ": its time left counts down again",
                figures);
}

std::optional<Check> JudgeResetAsleep(const ResetRecord& record, const std::vector<Figure>& figures) {
  if (record.suspend.empty() || record.slept_s > 0) return std::nullopt;
  std::vector<Figure> with = figures;
  with.push_back({"suspend_for_s", wdt::Fixed(record.suspend_for_s, 3)});
  return Judged("on-time", false,
                "the watchdog reset the machine during a suspend (" + record.suspend + ") of " +
                    Short(record.suspend_for_s) + " s: it came after the sleep began, " +
                    wdt::Fixed(record.suspend_at_s, 1) + " s after the last reload (bound " +
                    wdt::Fixed(record.next_by_s - record.alive_s, 2) + " s, the sleep's length)",
                std::move(with), Evidence::kRecord);
}

std::string SleepNote(const ResetRecord& record, std::vector<Figure>* figures) {
  if (record.suspend.empty() || record.slept_s <= 0) return {};
  figures->push_back({"slept_s", wdt::Fixed(record.slept_s, 3)});
  figures->push_back({"suspend_for_s", wdt::Fixed(record.suspend_for_s, 3)});
  return "; after a suspend (" + record.suspend + ") of " + wdt::Fixed(record.slept_s, 1) + " s";
}

}  // namespace check
