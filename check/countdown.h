// The countdown check: the counter read every few milliseconds from the arm
// on, for a window or until the margin ends the watch, then judged without a
// clock on what was watched: its rate by the changes' times, every stretch
// without a change, and the fall over the whole watch.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "report.h"
#include "settings.h"

namespace check {

// How long the countdown is watched at most, and how often it is read.
inline constexpr Clock::duration kCountdownWindow = 5s;
inline constexpr Clock::duration kCountdownPoll = 5ms;

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

}  // namespace check
