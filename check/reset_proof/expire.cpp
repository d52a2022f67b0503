// The road of the reset proof where the watchdog is left to run out: feeding
// stops after the last reload, and the record says every beat that the
// machine is still alive, until the reset ends the run or the window closes
// with the machine alive (the check fails: no reset).
#include <algorithm>
#include <cmath>
#include <string>

#include "checks.h"
#include "judged.h"
#include "parse.h"
#include "reset_proof/beat_pacer.h"
#include "reset_proof/reset_proof.h"
#include "run.h"

namespace check {

Check Expire(Run& run) {
  if (run.Stop()) return run.Stopped("expire");
  if (!run.learned.reload_took) {
    return Skipped("expire", "the last reload did not read back: not worth letting run out");
  }
  // Left to run out on purpose: no gap is a stall from here on.
  run.Release();
  const Seam& seam = run.seam();
  ResetRecord& record = run.learned.record;
  const Clock::time_point reloaded_at = run.learned.reloaded_at;
  const std::string timeout = Whole(run.settings().timeout);
  const double latest = LatestReset(run.settings().timeout);
  const Clock::time_point end = reloaded_at + Duration(latest);
  seam.output.said("waiting until " + WallTime(record.reloaded_at + record.window_until_s) +
                   " for the watchdog to reset the machine: armed " + timeout + " s, last reload at " +
                   WallTime(record.reloaded_at) + ", the reset is due from " +
                   WallTime(record.reloaded_at + record.window_from_s));
  BeatPacer pacer(reloaded_at + kBeat);
  Clock::time_point progress = reloaded_at + 5s;
  for (;;) {
    if (run.Stop()) return run.Stopped("expire");
    Clock::time_point now = seam.time.now();
    if (now >= end) break;
    if (now >= pacer.next()) {
      record.alive_at = seam.reset.wall_now();
      record.alive_s = Seconds(now - reloaded_at);
      record.next_by_s = record.alive_s + Seconds(pacer.Bound());
      // The wall clock against the monotonic one: a step is said and kept,
      // and judges nothing.
      const double step = record.alive_at - record.reloaded_at - record.alive_s;
      if (std::abs(step - record.wall_step_s) > 1) {
        const double by = step - record.wall_step_s;
        seam.output.said("the wall clock was set " + std::string(by < 0 ? "back " : "forward ") +
                         wdt::Fixed(std::abs(by), 0) + " s while waiting");
        record.wall_step_s = step;
      }
      if (!WriteBeat(run)) return run.Stopped("expire");
      const Clock::time_point written = seam.time.now();
      pacer.Wrote(now, written);
      if (now >= progress) {
        seam.output.said("alive at " + WallTime(record.alive_at) + ", " + wdt::Fixed(record.alive_s, 1) +
                         " s after the last reload");
        progress += 5s;
      }
      now = written;
      if (now >= end) break;
    }
    seam.time.sleep(std::min<Clock::duration>(std::min(pacer.next(), end) - now, 100ms));
  }
  record.state = ResetRecord::State::kNoReset;
  WriteRecord(run);
  // The arm set another timeout on a watchdog that the open had started:
  // some drivers stop the hardware then without a word.
  std::string changed;
  if (const std::optional<sysfs::Facts>& found = run.settings().device;
      record.suspend.empty() && found && found->timeout && *found->timeout != static_cast<long>(run.settings().timeout)) {
    changed = "; the arm changed the running watchdog's timeout from " + std::to_string(*found->timeout) + " s to " +
              timeout + " s, which stops some watchdogs (the i.MX6Q's in QEMU): with the driver's own timeout set to " +
              timeout + " s before the run, one that resets then has this fault";
  }
  return Judged("expire", false,
                "armed " + timeout + " s, still alive after " + Short(latest) +
                    " s: the watchdog did not reset the machine" +
                    (record.suspend.empty()
                         ? ""
                         : " after a suspend (" + record.suspend + "): the driver lost it on the resume") +
                    changed,
                {{"armed_s", timeout},
                 {"alive_s", Short(latest)},
                 {"beats", std::to_string(pacer.beats())},
                 {"slowest_beat_s", wdt::Fixed(Seconds(pacer.slowest()), 4)}});
}

}  // namespace check
