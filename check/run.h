// The run engine: the steps of a mode (steps.h) in order, each check judged
// and said as it ends, the first one the gate for the rest; the stop and the
// stall watch; whether the watchdog is armed; the margin from the last load;
// the verdict. The checks (checks.h) act through it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "margin_plan.h"
#include "record.h"
#include "report.h"
#include "seam.h"
#include "settings.h"
#include "status_codes.h"

namespace check {

// The checks' names, in the order in which they run.
std::vector<std::string_view> CheckNames(Mode mode = Mode::kCheck);

// Runs the checks of settings.mode in order. Whatever happens, a session
// that opened is disarmed and closed before it returns.
Report RunChecks(const Settings& settings, const Seam& seam);

// Whether the watchdog may be armed, as far as the run knows.
enum class Armed {
  kNo,        // not armed yet, or disarmed since
  kMaybe,     // the arm was asked for: it may run, whatever the call returned; nothing read back
  kKnown,     // armed, and a value read back: the margin is known
  kReleased,  // it may run, but the run holds it no longer: left to run out, or its disarm asked for
};

class Run {
 public:
  struct Reading {
    StatusCode status;
    std::uint32_t value;
    Clock::time_point at;  // halfway through the call
  };

  Run(const Settings& settings, const Seam& seam);
  Report Go();

  const Settings& settings() const { return settings_; }
  const Seam& seam() const { return seam_; }
  const wdt::Operations& wdt() const { return seam_.wdt; }

  // A stop asked for, a stall seen or the run ended: the checks still to
  // come are skipped, with what ended it.
  bool Stop();
  Check Stopped(std::string_view name) const;
  // Ends the run early with why, unless something ended it before.
  void End(std::string why);
  const std::string& ended() const { return report_.stopped; }

  // Every look at the clock; while the run holds the watchdog armed, one
  // that comes more than kSlack after the last is a stall.
  Clock::time_point Now();
  Reading Read();

  Armed armed() const { return armed_; }
  // Just before the arm's call: from now on gaps are stalls.
  void Arming();
  // A value read back after the arm.
  void Known() { armed_ = Armed::kKnown; }
  // Held no longer: left to run out, or about to be disarmed.
  void Release();
  void Disarmed() { armed_ = Armed::kNo; }

  const MarginPlan& plan() const { return plan_; }
  // The pretimeout no longer fires first: cleared, or asked to fire.
  void PretimeoutGone() { plan_.PretimeoutGone(); }
  // The counter was seen counting faster than one unit a second.
  void SeenCounting(double seconds_per_unit) { plan_.SeenCounting(seconds_per_unit); }
  // The margin from now on, after a load of `loaded` that read back as `reading`.
  void Loaded(const Reading& reading, std::uint32_t loaded);
  // The last look at the clock that keeps the margin, by the last load.
  Clock::time_point SafeUntil() const { return MarginPlan::SafeUntil(expiry_); }

  // The driver has no time left of its own (softdog, i6300esb): what the
  // library reads back is its own count, no measurement. What a value read
  // back rests on, and the words that say so where it is the library's count.
  bool LibraryCounts() const;
  Evidence ReadBack() const;
  std::string ReadBackNote() const;
  // After a reset: the watchdog that the record names was the one checked.
  void Checked(Watchdog watchdog);

  // What the report says besides the checks: seconds until a watchdog left
  // running resets the machine; what was put back as found, and what not.
  void LeavesRunning(std::uint32_t seconds) { report_.left_running_s = seconds; }
  void PutBackSaid(std::string put_back, std::string not_put_back);

  // What a check leaves for those after it.
  struct Learned {
    Clock::time_point armed_at{};          // the end of the arm's call
    // What the arm read back where it was above the timeout: a time left that
    // is not this watchdog's, which then judges nothing; 0 if it was not.
    std::uint32_t false_counter = 0;
    // The reset proof's: its record (as written before the wait, or as read
    // after the reset), whether it is on disk (how the wait ended must then
    // be said in it), the last reload on this clock and whether it read back.
    ResetRecord record{};
    bool recorded = false;
    Clock::time_point reloaded_at{};
    bool reload_took = false;
  } learned{};

 private:
  void Judge(Check check);
  // The first check passed: the session is open, the record read.
  bool PastTheGate() const;

  const Settings& settings_;
  const Seam& seam_;
  const Clock::time_point started_;
  Report report_;
  Clock::time_point judged_at_{};  // the end of the check before
  Armed armed_ = Armed::kNo;
  Clock::time_point last_look_{};
  Clock::duration stall_{};        // the first stall seen, zero if none
  MarginPlan plan_;
  Clock::time_point expiry_{};     // the earliest that the armed watchdog may run out
};

}  // namespace check
