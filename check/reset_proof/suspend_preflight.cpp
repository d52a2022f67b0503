// --suspend's pre-flight, before the watchdog is armed: a kernel watchdog, a
// state that the kernel offers, a wake alarm to end the sleep, and the
// rights to write both. Each refusal says which is missing.
#include <sstream>

#include "printable.h"
#include "reset_proof/suspend.h"

namespace check {

std::string SuspendRefusal(const Settings& settings, const Seam::Sleep& sleep) {
  if (settings.device_path.empty()) {
    return "--suspend needs a kernel watchdog (WDT_DEVICE): the simulated watchdog does not sleep with the machine";
  }
  if (!settings.device) {
    return "--suspend needs a kernel watchdog: sysfs knows no watchdog at " + wdt::Printable(settings.device_path);
  }
  const std::optional<std::string> states = sleep.states ? sleep.states() : std::nullopt;
  if (!states) return "--suspend " + settings.suspend + ": this system offers no sleep (/sys/power/state)";
  std::istringstream words(*states);
  bool offered = false;
  for (std::string word; words >> word;) offered = offered || word == settings.suspend;
  if (!offered) {
    return "--suspend " + settings.suspend + ": the kernel does not offer it (/sys/power/state: " +
           wdt::Printable(*states) + ")";
  }
  if (!sleep.wake_alarm || !sleep.wake_alarm()) {
    return "--suspend: no RTC with a wake alarm (/sys/class/rtc/rtc0/wakealarm) to end the sleep";
  }
  if (!sleep.may_sleep || !sleep.may_sleep()) {
    return "--suspend needs root: it writes /sys/power/state and the RTC's wake alarm";
  }
  return {};
}

}  // namespace check
