#include "pretimeout_bark.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "checks.h"
#include "judged.h"
#include "parse.h"
#include "printable.h"
#include "run.h"

namespace check {

using wdt::Fixed;

Check Bark(Run& run) {
  constexpr std::string_view kName = "pretimeout";
  if (run.Stop()) return run.Stopped(kName);
  if (run.armed() != Armed::kKnown) return Skipped(kName, kNotArmed);
  const Settings& settings = run.settings();
  const wdt::Operations& wdt = run.wdt();
  const Seam::Kernel& kernel = run.seam().kernel;
  if (!settings.device) return Skipped(kName, "sysfs knows no pretimeout of this watchdog");
  const sysfs::Facts& device = *settings.device;
  if (!device.pretimeout) return Skipped(kName, "the driver has no pretimeout");
  if (wdt.set_pretimeout == nullptr) {
    return Skipped(kName, "the library has no " WDT_SET_PRETIMEOUT_NAME " operation to set one with");
  }
  const std::vector<std::string> governors = device.pretimeout_governors.value_or(std::vector<std::string>{});
  if (std::find(governors.begin(), governors.end(), "noop") == governors.end()) {
    std::string available;
    for (const std::string& g : governors) available += (available.empty() ? "" : ", ") + wdt::Printable(g);
    return Skipped(kName, "no governor that only reports (noop) is available (available: " +
                              (available.empty() ? "none" : available) + "); modprobe pretimeout_noop gives one");
  }
  const std::uint32_t pretimeout = settings.pretimeout;
  const double due = settings.timeout - pretimeout;
  const double tolerance = due * settings.tolerance_pct / 100;
  // The wait ends a little after the latest on-time event; the watchdog must
  // still be that far from running out.
  const double wait = due + tolerance + Seconds(kPretimeoutGrace);
  if (!run.plan().KeepsMarginFor(wait)) {
    return Skipped(kName, "the pretimeout of " + Whole(pretimeout) + " s is too close to the timeout of " +
                              Whole(settings.timeout) +
                              " s to wait for its event and keep the margin; a longer pretimeout gives room");
  }
  if (const std::string why = kernel.watch_log(); !why.empty()) {
    run.End("the kernel log cannot be read: " + why);
    return run.Stopped(kName);
  }
  if (device.pretimeout_governor != "noop") {
    if (const std::string why = kernel.set_governor(device.name, "noop"); !why.empty()) {
      run.End("the pretimeout governor cannot be set: " + why);
      return run.Stopped(kName);
    }
  }
  if (const StatusCode status = wdt.set_pretimeout(pretimeout); status != 0) {
    return CallFailed(kName, "SetPretimeout(" + Whole(pretimeout) + ")", status);
  }
  run.PretimeoutGone();
  const Clock::time_point before = run.Now();
  if (const StatusCode status = wdt.write_timer_value(settings.timeout); status != 0) {
    return CallFailed(kName, "WriteTimerValue(" + Whole(settings.timeout) + ")", status);
  }
  const Clock::time_point reloaded = before + (run.Now() - before) / 2;
  const Run::Reading read = run.Read();
  if (run.Stop()) return run.Stopped(kName);
  if (read.status != 0) return CallFailed(kName, "ReadTimerValue()", read.status);
  run.Loaded(read, settings.timeout);
  const std::string event = device.name + ": pretimeout event";
  const Clock::time_point end = reloaded + Duration(wait);
  std::optional<double> came;
  for (Clock::time_point now = run.Now(); !came && now < end && now < run.SafeUntil(); now = run.Now()) {
    if (run.Stop()) return run.Stopped(kName);
    if (const std::optional<Clock::time_point> at = kernel.logged(event)) came = Seconds(*at - reloaded);
    if (!came) run.seam().time.sleep(kStillPoll);
  }
  return JudgePretimeout(came, settings.timeout, pretimeout, tolerance);
}

Check JudgePretimeout(std::optional<double> event_s, std::uint32_t timeout, std::uint32_t pretimeout,
                      double tolerance_s) {
  const double due = static_cast<double>(timeout) - pretimeout;
  std::vector<Figure> figures = {{"due_s", Short(due)}, {"pretimeout_s", Whole(pretimeout)},
                                 {"timeout_s", Whole(timeout)}, {"tolerance_s", Fixed(tolerance_s, 3)}};
  const std::string due_text = "due at " + Short(due) + " s";
  if (!event_s) {
    return Judged("pretimeout", false,
                  "no pretimeout event in the kernel log within " +
                      Fixed(due + tolerance_s + Seconds(kPretimeoutGrace), 2) + " s after the last reload, " + due_text,
                  figures, Evidence::kKernelLog);
  }
  figures.insert(figures.begin(), {"event_s", Fixed(*event_s, 3)});
  const std::string came = "the event came " + Fixed(*event_s, 2) + " s after the last reload, " + due_text;
  if (std::abs(*event_s - due) > tolerance_s) {
    return Judged("pretimeout", false,
                  came + ": " + (*event_s < due ? "early" : "late") + " by more than " + Fixed(tolerance_s, 2) + " s",
                  figures, Evidence::kKernelLog);
  }
  return Judged("pretimeout", true, came, figures, Evidence::kKernelLog);
}

}  // namespace check
