// Fuzz target over wdt-check's command line: the input is its arguments, each
// ended by a NUL byte (as no argument can hold one). The parser must never
// crash, and what it gives must hold these properties:
//  - a refusal says why in printable bytes, names an argument that was given,
//    and still knows whether --json was among them;
//  - an accepted line holds only the options that the usage text names, each
//    followed by a value where the usage gives it one; each value taken is in
//    its range and is what the option's last argument says, read plainly;
//  - the arguments are read in order, each on its own: an option put before
//    a line changes only what it sets, one put after an accepted line sets its
//    value over the line's, or is refused where the usage does not allow it;
//  - what an accepted line gave, written out as a command line, gives the same.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "arguments.h"
#include "printable.h"
#include "property.h"

namespace {

using check::Arguments;
using check::Mode;
using fuzz::Require;
using Line = std::vector<std::string_view>;

// The options that the usage text names, each with whether it takes a value
// there ("--timeout N": a word in capitals follows it).
const std::map<std::string, bool, std::less<>>& UsageOptions() {
  static const auto options = [] {
    std::map<std::string, bool, std::less<>> named;
    std::istringstream text(check::kUsage);
    std::vector<std::string> words;
    for (std::string word; text >> word;) {
      word.erase(std::remove_if(word.begin(), word.end(), [](char c) { return c == '[' || c == ']'; }), word.end());
      words.push_back(word);
    }
    for (std::size_t i = 0; i < words.size(); ++i) {
      if (!words[i].starts_with("--")) continue;
      const auto capital = [](char c) { return c >= 'A' && c <= 'Z'; };
      const bool value = i + 1 < words.size() && !words[i + 1].empty() &&
                         std::all_of(words[i + 1].begin(), words[i + 1].end(), capital);
      named[words[i]] = named[words[i]] || value;
    }
    return named;
  }();
  return options;
}

// A line read as the usage writes it: each option with the value after it
// where it takes one; nothing when an argument is no option or a value is missing.
std::optional<std::vector<std::pair<std::string_view, std::string_view>>> AsTheUsageWritesIt(const Line& line) {
  std::vector<std::pair<std::string_view, std::string_view>> options;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto option = UsageOptions().find(line[i]);
    if (option == UsageOptions().end()) return std::nullopt;
    if (!option->second) {
      options.emplace_back(line[i], "");
    } else if (i + 1 < line.size()) {
      options.emplace_back(line[i], line[i + 1]);
      ++i;
    } else {
      return std::nullopt;
    }
  }
  return options;
}

bool Holds(const Line& line, std::string_view argument) {
  return std::find(line.begin(), line.end(), argument) != line.end();
}

bool Same(const Arguments& a, const Arguments& b) {
  return a.action == b.action && a.error == b.error && a.json == b.json && a.junit == b.junit &&
         a.settings.mode == b.settings.mode && a.settings.record == b.settings.record &&
         a.settings.timeout == b.settings.timeout && a.settings.pretimeout == b.settings.pretimeout &&
         a.settings.tolerance_pct == b.settings.tolerance_pct;
}

Arguments Parse(const Line& before, const Line& line, const Line& after) {
  Line whole = before;
  whole.insert(whole.end(), line.begin(), line.end());
  whole.insert(whole.end(), after.begin(), after.end());
  return check::ParseArguments(whole);
}

void RequireRefusalNamesAnArgument(const Line& line, const Arguments& parsed) {
  Require(!parsed.error.empty(), "a refusal without a reason");
  Require(fuzz::Printable(parsed.error), "a refusal shows a byte that is not printable");
  Require(parsed.json == Holds(line, "--json"), "a refusal does not know whether --json was given");
  const bool named = std::any_of(line.begin(), line.end(), [&](std::string_view argument) {
    return parsed.error.find("'" + wdt::Printable(argument) + "'") != std::string::npos ||
           (UsageOptions().contains(argument) && parsed.error.find(argument) != std::string::npos);
  });
  Require(named, "a refusal names no argument that was given");
}

