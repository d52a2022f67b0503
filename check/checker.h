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

#include "operations.h"
#include "record.h"
#include "status_codes.h"
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


// What a run does: the checks; the checks with the pretimeout's bark among
// them; or the two halves of the reset proof, joined by a record on disk:
// let the watchdog run out (expire), and after the machine came back, judge
// the reset (after reset).
enum class Mode { kCheck, kPretimeout, kExpire, kAfterReset };

// The checks' names, in the order in which they run.
std::vector<std::string_view> CheckNames(Mode mode = Mode::kCheck);

struct Settings {
  Mode mode = Mode::kCheck;
  std::string record{};  // the reset proof's record file
  std::uint32_t timeout = kDefaultTimeout;   // seconds, kMinTimeout..kMaxTimeout
  std::uint32_t pretimeout = 0;  // kPretimeout: seconds, 1..timeout-1
  double tolerance_pct = kDefaultTolerancePct;
  // WDT_DEVICE, empty for the library's own watchdog; what sysfs said of it
  // at the start, where it knows it.
  std::string device_path{};
  std::optional<sysfs::Facts> device{};
};

enum class Result { kPass, kFail, kSkip };

// A measured figure: its JSON name and its value as a JSON number.
struct Figure {
  std::string name;
  std::string value;
  bool operator==(const Figure&) const = default;
};

// What a check's verdict rests on.
enum class Evidence {
  kNone,           // skipped
  kCallStatus,     // a call's status alone (open, close)
  kHardware,       // values read from the watchdog
  kLibraryCount,   // values that the library counts itself: the driver reports no time left
  kKernelState,    // the kernel's word on whether the watchdog runs (sysfs state)
  kKernelLog,      // the kernel's own record of an event, with its time
};

struct Check {
  std::string name;
  Result result = Result::kSkip;
  std::string detail;
  std::vector<Figure> figures;
  double time_s = 0;  // from the end of the check before
  Evidence evidence = Evidence::kNone;
};

enum class Verdict { kPass, kFail, kCannotRun };

struct Report {
  Verdict verdict = Verdict::kCannotRun;
  std::vector<Check> checks;  // all six, in order
  // What ended the run early, empty if nothing did: "stopped by a signal",
  // "stopped by SIGTSTP", "stalled for 3.2 s".
  std::string stopped;
  double duration_s = 0;
  // Set where the run ends with the watchdog still running (a driver loaded
  // with nowayout): seconds until it resets the machine, by the last read.
  std::optional<std::uint32_t> left_running_s{};
  // What the run changed on the device and put back as it found it
  // ("timeout 60 s, pretimeout 5 s, governor panic"), and what it could not
  // put back, with why; each empty if none.
  std::string put_back{};
  std::string not_put_back{};
};

// "the driver was loaded with nowayout: the watchdog is left running and
// resets the machine in 28 s unless something feeds it"; empty if it is not.
std::string LeftRunning(const Report& report);

struct Seam {
  wdt::Operations wdt;
  // What sysfs says now of the device at a path (WDT_DEVICE, the record's),
  // where it knows one.
  std::function<std::optional<sysfs::Facts>(const std::string& device)> facts_of;
  std::function<Clock::time_point()> now;
  std::function<void(Clock::duration)> sleep;
  // What asked the run to stop ("a signal", "SIGTSTP"), empty while nothing did.
  std::function<std::string()> stop_requested;
  // Each check as soon as it is judged, with its number from 1.
  std::function<void(const Check&, std::size_t number)> judged;
  // The reset proof's: the wall clock (seconds since the epoch), this boot's
  // identity, the record replaced whole (empty, or why it was not written),
  // a beat written in place at an offset of it (the same), the record read
  // (empty, or why it cannot be read), and a line of progress while the
  // watchdog is left to run out.
  std::function<double()> wall_now{};
  std::function<std::optional<std::string>()> boot_id{};
  std::function<std::string(std::string_view contents)> write_record{};
  std::function<std::string(std::string_view bytes, std::size_t offset)> write_in_place{};
  std::function<std::string(std::string* contents)> read_record{};
  std::function<void(std::string_view line)> said{};
  // The pretimeout's (the library's optional SetPretimeout is in wdt): the
  // governor of a watchdog set through sysfs (empty, or why not); and the
  // kernel's log: watched from now on (empty, or why it cannot be read), then
  // when a line was logged since, if it was.
  std::function<std::string(const std::string& watchdog, std::string_view governor)> set_governor{};
  std::function<std::string()> watch_kernel_log{};
  std::function<std::optional<Clock::time_point>(std::string_view message)> kernel_logged{};
};

// Runs the six checks in order. Whatever happens, a session that opened is
// disarmed and closed before it returns.
Report RunChecks(const Settings& settings, const Seam& seam);

// 0 pass, 1 a check failed, 2 it could not run.
int ExitStatus(Verdict verdict);

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
