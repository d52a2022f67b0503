// The dead kernel's road refuses, before anything is armed, a watchdog that
// a dead kernel cannot fire or that it cannot name, and a kernel that cannot
// be crashed from here: the run then ends, and nothing is crashed.
#include <string>

#include "checks.h"
#include "printable.h"
#include "reset_proof/hang.h"
#include "run.h"

namespace check {

std::string HangRefusal(const Settings& settings, const std::string& kernel_refusal) {
  if (!settings.device) {
    return "no kernel watchdog device with sysfs facts (WDT_DEVICE" +
           (settings.device_path.empty() ? std::string(" is not set: the simulated watchdog")
                                         : " " + wdt::Printable(settings.device_path) + " is none that sysfs knows") +
           "): only a watchdog outside the kernel can reset a dead one";
  }
  if (settings.device->software) {
    const std::string identity = settings.device->identity ? *settings.device->identity : settings.device->name;
    return wdt::Printable(identity) + " is a software watchdog: softdog runs inside the kernel: a dead kernel cannot "
                                      "fire it";
  }
  return kernel_refusal;
}

void HangPreflight(Run& run) {
  const auto& refusal = run.seam().crash.refusal;
  const std::string why =
      HangRefusal(run.settings(), refusal ? refusal() : std::string("this wdt-check cannot crash the kernel"));
  if (!why.empty()) run.End("refused before arming, nothing crashed: " + why);
}

}  // namespace check
