#include "record_beat.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <optional>
#include <system_error>

#include "parse.h"
#include "printable.h"

namespace check {
namespace {

constexpr std::array<std::string_view, 6> kBeatKeys = {"beat ",     " alive_at ",    " alive_s ",
                                                       " next_by_s ", " wall_step_s ", " state "};
constexpr std::string_view kCheck = " check ";

// FNV-1a: enough to tell a slot that a write cut short from a whole one.
std::string Checksum(std::string_view text) {
  std::uint32_t hash = 2166136261u;
  for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(hash));
  return hex;
}

}  // namespace

bool ReadTime(std::string_view text, double* value) {
  if (!wdt::DecimalNumber(text, 12, 3)) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

namespace {

// A time with a minus sign allowed.
bool SignedTime(std::string_view text, double* value) {
  const bool negative = text.starts_with('-');
  if (!ReadTime(negative ? text.substr(1) : text, value)) return false;
  if (negative) *value = -*value;
  return true;
}

}  // namespace

std::string BeatLine(const ResetRecord& record) {
  const std::array<std::string, kBeatKeys.size()> values = {
      std::to_string(record.beat),         wdt::Fixed(record.alive_at, 3),    wdt::Fixed(record.alive_s, 3),
      wdt::Fixed(record.next_by_s, 3),     wdt::Fixed(record.wall_step_s, 3), std::string(StateName(record.state))};
  std::string line;
  for (std::size_t i = 0; i < kBeatKeys.size(); ++i) line += std::string(kBeatKeys[i]) + values[i];
  line += std::string(kCheck) + Checksum(line);
  if (line.size() < kSlotWidth - 1) line.resize(kSlotWidth - 1, ' ');
  return line + "\n";
}

std::string ReadBeat(std::string_view line, ResetRecord* record) {
  const std::size_t check = line.rfind(kCheck);
  if (line.size() != kSlotWidth - 1 || check == std::string_view::npos) return "not whole";
  const std::string_view content = line.substr(0, check);
  const std::string_view tail = line.substr(check + kCheck.size());
  if (tail.substr(0, 8) != Checksum(content) || tail.find_first_not_of(' ', 8) != std::string_view::npos) {
    return "not whole";
  }
  std::array<std::string_view, kBeatKeys.size()> values;
  std::size_t at = 0;
  for (std::size_t i = 0; i < kBeatKeys.size(); ++i) {
    if (content.substr(at, kBeatKeys[i].size()) != kBeatKeys[i]) return "not whole";
    at += kBeatKeys[i].size();
    const std::size_t end = i + 1 < kBeatKeys.size() ? content.find(kBeatKeys[i + 1], at) : content.size();
    if (end == std::string_view::npos) return "not whole";
    values[i] = content.substr(at, end - at);
    at = end;
  }
  const auto beat = values[0].size() > 15 ? std::nullopt
                                          : wdt::WholeNumber<std::uint64_t>(values[0], 0, 999999999999999u);
  if (!beat) return "damaged: its beat is '" + wdt::Printable(values[0]) + "'";
  record->beat = *beat;
  for (const auto& [index, field] : {std::pair{1, &record->alive_at}, std::pair{2, &record->alive_s},
                                     std::pair{3, &record->next_by_s}}) {
    if (!ReadTime(values[index], field)) {
      return "damaged: its beat's" + std::string(kBeatKeys[index].substr(0, kBeatKeys[index].size() - 1)) +
             " is '" + wdt::Printable(values[index]) + "'";
    }
  }
  if (!SignedTime(values[4], &record->wall_step_s)) {
    return "damaged: its beat's wall_step_s is '" + wdt::Printable(values[4]) + "'";
  }
  if (!(record->alive_s <= record->next_by_s)) return "damaged: its next beat is due before its last";
  const std::optional<ResetRecord::State> state = StateNamed(values[5]);
  if (!state) return "damaged: state is '" + wdt::Printable(values[5]) + "'";
  record->state = *state;
  return {};
}

}  // namespace check
