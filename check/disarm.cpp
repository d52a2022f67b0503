// The disarm: DisableTimer, then the counter must stand still; where the
// driver reports no time left, the kernel's state judges it instead. A
// driver with nowayout that refuses it leaves the watchdog running, and the
// report says when it resets the machine.
#include "checks.h"
#include "judged.h"
#include "parse.h"
#include "driver_quirks.h"
#include "printable.h"
#include "run.h"

namespace check {

Check Disarm(Run& run) {
  run.Release();
  const Settings& settings = run.settings();
  if (const StatusCode status = run.wdt().disable_timer(); status != 0) {
    if (settings.device && settings.device->nowayout.value_or(false)) {
      // The driver cannot stop it: the report says when it resets the machine.
      if (const Run::Reading read = run.Read(); read.status == 0) run.LeavesRunning(read.value);
    }
    return CallFailed("disarm", "DisableTimer()", status);
  }
  run.Disarmed();
  if (run.Stop()) return Skipped("disarm", "DisableTimer() returned 0; not watched: " + run.ended());
  const std::uint32_t false_counter = run.learned.false_counter;
  if (run.LibraryCounts() || false_counter > 0) {
    // The library's own count stops where it stood whatever the hardware
    // does, and a counter that is not this watchdog's says nothing of it:
    // the kernel's state is the evidence.
    const std::string why = false_counter == 0 ? "the driver reports no time left"
                                               : "its time left (" + Whole(false_counter) + " after an arm of " +
                                                     Whole(settings.timeout) + ") is not this watchdog's";
    const auto& facts_of = run.seam().kernel.facts_of;
    const std::optional<sysfs::Facts> now = facts_of ? facts_of(settings.device_path) : std::nullopt;
    if (!now || !now->state) {
      return Skipped("disarm", "DisableTimer() returned 0; nothing to judge it on: " + why + " and the kernel no state");
    }
    std::string detail = "DisableTimer() returned 0; the kernel reports the watchdog " + *now->state;
    if (false_counter > 0) detail += " (judged on that: " + why + ")";
    // Some watchdogs cannot be stopped once started: the kernel feeds them.
    if (const std::string identity = settings.device && settings.device->identity ? *settings.device->identity : "";
        CannotBeStopped(identity)) {
      detail += "; this watchdog (" + wdt::Printable(identity) + ") cannot be stopped: the kernel feeds it from now on";
    }
    return Judged("disarm", *now->state == "inactive", detail, {}, Evidence::kKernelState);
  }
  const Run::Reading first = run.Read();
  if (first.status != 0) return CallFailed("disarm", "ReadTimerValue()", first.status);
  Run::Reading last = first;
  while (last.at - first.at < kStillFor) {
    if (run.Stop()) return Skipped("disarm", "DisableTimer() returned 0; watch cut short: " + run.ended());
    run.seam().time.sleep(kStillPoll);
    last = run.Read();
    if (last.status != 0) return CallFailed("disarm", "ReadTimerValue()", last.status);
    if (last.value != first.value) {
      return Judged("disarm", false,
                    "counted on from " + Whole(first.value) + " to " + Whole(last.value) + " within " +
                        wdt::Fixed(Seconds(last.at - first.at), 1) + " s after the disarm",
                    {{"value", Whole(first.value)}, {"then", Whole(last.value)}}, run.ReadBack());
    }
  }
  const double still = Seconds(last.at - first.at);
  return Judged("disarm", true, "stayed at " + Whole(first.value) + " for " + wdt::Fixed(still, 1) + " s",
                {{"value", Whole(first.value)}, {"still_s", wdt::Fixed(still, 3)}}, run.ReadBack());
}

}  // namespace check
