// Fuzz target over wdt-check's command line: the input is its arguments, each
// ended by a NUL byte (as no argument can hold one). The parser must never
// crash, must take exactly the arguments that the usage allows (read here a
// second, plain way) with the values they give, and must name the first bad
// one in printable bytes.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.h"
#include "printable.h"
#include "property.h"

namespace {

using check::Arguments;
using fuzz::Require;

// What a refusal must say: it starts with `first` and ends with `last`.
struct Refusal {
  std::string first;
  std::string last;
};

constexpr const char* kAlone = "--pretimeout checks the bark among the checks: not with the reset proof";

// The command line read a second way: the arguments it means, or the refusal.
Arguments Expected(const std::vector<std::string_view>& arguments, Refusal& refusal) {
  Arguments meant;
  const auto bad = [&](std::string first, std::string last) {
    meant.action = Arguments::Action::kBad;
    refusal = {std::move(first), std::move(last)};
    return meant;
  };
  // Each of these stands for what wdt-check does instead of a run; the first given wins.
  const std::map<std::string_view, Arguments::Action> instead = {
      {"--help", Arguments::Action::kHelp},
      {"--version", Arguments::Action::kVersion},
      {"--list", Arguments::Action::kList},
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    const bool timeout = argument == "--timeout";
    const auto action = instead.find(argument);
    if (argument == "--json") {
      meant.json = true;
    } else if (argument == "--junit" || argument == "--expire" || argument == "--after-reset") {
      if (i + 1 == arguments.size()) return bad(std::string(argument) + " needs a value", "");
      if (arguments[++i].empty()) return bad(std::string(argument) + " takes a file's path, not ''", "");
      if (argument == "--junit") {
        meant.junit = std::string(arguments[i]);
      } else if (meant.settings.mode == check::Mode::kPretimeout) {
        return bad(kAlone, "");
      } else if (meant.settings.mode != check::Mode::kCheck) {
        return bad("--expire and --after-reset are the two halves of the reset proof: give one", "");
      } else {
        meant.settings.mode = argument == "--expire" ? check::Mode::kExpire : check::Mode::kAfterReset;
        meant.settings.record = std::string(arguments[i]);
      }
    } else if (argument == "--pretimeout") {
      if (i + 1 == arguments.size()) return bad("--pretimeout needs a value", "");
      const std::string_view value = arguments[++i];
      const auto seconds = fuzz::Digits(value, 255);
      if (!seconds || *seconds < 1 || *seconds > 254) {
        return bad("--pretimeout takes ", ", not '" + wdt::Printable(value) + "'");
      }
      if (meant.settings.mode == check::Mode::kExpire || meant.settings.mode == check::Mode::kAfterReset) {
        return bad(kAlone, "");
      }
      meant.settings.mode = check::Mode::kPretimeout;
      meant.settings.pretimeout = static_cast<std::uint32_t>(*seconds);
    } else if (action != instead.end()) {
      if (meant.action == Arguments::Action::kRun) meant.action = action->second;
    } else if (!timeout && argument != "--tolerance") {
      return bad("unknown argument '" + wdt::Printable(argument) + "'", "");
    } else if (i + 1 == arguments.size()) {
      return bad(std::string(argument) + " needs a value", "");
    } else {
      const std::string_view value = arguments[++i];
      // Seconds from 5 to 255; a percentage above 0 and at most 50, in billionths.
      const auto number = timeout ? fuzz::Digits(value, 255) : fuzz::Scaled(value, 9, 9);
      if (!number || *number < (timeout ? 5ULL : 1ULL) || *number > (timeout ? 255ULL : 50'000'000'000ULL)) {
        return bad(std::string(argument) + " takes ", ", not '" + wdt::Printable(value) + "'");
      }
      if (timeout) meant.settings.timeout = static_cast<std::uint32_t>(*number);
      if (!timeout) meant.settings.tolerance_pct = static_cast<double>(*number) / 1e9;
    }
  }
  if (meant.settings.mode == check::Mode::kPretimeout && meant.settings.pretimeout >= meant.settings.timeout) {
    return bad("--pretimeout " + std::to_string(meant.settings.pretimeout) + " is not below the timeout of " +
                   std::to_string(meant.settings.timeout) + " s",
               "");
  }
  return meant;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> arguments;
  for (std::size_t start = 0, end = 0; start < input.size(); start = end + 1) {
    end = std::min(input.find('\0', start), input.size());
    arguments.push_back(input.substr(start, end - start));
  }
  const Arguments parsed = check::ParseArguments(arguments);
  Refusal refusal;
  const Arguments expected = Expected(arguments, refusal);

  Require(parsed.action == expected.action, "the arguments are taken otherwise than the usage says");
  if (parsed.action == Arguments::Action::kBad) {
    Require(fuzz::Printable(parsed.error), "a refusal shows a byte that is not printable");
    Require(parsed.error.starts_with(refusal.first) && parsed.error.ends_with(refusal.last) &&
                (!refusal.last.empty() || parsed.error == refusal.first),
            "a refusal does not name the first bad argument");
    return 0;
  }
  Require(parsed.error.empty(), "arguments taken with an error");
  Require(parsed.json == expected.json && parsed.settings.timeout == expected.settings.timeout &&
              parsed.junit == expected.junit && parsed.settings.mode == expected.settings.mode &&
              parsed.settings.record == expected.settings.record &&
              parsed.settings.pretimeout == expected.settings.pretimeout,
          "the parsed --json, --timeout, --junit, record or --pretimeout differs from the arguments");
  Require(std::abs(parsed.settings.tolerance_pct - expected.settings.tolerance_pct) <=
              1e-12 * expected.settings.tolerance_pct,
          "the parsed --tolerance differs from the argument");
  return 0;
}
