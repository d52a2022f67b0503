// The simulated watchdog's behaviours: the ways in which it lies about itself,
// so that a checker can be shown to catch each.
//
// Grammar (no spaces): an empty text, or entries separated by commas, each
//   frozen          reads show the value of the last arm or reload: the counter
//                   never moves (the watchdog still runs out in time)
//   rate=R          it counts R units per second and runs out after timeout / R
//                   seconds; R is 1 to 3 digits, optionally '.' and 1 to 6 digits,
//                   from 0.01 to 100
//   grant=N         timeouts and reloads above N units are silently cut to N;
//                   N a whole number from 1 to 255 (decimal digits only)
//   ignore-reload   WriteTimerValue returns 0 and does nothing
//   ignore-disarm   DisableTimer returns 0 and the watchdog counts on
//   round=up        reads round a part of a unit up: 30 right after arming for
//                   30 (the default)
//   round=down      reads round it down: 29 right after arming for 30
//   step=S          the counter moves in steps of S seconds, as some chipsets
//                   count: the time left is taken up to a whole step before
//                   it is shown; S is 1 or 2 digits, optionally '.' and 1 to 3
//                   digits, from 0.01 to 10
//   stall=U         after U units from each arm or reload, the counter stops
//                   for good and the watchdog never runs out; U is 1 to 3
//                   digits, optionally '.' and 1 to 3 digits, from 0.001 to 255
//   jump=N          half a unit after each arm or reload, it loses N units at
//                   once, then counts on; N a whole number from 1 to 255
// Each behaviour is given at most once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "status_codes.h"

namespace sim {

inline constexpr double kMinRate = 0.01;
inline constexpr double kMaxRate = 100;
inline constexpr std::uint32_t kMinGrant = 1;
inline constexpr double kMinStep = 0.01;
inline constexpr double kMaxStep = 10;
inline constexpr double kMinStall = 0.001;
inline constexpr std::uint32_t kMinJump = 1;

struct Behaviour {
  bool frozen = false;
  double rate = 1.0;
  std::uint32_t grant = wdt::kMaxTimeout;
  bool ignore_reload = false;
  bool ignore_disarm = false;
  bool round_down = false;
  double step = 0;  // seconds; 0: it moves smoothly
  double stall = 0;  // units; 0: it never stalls
  std::uint32_t jump = 0;
  bool operator==(const Behaviour&) const = default;
};

struct BehaviourList {
  Behaviour behaviour;
  std::string error;  // empty when the text was valid; then says what is wrong
};

BehaviourList ParseBehaviour(std::string_view text);

}  // namespace sim
