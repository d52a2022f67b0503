// What a run of wdt-check is asked to do: its mode, the timeout, the
// pretimeout, the tolerance, and the device as sysfs showed it at the start;
// the limits that the command line keeps them within.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "status_codes.h"
#include "watchdog_description.h"
#include "watchdog_facts.h"

namespace check {

using namespace std::chrono_literals;
// The boot's monotonic clock (CLOCK_MONOTONIC on Linux), which nothing sets:
// every duration that a verdict rests on is measured on it.
using Clock = std::chrono::steady_clock;

inline constexpr std::uint32_t kDefaultTimeout = 30;
inline constexpr std::uint32_t kMinTimeout = 5;
using wdt::kMaxTimeout;
inline constexpr double kDefaultTolerancePct = 5;
inline constexpr double kMaxTolerancePct = 50;
inline constexpr std::uint32_t kMaxSuspendFor = 86400;

// What a run does: the checks; the checks with the pretimeout's bark among
// them; or the two halves of the reset proof, joined by a record on disk:
// let the watchdog run out (expire), and after the machine came back, judge
// the reset (after reset).
// kSuspend is --expire with --suspend: the machine sleeps between the last
// reload and the wait. kHang is --expire with --hang: the kernel is crashed
// after the last reload, so that only the watchdog can reset the machine.
enum class Mode { kCheck, kPretimeout, kExpire, kAfterReset, kSuspend, kHang };

struct Settings {
  Mode mode = Mode::kCheck;
  std::string record{};  // the reset proof's record file
  std::string hang{};    // kHang: the kernel's way of dying ("panic")
  std::uint32_t timeout = kDefaultTimeout;   // seconds, kMinTimeout..kMaxTimeout
  std::uint32_t pretimeout = 0;  // kPretimeout: seconds, 1..timeout-1
  double tolerance_pct = kDefaultTolerancePct;
  // WDT_DEVICE, empty for the library's own watchdog; what sysfs said of it
  // at the start, where it knows it.
  std::string device_path{};
  std::optional<sysfs::Facts> device{};
  // The watchdog as the library describes it: simulated, a kernel device,
  // or a library that does not say.
  Watchdog watchdog{};
  // kSuspend: the sleep's state as /sys/power/state names it (freeze, mem),
  // and its length in seconds (0: the timeout and 10 s more).
  std::string suspend{};
  std::uint32_t suspend_for = 0;
};

}  // namespace check
