// What some drivers do that their interface does not say, by the identity
// that the driver gives its watchdog: wdt-check names it where it judges.
#pragma once

#include <array>
#include <string_view>

namespace check {

// Watchdogs that cannot be stopped once started: the driver has no stop, so
// after a disarm (a magic close) the kernel feeds the hardware itself, and
// sysfs calls it inactive. The i.MX2+ family (imx2_wdt).
inline constexpr std::array<std::string_view, 1> kCannotBeStopped = {"imx2+ watchdog"};

inline bool CannotBeStopped(std::string_view identity) {
  for (const std::string_view unstoppable : kCannotBeStopped) {
    if (identity == unstoppable) return true;
  }
  return false;
}

}  // namespace check
