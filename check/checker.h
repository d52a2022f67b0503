// wdt-check's checks of a watchdog through the six library operations: open,
// arm, countdown, reload, disarm, close. The operations, the clock, the sleep
// and the stop flag come in through a seam, so tests run the checks on the
// simulated watchdog and a clock of their own.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "margin_plan.h"
#include "record.h"
#include "report.h"
#include "seam.h"
#include "settings.h"
#include "watchdog_facts.h"

namespace check {

// How long the countdown is watched at most, and how often it is read.
inline constexpr Clock::duration kCountdownWindow = 5s;
inline constexpr Clock::duration kCountdownPoll = 5ms;
// How long a disarmed counter must stay still, and how often it is read; an
// armed counter that has not moved for as long fails at once.
inline constexpr Clock::duration kStillFor = 1500ms;
inline constexpr Clock::duration kStillPoll = 20ms;
// What the reload check writes: a value other than the timeout in force and
// far from where the countdown left the counter.
std::uint32_t ReloadValue(std::uint32_t timeout);


// The checks' names, in the order in which they run.
std::vector<std::string_view> CheckNames(Mode mode = Mode::kCheck);

// Runs the six checks in order. Whatever happens, a session that opened is
// disarmed and closed before it returns.
Report RunChecks(const Settings& settings, const Seam& seam);

// A change of the counter: when it was seen (seconds from any fixed
// instant: halfway between the two reads around it), the value it changed
// to, and how far from at_s it may have come (half the time between them).
struct Edge {
  double at_s;
  std::uint32_t value;
  double spread_s = 0;
};

// Seconds per unit by least squares of the edges' times against their
// values; needs two edges at least. A counter that rises gives a negative
// figure.
std::optional<double> SecondsPerUnit(const std::vector<Edge>& edges);

// What the countdown's watch saw: the value at its first read and at its
// last, the time between them, the time from the arm to the first read, the
// changes (seconds from the first read), and whether the margin ended the
// watch before its window did.
struct Watch {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  double observed_s = 0;
  std::vector<Edge> edges{};
  bool cut = false;
  double since_arm_s = 0;
  std::uint32_t pretimeout = 0;  // the margin was kept ahead of it, if set
};

// The countdown check's verdict on what was watched: judged without a clock.
Check JudgeCountdown(const Watch& watch, const Settings& settings);

// The after-reset half's verdicts on a record: whether the machine booted
// anew, whether the reset came within the window (no earlier, and no "no
// reset"), and whether the driver says that the watchdog caused it (its
// boot status, where it keeps one).
Check JudgeRebooted(const ResetRecord& record, const std::optional<std::string>& boot_id);
Check JudgeOnTime(const ResetRecord& record);
Check JudgeCause(const ResetRecord& record, const std::optional<sysfs::Facts>& device);

// The pretimeout's bark: when its event came after the last reload, if it
// came within the wait; due pretimeout seconds before the timeout, give or
// take tolerance_s.
Check JudgePretimeout(std::optional<double> event_s, std::uint32_t timeout, std::uint32_t pretimeout,
                      double tolerance_s);

}  // namespace check
