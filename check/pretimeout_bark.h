// The pretimeout's bark: the pretimeout set as asked under a governor that
// only reports, one reload, and the kernel's own record of the event, timed
// on the kernel's monotonic clock against the reload; the watchdog is
// disarmed well before it runs out (the disarm check follows at once).
#pragma once

#include <cstdint>
#include <optional>

#include "report.h"
#include "settings.h"

namespace check {

// How long after the latest on-time event the wait for it goes on.
inline constexpr Clock::duration kPretimeoutGrace = 250ms;

// The bark's verdict: when its event came after the last reload, if it came
// within the wait; due pretimeout seconds before the timeout, give or take
// tolerance_s.
Check JudgePretimeout(std::optional<double> event_s, std::uint32_t timeout, std::uint32_t pretimeout,
                      double tolerance_s);

}  // namespace check