void RequireWhatTheArgumentsSay(const Line& line, const Arguments& parsed) {
  Require(parsed.error.empty(), "arguments taken with an error");
  const auto options = AsTheUsageWritesIt(line);
  Require(options.has_value(), "took an argument that the usage does not name, or an option without its value");
  std::map<std::string_view, std::string_view> last;
  std::optional<Arguments::Action> action;
  for (const auto& [option, value] : *options) {
    last[option] = value;
    const auto instead = option == "--help"      ? Arguments::Action::kHelp
                         : option == "--version" ? Arguments::Action::kVersion
                         : option == "--list"    ? Arguments::Action::kList
                                                 : Arguments::Action::kRun;
    if (!action && instead != Arguments::Action::kRun) action = instead;
  }
  const auto given = [&](std::string_view option) { return last.contains(option); };
  Require(parsed.action == action.value_or(Arguments::Action::kRun),
          "the first of --help, --version and --list does not win");
  Require(parsed.json == given("--json"), "--json taken otherwise than given");
  Require(parsed.junit == (given("--junit") ? std::string(last["--junit"]) : ""), "--junit is not its last value");

  const auto& settings = parsed.settings;
  Require(settings.timeout >= check::kMinTimeout && settings.timeout <= check::kMaxTimeout,
          "a timeout out of range");
  const std::uint64_t timeout =
      given("--timeout") ? fuzz::Digits(last["--timeout"], 255).value_or(0) : check::kDefaultTimeout;
  Require(settings.timeout == timeout, "the timeout is not --timeout's last value");
  Require(settings.tolerance_pct > 0 && settings.tolerance_pct <= check::kMaxTolerancePct,
          "a tolerance out of range");
  // Read in billionths, exactly.
  const double tolerance = given("--tolerance")
                               ? static_cast<double>(fuzz::Scaled(last["--tolerance"], 9, 9).value_or(0)) / 1e9
                               : check::kDefaultTolerancePct;
  Require(std::abs(settings.tolerance_pct - tolerance) <= 1e-12 * tolerance,
          "the tolerance is not --tolerance's last value");

  const bool reset_proof = given("--expire") || given("--after-reset");
  Require(!(reset_proof && given("--pretimeout")), "took the pretimeout with the reset proof");
  Require(!(given("--expire") && given("--after-reset")), "took both halves of the reset proof");
  if (given("--pretimeout")) {
    Require(settings.mode == Mode::kPretimeout, "--pretimeout given, but not its mode");
    Require(settings.pretimeout == fuzz::Digits(last["--pretimeout"], 255).value_or(0),
            "the pretimeout is not its last value");
    Require(settings.pretimeout >= 1 && settings.pretimeout < settings.timeout, "a pretimeout not below the timeout");
  } else if (reset_proof) {
    const std::string_view half = given("--expire") ? "--expire" : "--after-reset";
    const Mode expire = given("--suspend") ? Mode::kSuspend : Mode::kExpire;
    Require(settings.mode == (given("--expire") ? expire : Mode::kAfterReset), "the reset proof's other half");
    Require(!given("--suspend") || settings.suspend == last["--suspend"], "the sleep is not --suspend's last value");
    Require(!settings.record.empty() && settings.record == last[half], "the record is not the reset proof's value");
  } else {
    Require(settings.mode == Mode::kCheck && settings.record.empty() && settings.pretimeout == 0,
            "a mode that no argument asked for");
  }
}

// What an accepted line gave, written out again as a command line.
std::vector<std::string> WrittenOut(const Arguments& parsed) {
  std::vector<std::string> line;
  if (parsed.action == Arguments::Action::kHelp) line.push_back("--help");
  if (parsed.action == Arguments::Action::kVersion) line.push_back("--version");
  if (parsed.action == Arguments::Action::kList) line.push_back("--list");
  char tolerance[64];
  std::snprintf(tolerance, sizeof tolerance, "%.9f", parsed.settings.tolerance_pct);
  line.insert(line.end(), {"--timeout", std::to_string(parsed.settings.timeout), "--tolerance", tolerance});
  if (parsed.settings.mode == Mode::kPretimeout) {
    line.insert(line.end(), {"--pretimeout", std::to_string(parsed.settings.pretimeout)});
  }
  if (parsed.settings.mode == Mode::kExpire || parsed.settings.mode == Mode::kSuspend) {
    line.insert(line.end(), {"--expire", parsed.settings.record});
  }
  if (parsed.settings.mode == Mode::kSuspend) line.insert(line.end(), {"--suspend", parsed.settings.suspend});
  if (parsed.settings.suspend_for != 0) {
    line.insert(line.end(), {"--suspend-for", std::to_string(parsed.settings.suspend_for)});
  }
  if (parsed.settings.mode == Mode::kAfterReset) line.insert(line.end(), {"--after-reset", parsed.settings.record});
  if (parsed.json) line.push_back("--json");
  if (!parsed.junit.empty()) line.insert(line.end(), {"--junit", parsed.junit});
  return line;
}

