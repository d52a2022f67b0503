#include "arguments.h"

#include <algorithm>

#include "parse.h"
#include "printable.h"

namespace check {
namespace {

constexpr const char* kPretimeoutAlone = "--pretimeout checks the bark among the checks: not with the reset proof";

}  // namespace

Arguments ParseArguments(const std::vector<std::string_view>& arguments) {
  Arguments parsed;
  const auto bad = [&](std::string error) {
    parsed.action = Arguments::Action::kBad;
    parsed.error = std::move(error);
    // The refusal is a JSON document too when one was asked for.
    parsed.json = std::find(arguments.begin(), arguments.end(), "--json") != arguments.end();
    return parsed;
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (argument == "--json") {
      parsed.json = true;
    } else if (argument == "--help" || argument == "--version" || argument == "--list") {
      if (parsed.action == Arguments::Action::kRun) {
        parsed.action = argument == "--help"      ? Arguments::Action::kHelp
                        : argument == "--version" ? Arguments::Action::kVersion
                                                  : Arguments::Action::kList;
      }
    } else if (argument == "--junit" || argument == "--expire" || argument == "--after-reset") {
      if (i + 1 == arguments.size()) return bad(std::string(argument) + " needs a value");
      const std::string_view value = arguments[++i];
      if (value.empty()) return bad(std::string(argument) + " takes a file's path, not ''");
      if (argument == "--junit") {
        parsed.junit = std::string(value);
      } else {
        const Mode mode = argument == "--expire" ? Mode::kExpire : Mode::kAfterReset;
        if (parsed.settings.mode == Mode::kPretimeout) return bad(kPretimeoutAlone);
        if (parsed.settings.mode != Mode::kCheck) {
          return bad("--expire and --after-reset are the two halves of the reset proof: give one");
        }
        parsed.settings.mode = mode;
        parsed.settings.record = std::string(value);
      }
    } else if (argument == "--hang") {
      if (i + 1 == arguments.size()) return bad("--hang needs a value");
      if (arguments[++i] != "panic") return bad("--hang takes panic, not '" + wdt::Printable(arguments[i]) + "'");
      parsed.settings.hang = "panic";
    } else if (argument == "--pretimeout") {
      if (i + 1 == arguments.size()) return bad("--pretimeout needs a value");
      const std::string_view value = arguments[++i];
      const auto pretimeout = wdt::WholeNumber(value, 1u, kMaxTimeout - 1);
      if (!pretimeout) {
        return bad("--pretimeout takes a whole number of seconds below the timeout, not '" + wdt::Printable(value) +
                   "'");
      }
      if (parsed.settings.mode != Mode::kCheck && parsed.settings.mode != Mode::kPretimeout) {
        return bad(kPretimeoutAlone);
      }
      parsed.settings.mode = Mode::kPretimeout;
      parsed.settings.pretimeout = *pretimeout;
    } else if (argument == "--timeout" || argument == "--tolerance") {
      if (i + 1 == arguments.size()) return bad(std::string(argument) + " needs a value");
      const std::string_view value = arguments[++i];
      if (argument == "--timeout") {
        const auto timeout = wdt::WholeNumber(value, kMinTimeout, kMaxTimeout);
        if (!timeout) {
          return bad("--timeout takes a whole number of seconds " + wdt::FromTo(kMinTimeout, kMaxTimeout) +
                     ", not '" + wdt::Printable(value) + "'");
        }
        parsed.settings.timeout = *timeout;
      } else {
        const auto tolerance = wdt::DecimalNumber(value, 9, 9);  // up to 9 digits each side
        if (!tolerance || *tolerance <= 0 || *tolerance > kMaxTolerancePct) {
          return bad("--tolerance takes a percentage above 0 and at most " + wdt::LimitText(kMaxTolerancePct) +
                     ", not '" + wdt::Printable(value) + "'");
        }
        parsed.settings.tolerance_pct = *tolerance;
      }
    } else if (argument == "--suspend" || argument == "--suspend-for") {
      if (i + 1 == arguments.size()) return bad(std::string(argument) + " needs a value");
      const std::string_view value = arguments[++i];
      if (argument == "--suspend") {
        if (value != "freeze" && value != "mem") {
          return bad("--suspend takes freeze or mem, as /sys/power/state names them, not '" + wdt::Printable(value) +
                     "'");
        }
        parsed.settings.suspend = std::string(value);
      } else {
        const auto seconds = wdt::WholeNumber(value, 1u, kMaxSuspendFor);
        if (!seconds) {
          return bad("--suspend-for takes a whole number of seconds " + wdt::FromTo(1u, kMaxSuspendFor) + ", not '" +
                     wdt::Printable(value) + "'");
        }
        parsed.settings.suspend_for = *seconds;
      }
    } else {
      return bad("unknown argument '" + wdt::Printable(argument) + "'");
    }
  }
  if (parsed.settings.mode == Mode::kPretimeout && parsed.settings.pretimeout >= parsed.settings.timeout) {
    return bad("--pretimeout " + std::to_string(parsed.settings.pretimeout) + " is not below the timeout of " +
               std::to_string(parsed.settings.timeout) + " s");
  }
  Settings& settings = parsed.settings;
  if (settings.suspend_for != 0 && settings.suspend.empty()) {
    return bad("--suspend-for is the length of --suspend's sleep");
  }
  if (!settings.suspend.empty() && !settings.hang.empty()) {
    return bad("--suspend and --hang are two roads to the reset: give one of them");
  }
  if (!settings.suspend.empty()) {
    if (settings.mode != Mode::kExpire) {
      return bad("--suspend sleeps within the reset proof: give it with --expire FILE");
    }
    if (settings.suspend_for != 0 && settings.suspend_for <= settings.timeout) {
      return bad("--suspend-for " + std::to_string(settings.suspend_for) + " is not above the timeout of " +
                 std::to_string(settings.timeout) + " s: the watchdog would not run out while the machine sleeps");
    }
    settings.mode = Mode::kSuspend;
  }
  if (!settings.hang.empty()) {
    if (settings.mode != Mode::kExpire) {
      return bad("--hang crashes the kernel after --expire's last reload: give --expire FILE");
    }
    settings.mode = Mode::kHang;
  }
  return parsed;
}

}  // namespace check
