// The dead kernel's road refuses, before the watchdog is touched, a watchdog
// that a dead kernel cannot fire or that it cannot name, and a kernel that
// cannot be crashed from here: nothing is opened, armed or crashed.
#include <string>

#include "printable.h"
#include "reset_proof/hang.h"

namespace check {

std::string HangRefusal(const Settings& settings, const std::string& kernel_refusal) {
  if (settings.device_path.empty()) {
    return "--hang needs a kernel watchdog (WDT_DEVICE): the simulated watchdog cannot reset a dead kernel";
  }
  if (!settings.device) {
    return "--hang needs a kernel watchdog: sysfs knows no watchdog at " + wdt::Printable(settings.device_path);
  }
  if (settings.device->software) {
    const std::string identity = settings.device->identity ? *settings.device->identity : settings.device->name;
    return "--hang: " + wdt::Printable(identity) +
           " is a software watchdog: softdog runs inside the kernel: a dead kernel cannot fire it";
  }
  return kernel_refusal.empty() ? "" : "--hang: " + kernel_refusal;
}

}  // namespace check
