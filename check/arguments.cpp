#include "arguments.h"

#include <algorithm>
#include <optional>

#include "printable.h"

namespace check {
namespace {

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Digits, optionally '.' and digits; at most 9 digits each side.
std::optional<double> Decimal(std::string_view text) {
  const std::size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view part = dot == std::string_view::npos ? "" : text.substr(dot + 1);
  if (!AllDigits(whole) || whole.size() > 9 ||
      (dot != std::string_view::npos && (!AllDigits(part) || part.size() > 9))) {
    return std::nullopt;
  }
  double value = 0;
  for (const char c : whole) value = value * 10 + (c - '0');
  double scale = 1;
  for (const char c : part) value += (c - '0') * (scale /= 10);
  return value;
}

}  // namespace

Arguments ParseArguments(const std::vector<std::string_view>& arguments) {
  Arguments parsed;
  const auto bad = [&](std::string error) {
    parsed.action = Arguments::Action::kBad;
    parsed.error = std::move(error);
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
    } else if (argument == "--timeout" || argument == "--tolerance") {
      if (i + 1 == arguments.size()) return bad(std::string(argument) + " needs a value");
      const std::string_view value = arguments[++i];
      const auto number = Decimal(value);
      if (argument == "--timeout") {
        if (!AllDigits(value) || !number || *number < kMinTimeout || *number > kMaxTimeout) {
          return bad("--timeout takes a whole number of seconds from 5 to 255, not '" + wdt::Printable(value) + "'");
        }
        parsed.settings.timeout = static_cast<std::uint32_t>(*number);
      } else {
        if (!number || *number <= 0 || *number > kMaxTolerancePct) {
          return bad("--tolerance takes a percentage above 0 and at most 50, not '" + wdt::Printable(value) + "'");
        }
        parsed.settings.tolerance_pct = *number;
      }
    } else {
      return bad("unknown argument '" + wdt::Printable(argument) + "'");
    }
  }
  return parsed;
}

}  // namespace check
