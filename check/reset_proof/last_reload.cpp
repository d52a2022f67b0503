// The last reload of every road of the reset proof: once the counter has
// fallen (so that the reload shows that it took), a pretimeout that would
// fire first is cleared, the record goes on disk, and only then the reload:
// from it on, the machine may reset at any instant.
#include "checks.h"
#include "judged.h"
#include "reset_proof/reset_proof.h"
#include "run.h"

namespace check {

Check LastReload(Run& run) {
  if (run.Stop()) return run.Stopped("reload");
  if (run.armed() != Armed::kKnown) return Skipped("reload", kNotArmed);
  const Settings& settings = run.settings();
  const wdt::Operations& wdt = run.wdt();
  // A reload that reads back shows that it took only once the counter has
  // fallen: the watch waits for that, as long as the disarm check waits.
  Run::Reading fallen = run.Read();
  while (fallen.status == 0 && fallen.value + 1 >= settings.timeout && fallen.at - run.learned.armed_at < kStillFor) {
    if (run.Stop()) return run.Stopped("reload");
    run.seam().time.sleep(kStillPoll);
    fallen = run.Read();
  }
  if (run.Stop()) return run.Stopped("reload");
  if (fallen.status != 0) return CallFailed("reload", "ReadTimerValue()", fallen.status);
  if (const std::uint32_t before = run.plan().Before(settings.timeout); before > 0) {
    // It would fire before the watchdog runs out: cleared for the wait.
    if (wdt.set_pretimeout == nullptr) {
      run.End("a pretimeout of " + Whole(before) +
              " s is set and the library cannot clear it: it would fire before the watchdog runs out");
      return run.Stopped("reload");
    }
    if (const StatusCode status = wdt.set_pretimeout(0); status != 0) {
      return CallFailed("reload", "SetPretimeout(0)", status);
    }
    run.PretimeoutGone();
  }
  const std::optional<std::string> boot = run.seam().reset.boot_id();
  if (!boot) {
    run.End("this system gives no boot identity to tell the next boot by");
    return run.Stopped("reload");
  }
  const double timeout = settings.timeout;
  ResetRecord& record = run.learned.record;
  record = {};
  record.device = settings.device_path.empty() ? std::string(kLinkedLibrary) : settings.device_path;
  record.identity = settings.device && settings.device->identity ? *settings.device->identity : "";
  record.timeout_s = settings.timeout;
  record.boot_id = *boot;
  record.reloaded_at = record.alive_at = run.seam().reset.wall_now();
  record.window_from_s = timeout - 1;
  record.window_until_s = LatestReset(timeout);
  record.next_by_s = Seconds(kBeat);
  if (!WriteRecord(run)) return run.Stopped("reload");
  run.learned.recorded = true;
  run.learned.reloaded_at = run.Now();
  const std::string wrote = Whole(settings.timeout);
  if (const StatusCode status = wdt.write_timer_value(settings.timeout); status != 0) {
    return CallFailed("reload", "WriteTimerValue(" + wrote + ")", status);
  }
  const Run::Reading read = run.Read();
  if (run.Stop()) return run.Stopped("reload");
  if (read.status != 0) return CallFailed("reload", "ReadTimerValue()", read.status);
  run.Loaded(read, settings.timeout);
  // A watchdog that ignores reloads is not worth letting run out.
  const bool took = JustLoaded(read.value, settings.timeout) && read.value > fallen.value;
  run.learned.reload_took = took;
  return Judged("reload", took,
                "fell to " + Whole(fallen.value) + ", wrote " + wrote + ", read " + Whole(read.value) +
                    run.ReadBackNote(),
                {{"fell_to", Whole(fallen.value)}, {"wrote", wrote}, {"read", Whole(read.value)}}, run.ReadBack());
}

}  // namespace check
