// The device put back as it was found: each setting that the run may change
// is a row, put back in the rows' order once the watchdog is disarmed and
// before the close; what could not be put back is said, with why.
#include <array>
#include <optional>
#include <string>

#include "checks.h"
#include "judged.h"
#include "printable.h"
#include "run.h"

namespace check {
namespace {

struct Setting {
  std::string_view name;
  // What sysfs shows of it, as the report says it ("60 s", "panic"); none
  // where it shows nothing.
  std::optional<std::string> (*shown)(const sysfs::Facts& facts);
  // Puts back what was found; empty, or why it could not.
  std::string (*put)(const Run& run, const sysfs::Facts& found);
};

std::optional<std::string> InSeconds(const std::optional<long>& value) {
  return value ? std::optional<std::string>(std::to_string(*value) + " s") : std::nullopt;
}

// In this order: the pretimeout must be below the timeout, and a governor
// acts only on a pretimeout.
constexpr std::array<Setting, 3> kSettings = {{
    {.name = "timeout",
     .shown = [](const sysfs::Facts& facts) { return InSeconds(facts.timeout); },
     .put = [](const Run& run, const sysfs::Facts& found) -> std::string {
       const auto timeout = static_cast<std::uint32_t>(*found.timeout);
       const StatusCode status = run.wdt().write_timer_value(timeout);
       return status == 0 ? "" : "WriteTimerValue(" + Whole(timeout) + ") returned " + std::to_string(status);
     }},
    {.name = "pretimeout",
     .shown = [](const sysfs::Facts& facts) { return InSeconds(facts.pretimeout); },
     .put = [](const Run& run, const sysfs::Facts& found) -> std::string {
       const auto pretimeout = static_cast<std::uint32_t>(*found.pretimeout);
       if (run.wdt().set_pretimeout == nullptr) return "the library has no " WDT_SET_PRETIMEOUT_NAME;
       const StatusCode status = run.wdt().set_pretimeout(pretimeout);
       return status == 0 ? "" : "SetPretimeout(" + Whole(pretimeout) + ") returned " + std::to_string(status);
     }},
    {.name = "governor",
     .shown = [](const sysfs::Facts& facts) { return facts.pretimeout_governor; },
     .put = [](const Run& run, const sysfs::Facts& found) -> std::string {
       if (found.pretimeout_governor->empty()) return "a governor cannot be unset";
       const auto& set_governor = run.seam().kernel.set_governor;
       if (!set_governor) return "no way to set it";
       return set_governor(found.name, *found.pretimeout_governor);
     }},
}};

using Shown = std::array<std::optional<std::string>, kSettings.size()>;

Shown ShownIn(const std::optional<sysfs::Facts>& facts) {
  Shown shown;
  for (std::size_t i = 0; facts && i < kSettings.size(); ++i) shown[i] = kSettings[i].shown(*facts);
  return shown;
}

}  // namespace

void PutBack(Run& run) {
  const Settings& settings = run.settings();
  const auto& facts_of = run.seam().kernel.facts_of;
  if (!settings.device || !facts_of) return;
  const std::optional<sysfs::Facts> now_facts = facts_of(settings.device_path);
  if (!now_facts) return;
  const Shown was = ShownIn(settings.device);
  const Shown now = ShownIn(now_facts);
  std::array<std::string, kSettings.size()> why;
  for (std::size_t i = 0; i < kSettings.size(); ++i) {
    if (!was[i] || was[i] == now[i]) continue;
    why[i] = run.armed() != Armed::kNo ? "the watchdog is still running" : kSettings[i].put(run, *settings.device);
  }
  const Shown after = ShownIn(facts_of(settings.device_path));
  std::string put_back;
  std::string not_put_back;
  for (std::size_t i = 0; i < kSettings.size(); ++i) {
    if (!was[i] || was[i] == now[i]) continue;
    const std::string setting = std::string(kSettings[i].name) + " " + wdt::Printable(*was[i]);
    if (after[i] == was[i]) {
      put_back += (put_back.empty() ? "" : ", ") + setting;
    } else {
      not_put_back += (not_put_back.empty() ? "" : "; ") + setting + " (it is " +
                      wdt::Printable(after[i].value_or("unknown")) + (why[i].empty() ? "" : ": " + why[i]) + ")";
    }
  }
  run.PutBackSaid(std::move(put_back), std::move(not_put_back));
}

}  // namespace check
