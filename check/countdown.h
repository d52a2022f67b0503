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
// A counter whose edges do not resolve its rate by the end of the window (one
// that moves in coarse steps) is watched on, this long at most, while the
// margin allows.
inline constexpr Clock::duration kCountdownLongest = 25s;
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
// How finely the edges resolve a rate, as a share of it: the time between
// the first and the last edge is known to the spread of the reads around
// each, and to the counter's step (each change lags the unit's true end by up
// to a step; `step`, where one was seen, else the step that an honest
// counter would need to show these edges). Nothing for fewer than two.
std::optional<double> RateResolution(const std::vector<Edge>& edges, double step);
// The step of a counter that moves in steps: the shortest time between two
// of its changes, where one is shorter than a unit; 0 where none is.
double StepOf(const std::vector<Edge>& edges);

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
