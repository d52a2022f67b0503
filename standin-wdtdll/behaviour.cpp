#include "behaviour.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "printable.h"

namespace sim {
namespace {

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The value of a run of digits, held at 1000 once it is larger.
std::uint32_t DigitsValue(std::string_view digits) {
  std::uint32_t value = 0;
  for (const char c : digits) value = std::min<std::uint32_t>(value * 10 + (c - '0'), 1000);
  return value;
}

// 1 to 3 digits, optionally '.' and 1 to 6 digits; from 0.01 to 100.
std::optional<double> ParseRate(std::string_view text) {
  const std::size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view part = dot == std::string_view::npos ? "" : text.substr(dot + 1);
  if (!AllDigits(whole) || whole.size() > 3 ||
      (dot != std::string_view::npos && (!AllDigits(part) || part.size() > 6))) {
    return std::nullopt;
  }
  double rate = DigitsValue(whole);
  double scale = 1.0;
  for (const char c : part) rate += (c - '0') * (scale /= 10);
  if (rate < 0.01 || rate > 100) return std::nullopt;
  return rate;
}

// Applies one entry to behaviour; says what is wrong with it, or nothing.
std::string ParseEntry(std::string_view entry, Behaviour& behaviour) {
  if (entry.empty()) return "empty entry";
  const std::size_t equals = entry.find('=');
  const std::string_view name = entry.substr(0, equals);
  const bool has_value = equals != std::string_view::npos;
  const std::string_view value = has_value ? entry.substr(equals + 1) : "";

  const std::array<std::pair<std::string_view, bool*>, 3> flags = {{
      {"frozen", &behaviour.frozen},
      {"ignore-reload", &behaviour.ignore_reload},
      {"ignore-disarm", &behaviour.ignore_disarm},
  }};
  for (const auto& [flag, set] : flags) {
    if (name != flag) continue;
    if (has_value) return "'" + wdt::Printable(name) + "' takes no value";
    *set = true;
    return {};
  }
  if (name != "rate" && name != "grant" && name != "round") {
    return "unknown behaviour '" + wdt::Printable(name) + "'";
  }
  if (!has_value) return "'" + wdt::Printable(name) + "' needs '=' and a value";
  if (name == "rate") {
    const auto rate = ParseRate(value);
    if (!rate) return "rate is not a decimal number from 0.01 to 100";
    behaviour.rate = *rate;
  } else if (name == "grant") {
    if (!AllDigits(value) || DigitsValue(value) < 1 || DigitsValue(value) > 255) {
      return "grant is not a whole number from 1 to 255";
    }
    behaviour.grant = DigitsValue(value);
  } else {
    if (value != "up" && value != "down") return "round is neither 'up' nor 'down'";
    behaviour.round_down = value == "down";
  }
  return {};
}

}  // namespace

BehaviourList ParseBehaviour(std::string_view text) {
  BehaviourList list;
  if (text.empty()) return list;
  std::vector<std::string_view> given;
  std::size_t number = 0;
  for (std::size_t start = 0;;) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string_view entry = text.substr(start, comma - start);
    const std::string_view name = entry.substr(0, entry.find('='));
    ++number;
    std::string why = ParseEntry(entry, list.behaviour);
    if (why.empty() && std::find(given.begin(), given.end(), name) != given.end()) {
      why = "the same behaviour is given twice";
    }
    if (!why.empty()) {
      list.behaviour = {};
      list.error = "entry " + std::to_string(number) + " '" + wdt::Printable(entry) + "': " + why;
      return list;
    }
    given.push_back(name);
    if (comma == text.size()) return list;
    start = comma + 1;
  }
}

}  // namespace sim
