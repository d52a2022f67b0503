// Settings from the environment and options from the command line, read as
// numbers and lists in one way for the library and the programs alike; the
// words in which a refusal quotes the limits, and numbers as reports write
// them.
#pragma once

#include <algorithm>
#include <charconv>
#include <concepts>
#include <cstdio>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wdt {

// At least one character, each a decimal digit: no sign, no space.
constexpr bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A whole number from min to max in decimal digits, leading zeros allowed; a
// minus sign only where min is negative.
template <std::integral Int>
std::optional<Int> WholeNumber(std::string_view text, Int min, Int max) {
  const bool negative = text.starts_with('-');
  if (!AllDigits(negative ? text.substr(1) : text) || (negative && !std::cmp_less(min, 0))) return std::nullopt;
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || std::cmp_less(value, min) ||
      std::cmp_greater(value, max)) {
    return std::nullopt;
  }
  return static_cast<Int>(value);
}

// Digits, optionally '.' and digits: at most whole_digits before the point and
// fraction_digits after it, at least one on each side ("5", "0.5"; not ".5",
// "5.", "+5" or "5e1"). The range is the caller's to check.
inline std::optional<double> DecimalNumber(std::string_view text, std::size_t whole_digits,
                                           std::size_t fraction_digits) {
  const std::size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view fraction = dot == std::string_view::npos ? "" : text.substr(dot + 1);
  if (!AllDigits(whole) || whole.size() > whole_digits ||
      (dot != std::string_view::npos && (!AllDigits(fraction) || fraction.size() > fraction_digits))) {
    return std::nullopt;
  }
  double value = 0;
  for (const char c : whole) value = value * 10 + (c - '0');
  double scale = 1;
  for (const char c : fraction) value += (c - '0') * (scale /= 10);
  return value;
}

// The entries between commas, empty ones included ("a,,b" has three); an empty
// text has none.
inline std::vector<std::string_view> SplitList(std::string_view text) {
  std::vector<std::string_view> entries;
  if (text.empty()) return entries;
  for (std::size_t start = 0;;) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    entries.push_back(text.substr(start, comma - start));
    if (comma == text.size()) return entries;
    start = comma + 1;
  }
}

// A limit as a message quotes it: 255, 0.01, 4294967295.
template <typename Number>
std::string LimitText(Number limit) {
  char text[32];
  return {text, std::to_chars(text, text + sizeof text, limit).ptr};
}

// "from 5 to 255": the range that a refusal quotes.
template <typename Number>
std::string FromTo(Number min, Number max) {
  return "from " + LimitText(min) + " to " + LimitText(max);
}

// A number with so many decimals, as reports and records write times:
// 6.712, 1765267200.250.
inline std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

}  // namespace wdt
