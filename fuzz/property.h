// What the fuzz targets check with. A property that does not hold aborts:
// libFuzzer keeps the input as a crash file, and the seeds' replay fails.
// The plain readings here are the targets' own, independent of the parsers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

namespace fuzz {

inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

// Digits only, at least one; their value, or nothing past max.
inline std::optional<std::uint64_t> Digits(std::string_view text, std::uint64_t max) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > max) return std::nullopt;
  }
  return value;
}

// Digits, optionally '.' and digits, at most `whole` before the point and
// `fraction` (up to 9) after it: its value exactly, in parts of 10^-fraction
// ("1.25" with fraction 6 is 1250000).
inline std::optional<std::uint64_t> Scaled(std::string_view text, std::size_t whole, std::size_t fraction) {
  const std::size_t dot = text.find('.');
  const std::string_view before = text.substr(0, dot);
  const std::string_view after = dot == std::string_view::npos ? "" : text.substr(dot + 1);
  auto units = Digits(before, UINT32_MAX);
  auto parts = dot == std::string_view::npos ? std::optional<std::uint64_t>(0) : Digits(after, UINT32_MAX);
  if (!units || !parts || before.size() > whole || after.size() > fraction) return std::nullopt;
  for (std::size_t i = 0; i < fraction; ++i) *units *= 10;
  for (std::size_t i = after.size(); i < fraction; ++i) *parts *= 10;
  return *units + *parts;
}

// The comma-separated entries of a list; an empty text has none.
inline std::vector<std::string_view> Entries(std::string_view text) {
  std::vector<std::string_view> entries;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size() && !text.empty(); ++i) {
    if (i == text.size() || text[i] == ',') {
      entries.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return entries;
}

// A diagnostic shows no byte that could drive a terminal.
inline bool Printable(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

// A text that the grammar refuses: the parser says why, in printable bytes,
// and leaves nothing behind.
inline void RequireRefused(std::string_view error, bool left_nothing) {
  Require(!error.empty(), "accepted a text that the grammar refuses");
  Require(Printable(error), "a refusal shows a byte that is not printable");
  Require(left_nothing, "a refused text left something behind");
}

}  // namespace fuzz
