// wdt-check's command line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "settings.h"
#include "parse.h"

namespace check {

inline const std::string kUsage =
    "Usage: wdt-check [--timeout N] [--tolerance PCT] [--pretimeout P] [--json] [--junit FILE]\n"
    "       wdt-check --expire FILE [--timeout N] [--json] [--junit FILE]\n"
    "       wdt-check --expire FILE --suspend freeze|mem [--suspend-for S] [--timeout N] [--json] [--junit FILE]\n"
    "       wdt-check --expire FILE --hang panic [--timeout N] [--json] [--junit FILE]\n"
    "       wdt-check --after-reset FILE [--json] [--junit FILE]\n"
    "       wdt-check --list [--json]\n"
    "       wdt-check --help | --version\n"
    "Checks a watchdog through wdtDLL, one TAP line per check, in this order:\n"
    "  open, arm, countdown, reload, disarm, close\n"
    "  with --pretimeout: open, arm, countdown, reload, pretimeout, disarm, close\n"
    "  with --expire: open, arm, reload, expire, disarm, close\n"
    "  with --expire --suspend: open, arm, reload, suspend, resume, expire, disarm, close\n"
    "  with --expire --hang: open, arm, reload, crash, disarm, close\n"
    "  with --after-reset: record, rebooted, on-time, cause\n"
    "  --timeout N      arm for N seconds, " + wdt::LimitText(kMinTimeout) + " to " + wdt::LimitText(kMaxTimeout) +
    " (default " + wdt::LimitText(kDefaultTimeout) + ")\n"
    "  --tolerance PCT  how far the countdown may be from one second per unit, in\n"
    "                   percent: above 0, at most " + wdt::LimitText(kMaxTolerancePct) +
    " (default " + wdt::LimitText(kDefaultTolerancePct) + ")\n"
    "  --pretimeout P   also check the bark: set the pretimeout to P seconds (below\n"
    "                   the timeout) under the noop governor, and time its event\n"
    "                   in the kernel log against the last reload\n"
    "  --json           print one JSON document instead of TAP\n"
    "  --junit FILE     also write the report as JUnit XML to FILE, for CI servers\n"
    "  --expire FILE    let the armed watchdog run out to reset the machine, with a\n"
    "                   record in FILE; fails if the machine is still alive after\n"
    "                   twice the timeout and 10 s more\n"
    "  --suspend STATE  with --expire: after the last reload, sleep (freeze or mem,\n"
    "                   as /sys/power/state names them) for longer than the timeout,\n"
    "                   woken by the RTC's wake alarm; fails if the watchdog resets\n"
    "                   the machine during the sleep (said after the reset), if its\n"
    "                   time left stands still after the resume, or if it does not\n"
    "                   reset the machine after the reload that follows the resume\n"
    "  --suspend-for S  sleep S seconds, above the timeout (default the timeout + 10)\n"
    "  --hang panic     with --expire, as root: crash the kernel after the last\n"
    "                   reload (sysrq 'c', kernel.panic set to 0), so that only the\n"
    "                   watchdog can reset the machine; refused for softdog\n"
    "  --after-reset FILE  after the reset: judge it on the record in FILE\n"
    "  --list           list every watchdog that sysfs knows of, opening none\n"
    "  --help           print this text\n"
    "  --version        print the version\n"
    "Exit status: 0 every check passed, 1 a check failed, 2 it could not run.\n";

struct Arguments {
  enum class Action { kRun, kHelp, kVersion, kList, kBad } action = Action::kRun;
  Settings settings;
  bool json = false;  // kBad too: whether --json was among the arguments
  std::string junit;  // the JUnit report's path, or empty
  std::string error;  // kBad: what is wrong, one line without its end
};

// The arguments after the program's name. The first bad one wins.
Arguments ParseArguments(const std::vector<std::string_view>& arguments);

}  // namespace check
