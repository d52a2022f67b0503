// How near an armed watchdog may come to running out, planned once for a run
// from the timeout, the pretimeout that sysfs shows, the tolerance and the
// slack between two looks at the clock. Every load is made, every watch and
// every wait ended, by what this plan answers: no counter that lies within
// the tolerance runs the watchdog out, nor brings it within the margin.
#pragma once

#include <cstdint>
#include <string>

#include "settings.h"

namespace check {

// An armed watchdog never comes closer than this to running out, by what the
// checker knows of it: its value read back at the last arm or reload, less a
// unit for rounding, at the fastest rate that the tolerance could hide (or
// faster where it was seen counting faster).
inline constexpr Clock::duration kMargin = 2s;
// What a step may take between two looks at the clock while the watchdog may
// be armed; the margin is kept with this much to spare, so between two looks
// that keep to it the watchdog never comes within the margin. A longer gap is
// a stall (stopped with SIGSTOP, starved of processor time): nothing was
// reloaded in it and what was measured across it is void, so the checker
// disarms at once and the run cannot be judged. Generous, so that a loaded
// machine does not stall it (the tests under ThreadSanitizer, several at
// once on two cores, keep each gap well under it); the price is less room
// for the countdown at the shortest timeouts.
inline constexpr Clock::duration kSlack = 500ms;

// The pretimeout as sysfs showed it at the start, in seconds; 0 if none.
std::uint32_t FoundPretimeout(const Settings& settings);

class MarginPlan {
 public:
  // What the margin keeps, with the slack of one look to spare: 2.5 s.
  static constexpr Clock::duration kKeep = kMargin + kSlack;
  // The countdown's watch ends this many units above the end (or the
  // pretimeout that fires first).
  static constexpr std::uint32_t kMarginUnits = 2;

  MarginPlan(std::uint32_t timeout, std::uint32_t pretimeout, double tolerance_pct);

  // Seconds per unit of the fastest counter that the tolerance could hide
  // (0.95 at 5 %), or of the counter where it was seen counting faster.
  double Fastest() const { return fastest_; }
  // The counter was seen counting at `seconds_per_unit` (by the latest fit
  // of its changes): every margin from now on is kept at that rate where it
  // is faster than the tolerance allows.
  void SeenCounting(double seconds_per_unit);
  // The pretimeout that fires before a load of `loaded` runs out, 0 if none
  // does: one set below it that the run did not ask to fire.
  std::uint32_t Before(std::uint32_t loaded) const;
  // Why a load of `loaded` is not made, where its pretimeout would come
  // within the margin at once; empty where it keeps the margin.
  std::string Crowded(std::uint32_t loaded) const;
  // The earliest that the watchdog may run out after a load of `loaded`
  // that read back `shown` at `at`: less a unit for a driver that rounds up
  // and less the pretimeout that fires first, at the fastest rate (Fastest).
  Clock::time_point Expiry(Clock::time_point at, std::uint32_t shown, std::uint32_t loaded) const;
  // The last look at the clock that keeps the margin from an expiry.
  static Clock::time_point SafeUntil(Clock::time_point expiry) { return expiry - kKeep; }
  // When a counter seen counting faster than one unit a second (seconds per
  // unit below 1) runs out from `shown` read at `at`.
  static Clock::time_point FastExpiry(Clock::time_point at, std::uint32_t shown, double seconds_per_unit);
  // Whether a reload to `value` keeps the margin, at the fastest rate.
  bool ReloadKeepsMargin(std::uint32_t value) const;
  // Whether a counter that shows `shown` after a load of the timeout is
  // within the margin's units of its end (or of the pretimeout's): the
  // countdown's watch stops there.
  bool NearEnd(std::uint32_t shown) const;
  // Whether a wait of `wait_s` after a load of the timeout keeps the margin,
  // with the pretimeout asked to fire (the bark's wait).
  bool KeepsMarginFor(double wait_s) const;
  // The pretimeout no longer fires first: cleared for the reset's wait, or
  // asked to fire for its bark.
  void PretimeoutGone() { pretimeout_ = 0; }

 private:
  std::uint32_t timeout_;
  std::uint32_t pretimeout_;  // fires first while it is not gone; 0 none
  double tolerated_;  // 1 - the tolerance
  double fastest_;    // the tolerated rate, or the faster one seen
};

}  // namespace check