// A complete option added to a line, and what the line with it must give,
// from what the line gave alone; a refusal's reason is not compared.
struct Addition {
  const char* what;  // the property, said when it does not hold
  Line arguments;
  Arguments (*gives)(Arguments alone);
};

const Addition kBefore[] = {
    {.what = "--json before a line changed something else",
     .arguments = {"--json"},
     .gives = [](Arguments alone) { alone.json = true; return alone; }},
    {.what = "--junit before a line changed something else, or outweighed the line's own",
     .arguments = {"--junit", "before.xml"},
     .gives = [](Arguments alone) {
       if (alone.action != Arguments::Action::kBad && alone.junit.empty()) alone.junit = "before.xml";
       return alone;
     }},
    {.what = "--help before a line outweighed a bad argument or changed the settings",
     .arguments = {"--help"},
     .gives = [](Arguments alone) {
       if (alone.action != Arguments::Action::kBad) alone.action = Arguments::Action::kHelp;
       return alone;
     }},
};

const Addition kAfter[] = {
    {.what = "--timeout 255 after an accepted line was not taken over the line's",
     .arguments = {"--timeout", "255"},
     .gives = [](Arguments alone) {
       alone.settings.timeout = 255;
       if (alone.settings.suspend_for != 0 && alone.settings.suspend_for <= 255) alone.action = Arguments::Action::kBad;
       return alone;
     }},
    {.what = "--timeout 5 after an accepted line was not taken, or taken above its pretimeout",
     .arguments = {"--timeout", "5"},
     .gives = [](Arguments alone) {
       alone.settings.timeout = 5;
       if ((alone.settings.mode == Mode::kPretimeout && alone.settings.pretimeout >= 5) ||
           (alone.settings.suspend_for != 0 && alone.settings.suspend_for <= 5)) {
         alone.action = Arguments::Action::kBad;
       }
       return alone;
     }},
    {.what = "--tolerance 50 after an accepted line was not taken over the line's",
     .arguments = {"--tolerance", "50"},
     .gives = [](Arguments alone) { alone.settings.tolerance_pct = 50; return alone; }},
    {.what = "--list after an accepted line outweighed an earlier --help or --version",
     .arguments = {"--list"},
     .gives = [](Arguments alone) {
       if (alone.action == Arguments::Action::kRun) alone.action = Arguments::Action::kList;
       return alone;
     }},
    {.what = "--pretimeout 1 after an accepted line was not taken, or taken with the reset proof",
     .arguments = {"--pretimeout", "1"},
     .gives = [](Arguments alone) {
       const bool reset_proof = alone.settings.mode == Mode::kExpire || alone.settings.mode == Mode::kAfterReset ||
                                alone.settings.mode == Mode::kSuspend;
       alone.settings.mode = Mode::kPretimeout;
       alone.settings.pretimeout = 1;
       if (reset_proof) alone.action = Arguments::Action::kBad;
       return alone;
     }},
    {.what = "--expire after an accepted line was not taken, or taken with the pretimeout or the other half",
     .arguments = {"--expire", "after.record"},
     .gives = [](Arguments alone) {
       if (alone.settings.mode != Mode::kCheck) alone.action = Arguments::Action::kBad;
       alone.settings.mode = Mode::kExpire;
       alone.settings.record = "after.record";
       return alone;
     }},
};

void RequireGives(const Addition& addition, const Arguments& alone, const Arguments& with) {
  const Arguments expected = addition.gives(alone);
  if (expected.action == Arguments::Action::kBad) {
    // A refusal stays the same refusal; an accepted line is refused.
    Require(with.action == Arguments::Action::kBad &&
                (alone.action != Arguments::Action::kBad || with.error == alone.error),
            addition.what);
  } else {
    Require(Same(with, expected), addition.what);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Line line;
  for (std::size_t start = 0, end = 0; start < input.size(); start = end + 1) {
    end = std::min(input.find('\0', start), input.size());
    line.push_back(input.substr(start, end - start));
  }
  const Arguments parsed = check::ParseArguments(line);
  for (const Addition& before : kBefore) RequireGives(before, parsed, Parse(before.arguments, line, {}));
  if (parsed.action == Arguments::Action::kBad) {
    RequireRefusalNamesAnArgument(line, parsed);
    return 0;
  }
  RequireWhatTheArgumentsSay(line, parsed);
  for (const Addition& after : kAfter) RequireGives(after, parsed, Parse({}, line, after.arguments));
  const std::vector<std::string> written = WrittenOut(parsed);
  Require(Same(check::ParseArguments(Line(written.begin(), written.end())), parsed),
          "an accepted line, written out again, is taken otherwise");
  return 0;
}
