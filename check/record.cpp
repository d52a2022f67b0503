#include "record.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <optional>
#include <span>
#include <vector>

#include "parse.h"
#include "printable.h"

namespace check {
namespace {

constexpr std::string_view kHeading = "wdt-check reset record";
constexpr std::array<std::string_view, 10> kKeys1 = {"version",     "device",       "identity",   "timeout_s",
                                                     "boot_id",     "reloaded_at",  "window_start", "window_end",
                                                     "alive_at",    "state"};
constexpr std::array<std::string_view, 8> kKeys2 = {"version", "device",      "identity",      "timeout_s",
                                                    "boot_id", "reloaded_at", "window_from_s", "window_until_s"};
// A beat's slot: one line of fixed width, its newline included.
constexpr std::size_t kSlotWidth = 192;
constexpr std::array<std::string_view, 6> kBeatKeys = {"beat ",     " alive_at ",    " alive_s ",
                                                       " next_by_s ", " wall_step_s ", " state "};
constexpr std::string_view kCheck = " check ";
constexpr std::array<std::pair<ResetRecord::State, std::string_view>, 3> kStates = {{
    {ResetRecord::State::kWaiting, "waiting"},
    {ResetRecord::State::kNoReset, "no reset"},
    {ResetRecord::State::kAbandoned, "abandoned"},
}};

std::string Seconds(double value) { return wdt::Fixed(value, 3); }

// Digits, optionally '.' and up to three digits: a time as the record writes
// it. At most 15 digits, so that the value reads back as its text: a time to
// the millisecond until the year 33658. The value is the double nearest to
// the text, as from_chars reads it.
bool Number(std::string_view text, double* value) {
  if (!wdt::DecimalNumber(text, 12, 3)) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

// The same with a minus sign allowed.
bool SignedNumber(std::string_view text, double* value) {
  const bool negative = text.starts_with('-');
  if (!Number(negative ? text.substr(1) : text, value)) return false;
  if (negative) *value = -*value;
  return true;
}

// A text as FormatRecord writes it (printable bytes, a backslash doubled,
// any other byte as \xNN) read back; nothing if it is not so written.
std::optional<std::string> Unescaped(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c < 0x20 || c > 0x7e) return std::nullopt;
    const std::string_view rest = text.substr(i + 1);
    unsigned value = 0;
    if (c != '\\') {
      bytes += c;
    } else if (rest.starts_with('\\')) {
      bytes += '\\';
      ++i;
    } else if (rest.size() >= 3 && rest[0] == 'x' &&
               std::from_chars(rest.data() + 1, rest.data() + 3, value, 16).ptr == rest.data() + 3) {
      bytes += static_cast<char>(value);
      i += 3;
    } else {
      return std::nullopt;
    }
  }
  return bytes;
}

}  // namespace

std::string_view StateName(ResetRecord::State state) {
  for (const auto& [known, name] : kStates) {
    if (known == state) return name;
  }
  return "waiting";
}

namespace {

// FNV-1a: enough to tell a slot that a write cut short from a whole one.
std::string Checksum(std::string_view text) {
  std::uint32_t hash = 2166136261u;
  for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(hash));
  return hex;
}

std::string BeatLine(const ResetRecord& record) {
  const std::array<std::string, kBeatKeys.size()> values = {
      std::to_string(record.beat),   Seconds(record.alive_at),    Seconds(record.alive_s),
      Seconds(record.next_by_s),     Seconds(record.wall_step_s), std::string(StateName(record.state))};
  std::string line;
  for (std::size_t i = 0; i < kBeatKeys.size(); ++i) line += std::string(kBeatKeys[i]) + values[i];
  line += std::string(kCheck) + Checksum(line);
  if (line.size() < kSlotWidth - 1) line.resize(kSlotWidth - 1, ' ');
  return line + "\n";
}

// A slot's beat read into *record; empty, or why it is not whole.
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
    if (!Number(values[index], field)) {
      return "damaged: its beat's" + std::string(kBeatKeys[index].substr(0, kBeatKeys[index].size() - 1)) +
             " is '" + wdt::Printable(values[index]) + "'";
    }
  }
  if (!SignedNumber(values[4], &record->wall_step_s)) {
    return "damaged: its beat's wall_step_s is '" + wdt::Printable(values[4]) + "'";
  }
  if (!(record->alive_s <= record->next_by_s)) return "damaged: its next beat is due before its last";
  for (const auto& [state, name] : kStates) {
    if (values[5] == name) {
      record->state = state;
      return {};
    }
  }
  return "damaged: state is '" + wdt::Printable(values[5]) + "'";
}

std::string Header(const ResetRecord& record) {
  std::vector<std::pair<std::string_view, std::string>> lines = {
      {"version", std::to_string(record.version == 1 ? 1 : kRecordVersion)},
      {"device", wdt::Printable(record.device)},
      {"identity", wdt::Printable(record.identity)},
      {"timeout_s", std::to_string(record.timeout_s)},
      {"boot_id", wdt::Printable(record.boot_id)},
      {"reloaded_at", Seconds(record.reloaded_at)}};
  if (record.version == 1) {
    lines.insert(lines.end(), {{"window_start", Seconds(record.window_start)},
                               {"window_end", Seconds(record.window_end)},
                               {"alive_at", Seconds(record.alive_at)},
                               {"state", std::string(StateName(record.state))}});
  } else {
    lines.insert(lines.end(), {{"window_from_s", Seconds(record.window_from_s)},
                               {"window_until_s", Seconds(record.window_until_s)}});
  }
  std::string text = std::string(kHeading) + "\n";
  for (const auto& [key, value] : lines) text += std::string(key) + " " + value + "\n";
  return text;
}

}  // namespace

