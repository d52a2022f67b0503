// Everything that a run acts on outside itself, grouped by concern, each a
// named member: the library's operations; the clock, the sleep and the stop;
// what the run says as it goes; the reset proof's record and boot; what the
// kernel says and takes. main.cpp fills it from the platform, the tests from
// the simulated watchdog and a clock of their own.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "operations.h"
#include "report.h"
#include "settings.h"
#include "watchdog_facts.h"

namespace check {

struct Seam {
  // The six operations and the optional ones (set_pretimeout,
  // accept_pretimeout), null where the library lacks them.
  wdt::Operations wdt;

  struct Time {
    std::function<Clock::time_point()> now{};
    std::function<void(Clock::duration)> sleep{};
    // What asked the run to stop ("a signal", "SIGTSTP"), empty while nothing did.
    std::function<std::string()> stop_requested{};
  } time{};

  struct Output {
    // Each check as soon as it is judged, with its number from 1.
    std::function<void(const Check&, std::size_t number)> judged{};
    // A line of progress while the watchdog is left to run out.
    std::function<void(std::string_view line)> said{};
  } output{};

  // The reset proof's: the wall clock (seconds since the epoch), this boot's
  // identity, the record replaced whole (empty, or why it was not written),
  // a beat written in place at an offset of it (the same), and the record
  // read (empty, or why it cannot be read).
  struct ResetProof {
    std::function<double()> wall_now{};
    std::function<std::optional<std::string>()> boot_id{};
    std::function<std::string(std::string_view contents)> write_record{};
    std::function<std::string(std::string_view bytes, std::size_t offset)> write_in_place{};
    std::function<std::string(std::string* contents)> read_record{};
  } reset{};

  // What the kernel says and takes: what sysfs says now of the device at a
  // path (WDT_DEVICE, the record's), where it knows one; the governor of a
  // watchdog set through sysfs (empty, or why not); the kernel's log,
  // watched from now on (empty, or why it cannot be read), then when a line
  // was logged since, if it was.
  struct Kernel {
    std::function<std::optional<sysfs::Facts>(const std::string& device)> facts_of{};
    std::function<std::string(const std::string& watchdog, std::string_view governor)> set_governor{};
    std::function<std::string()> watch_log{};
    std::function<std::optional<Clock::time_point>(std::string_view message)> logged{};
  } kernel{};

  // The machine's sleep (--suspend): the states that the kernel offers (its
  // words, none if unknown) and what mem means there (deep, s2idle); whether
  // there is a wake alarm and the rights to write it and the state; the wake
  // alarm set (the one before it kept) and put back (each empty, or why
  // not); the sleep, which returns once the machine woke (empty, or why it
  // did not sleep); the boot clock in seconds, which counts the sleep.
  struct Sleep {
    std::function<std::optional<std::string>()> states{};
    std::function<std::string()> mem_sleep{};
    std::function<bool()> wake_alarm{};
    std::function<bool()> may_sleep{};
    std::function<std::string(unsigned seconds, std::string* previous)> set_wake_alarm{};
    std::function<std::string(const std::string& previous)> put_back_wake_alarm{};
    std::function<std::string(std::string_view state)> sleep{};
    std::function<double()> boot_clock{};
  } sleep{};

  // The dead kernel's road (--hang): empty, or why this kernel cannot be
  // crashed from here; a kernel setting read (kernel.panic, kernel.sysrq) or
  // written (empty, or why not); the crash, which returns only if the kernel
  // lives on (why). After the reset: when this boot began by the real-time
  // clock (seconds since the epoch), or why no clock says so.
  struct Crash {
    std::function<std::string()> refusal{};
    std::function<std::optional<std::string>(const char* name)> setting{};
    std::function<std::string(const char* name, const std::string& value)> set{};
    std::function<std::string()> crash{};
    std::function<std::variant<double, std::string>()> boot_began{};
  } crash{};
};

}  // namespace check
