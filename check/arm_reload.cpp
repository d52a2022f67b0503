// The loads that must read back as written: the arm with the timeout, and
// the reload with another value and then the timeout again. Each load moves
// the margin; a load that would bring a pretimeout within it is not made.
#include <string>
#include <tuple>
#include <vector>

#include "checks.h"
#include "judged.h"
#include "run.h"

namespace check {
namespace {

constexpr std::int32_t kSeconds = 0;  // min_sec: the timeout counts seconds

// What the reload check writes first: a value other than the timeout in
// force and far from where the countdown left the counter.
std::uint32_t ReloadValue(std::uint32_t timeout) { return timeout >= 20 ? timeout - 10 : timeout + 10; }

}  // namespace

Check Arm(Run& run) {
  if (run.Stop()) return run.Stopped("arm");
  const std::uint32_t timeout = run.settings().timeout;
  if (std::string crowded = run.plan().Crowded(timeout); !crowded.empty()) return Skipped("arm", std::move(crowded));
  run.Arming();  // it may be armed, whatever the call returns
  if (const StatusCode status = run.wdt().enable_timer(timeout, kSeconds); status != 0) {
    return CallFailed("arm", "EnableTimer(" + Whole(timeout) + ", 0)", status);
  }
  run.learned.armed_at = run.Now();
  const Run::Reading read = run.Read();
  if (run.Stop()) return run.Stopped("arm");
  if (read.status != 0) return CallFailed("arm", "ReadTimerValue()", read.status);
  run.Known();
  run.Loaded(read, timeout);
  if (read.value > timeout) run.learned.false_counter = read.value;
  return Judged("arm", JustLoaded(read.value, timeout),
                "asked " + Whole(timeout) + ", read " + Whole(read.value) + run.ReadBackNote(),
                {{"asked", Whole(timeout)}, {"read", Whole(read.value)}}, run.ReadBack());
}

Check Reload(Run& run) {
  if (run.Stop()) return run.Stopped("reload");
  if (run.armed() != Armed::kKnown) return Skipped("reload", kNotArmed);
  const std::uint32_t timeout = run.settings().timeout;
  std::string detail;
  std::vector<Figure> figures;
  bool pass = true;
  // Another value first, then the timeout: both must read back as written.
  const std::uint32_t other = ReloadValue(timeout);
  if (!run.plan().ReloadKeepsMargin(other)) {
    return Skipped("reload", "the counter counts too fast for a reload to " + Whole(other) + " to keep the margin");
  }
  for (const std::uint32_t value : {other, timeout}) {
    if (std::string crowded = run.plan().Crowded(value); !crowded.empty()) return Skipped("reload", std::move(crowded));
  }
  for (const auto& [value, wrote, read_name] :
       {std::tuple{other, "wrote", "read"}, std::tuple{timeout, "wrote_timeout", "read_timeout"}}) {
    if (const StatusCode status = run.wdt().write_timer_value(value); status != 0) {
      return CallFailed("reload", "WriteTimerValue(" + Whole(value) + ")", status);
    }
    const Run::Reading read = run.Read();
    if (run.Stop()) return run.Stopped("reload");
    if (read.status != 0) return CallFailed("reload", "ReadTimerValue()", read.status);
    run.Loaded(read, value);
    pass = pass && JustLoaded(read.value, value);
    detail += (detail.empty() ? "wrote " : "; wrote ") + Whole(value) + ", read " + Whole(read.value);
    figures.push_back({wrote, Whole(value)});
    figures.push_back({read_name, Whole(read.value)});
  }
  return Judged("reload", pass, detail + run.ReadBackNote(), figures, run.ReadBack());
}

}  // namespace check