std::string FormatRecord(const ResetRecord& record) {
  if (record.version == 1) return Header(record) + "end\n";
  const std::string beat = BeatLine(record);
  return Header(record) + beat + beat + "end\n";
}

Slot BeatSlot(const ResetRecord& record) {
  return {Header(record).size() + (record.beat % 2) * kSlotWidth, BeatLine(record)};
}

std::variant<ResetRecord, std::string> ParseRecord(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) return std::string("incomplete: its last line has no end");
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (lines.empty() || lines[0] != kHeading) return std::string("not a reset record of wdt-check");
  // A record of another version may hold other keys: its version speaks first.
  constexpr std::string_view kVersion = "version ";
  if (lines.size() < 2 || !lines[1].starts_with(kVersion)) return std::string("incomplete: no version");
  const std::string_view version = lines[1].substr(kVersion.size());
  if (version != "1" && version != "2") {
    return "of version " + wdt::Printable(version) + ", which this wdt-check does not know (it knows 1 and 2)";
  }
  const std::span<const std::string_view> keys = version == "1" ? std::span<const std::string_view>(kKeys1)
                                                                : std::span<const std::string_view>(kKeys2);
  const std::size_t slots = version == "1" ? 0 : 2;
  std::vector<std::string_view> values(keys.size());
  for (std::size_t i = 1; i < keys.size(); ++i) {
    const std::string_view line = i + 1 < lines.size() ? lines[i + 1] : std::string_view();
    if (line.substr(0, keys[i].size() + 1) != std::string(keys[i]) + " ") {
      return "incomplete: no " + std::string(keys[i]) + " where it belongs";
    }
    values[i] = line.substr(keys[i].size() + 1);
  }
  if (lines.size() != keys.size() + slots + 2 || lines.back() != "end") {
    return std::string("incomplete: it does not end where it should");
  }
  const auto value = [&](std::string_view key) {
    return values[static_cast<std::size_t>(std::find(keys.begin(), keys.end(), key) - keys.begin())];
  };
  const auto damaged = [&](std::string_view key) {
    return "damaged: " + std::string(key) + " is '" + wdt::Printable(value(key)) + "'";
  };
  ResetRecord record;
  record.version = version == "1" ? 1 : 2;
  for (const auto& [key, field] : {std::pair{"device", &record.device}, std::pair{"identity", &record.identity},
                                   std::pair{"boot_id", &record.boot_id}}) {
    const std::optional<std::string> unescaped = Unescaped(value(key));
    if (!unescaped) return damaged(key);
    *field = *unescaped;
  }
  const auto timeout =
      value("timeout_s").size() > 12 ? std::nullopt : wdt::WholeNumber<std::uint32_t>(value("timeout_s"), 1, 4294967295);
  if (!timeout) return damaged("timeout_s");
  record.timeout_s = *timeout;
  std::vector<std::pair<std::string_view, double*>> times = {{"reloaded_at", &record.reloaded_at}};
  if (record.version == 1) {
    times.insert(times.end(), {{"window_start", &record.window_start},
                               {"window_end", &record.window_end},
                               {"alive_at", &record.alive_at}});
  } else {
    times.insert(times.end(), {{"window_from_s", &record.window_from_s}, {"window_until_s", &record.window_until_s}});
  }
  for (const auto& [key, field] : times) {
    if (!Number(value(key), field)) return damaged(key);
  }
  if (record.boot_id.empty()) return std::string("damaged: boot_id is empty");
  if (record.version == 1) {
    if (!(record.reloaded_at <= record.window_start && record.window_start < record.window_end)) {
      return std::string("damaged: its window does not follow the last reload");
    }
    bool known_state = false;
    for (const auto& [state, name] : kStates) {
      if (value("state") == name) {
        record.state = state;
        known_state = true;
      }
    }
    if (!known_state) return damaged("state");
    // Judged on what it holds: wall-clock times, a beat a second.
    record.window_from_s = record.window_start - record.reloaded_at;
    record.window_until_s = record.window_end - record.reloaded_at;
    record.alive_s = record.alive_at - record.reloaded_at;
    record.next_by_s = record.alive_s + 1;
    return record;
  }
  if (!(record.window_from_s < record.window_until_s)) return std::string("damaged: its window is out of order");
  // The latest whole beat of the two slots; a write cut short spoils one.
  std::string why;
  bool whole = false;
  for (std::size_t slot = 0; slot < 2; ++slot) {
    ResetRecord read = record;
    const std::string failed = ReadBeat(lines[keys.size() + 1 + slot], &read);
    if (!failed.empty()) {
      if (why.empty() || why == "not whole") why = failed;
      continue;
    }
    if (!whole || read.beat > record.beat) record = read;
    whole = true;
  }
  if (!whole) return why == "not whole" ? std::string("damaged: neither of its beats is whole") : why;
  return record;
}

}  // namespace check
