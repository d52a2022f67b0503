// Which watchdog a run checked, in the library's own words: its optional
// DescribeWatchdog says whether it is simulated or a kernel watchdog device
// (its node, identity and driver). A library without it (a vendor's) is
// named as such, and nothing it reads back is taken for the hardware.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "operations.h"

namespace check {

struct Watchdog {
  enum class Kind {
    kUndescribed,  // the library does not describe its watchdog
    kSimulated,    // the stand-in's simulated watchdog
    kDevice,       // a kernel watchdog device
  };
  Kind kind = Kind::kUndescribed;
  std::string node{};      // /dev/watchdog0
  std::string identity{};  // iTCO_wdt, "i6300ESB timer"
  std::string driver{};    // the driver bound to its device, where it has one
  bool software = false;   // a timer inside the kernel (softdog)
  bool operator==(const Watchdog&) const = default;
};

// The description's text, one "key=value" line each (kind=simulated, or
// kind=device with node=, identity=, driver=, software=1); a kind that this
// wdt-check does not know is taken as undescribed.
Watchdog ParseWatchdogDescription(std::string_view text);

// What the library says of its watchdog, through its optional operation.
Watchdog DescribeWatchdog(const wdt::Operations& wdt);

// "/dev/watchdog0, iTCO_wdt (driver iTCO_wdt)", "simulated (the stand-in
// library)", "the driver's library (it does not describe its watchdog)".
std::string WatchdogText(const Watchdog& watchdog);

// Its JSON object, and its JUnit properties (name, value).
std::string WatchdogJson(const Watchdog& watchdog);
std::vector<std::pair<std::string, std::string>> WatchdogProperties(const Watchdog& watchdog);

}  // namespace check
