#include "record.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <optional>
#include <span>
#include <system_error>
#include <vector>

#include "parse.h"
#include "printable.h"

namespace check {
namespace {

constexpr std::string_view kHeading = "wdt-check reset record";
constexpr std::array<std::string_view, 10> kKeys1 = {"version",     "device",       "identity",   "timeout_s",
                                                     "boot_id",     "reloaded_at",  "window_start", "window_end",
                                                     "alive_at",    "state"};
constexpr std::array<std::string_view, 13> kKeys2 = {
    "version",       "device",         "identity", "timeout_s", "boot_id",   "reloaded_at", "alive_at",
    "window_from_s", "window_until_s", "alive_s",  "next_by_s", "wall_step_s", "state"};
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

std::string Why(int error) { return std::generic_category().message(error); }

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

std::string FormatRecord(const ResetRecord& record) {
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
                               {"alive_at", Seconds(record.alive_at)}});
  } else {
    lines.insert(lines.end(), {{"alive_at", Seconds(record.alive_at)},
                               {"window_from_s", Seconds(record.window_from_s)},
                               {"window_until_s", Seconds(record.window_until_s)},
                               {"alive_s", Seconds(record.alive_s)},
                               {"next_by_s", Seconds(record.next_by_s)},
                               {"wall_step_s", Seconds(record.wall_step_s)}});
  }
  lines.emplace_back("state", std::string(StateName(record.state)));
  std::string text = std::string(kHeading) + "\n";
  for (const auto& [key, value] : lines) text += std::string(key) + " " + value + "\n";
  return text + "end\n";
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
  std::vector<std::string_view> values(keys.size());
  for (std::size_t i = 1; i < keys.size(); ++i) {
    const std::string_view line = i + 1 < lines.size() ? lines[i + 1] : std::string_view();
    if (line.substr(0, keys[i].size() + 1) != std::string(keys[i]) + " ") {
      return "incomplete: no " + std::string(keys[i]) + " where it belongs";
    }
    values[i] = line.substr(keys[i].size() + 1);
  }
  if (lines.size() != keys.size() + 2 || lines.back() != "end") {
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
  std::vector<std::pair<std::string_view, double*>> times = {{"reloaded_at", &record.reloaded_at},
                                                             {"alive_at", &record.alive_at}};
  if (record.version == 1) {
    times.insert(times.end(), {{"window_start", &record.window_start}, {"window_end", &record.window_end}});
  } else {
    times.insert(times.end(), {{"window_from_s", &record.window_from_s},
                               {"window_until_s", &record.window_until_s},
                               {"alive_s", &record.alive_s},
                               {"next_by_s", &record.next_by_s}});
  }
  for (const auto& [key, field] : times) {
    if (!Number(value(key), field)) return damaged(key);
  }
  if (record.version == 2 && !SignedNumber(value("wall_step_s"), &record.wall_step_s)) return damaged("wall_step_s");
  if (record.boot_id.empty()) return std::string("damaged: boot_id is empty");
  if (record.version == 1) {
    if (!(record.reloaded_at <= record.window_start && record.window_start < record.window_end)) {
      return std::string("damaged: its window does not follow the last reload");
    }
    // Judged on what it holds: wall-clock times, a beat a second.
    record.window_from_s = record.window_start - record.reloaded_at;
    record.window_until_s = record.window_end - record.reloaded_at;
    record.alive_s = record.alive_at - record.reloaded_at;
    record.next_by_s = record.alive_s + 1;
  } else {
    if (!(record.window_from_s < record.window_until_s)) return std::string("damaged: its window is out of order");
    if (!(record.alive_s <= record.next_by_s)) return std::string("damaged: its next beat is due before its last");
  }
  bool known_state = false;
  for (const auto& [state, name] : kStates) {
    if (value("state") == name) {
      record.state = state;
      known_state = true;
    }
  }
  if (!known_state) return damaged("state");
  return record;
}

std::string ReplaceFile(const platform::FileCalls& calls, const std::string& path, std::string_view contents) {
  const int kind = calls.kind(path.c_str());
  if (kind < 0) return "cannot look at " + wdt::Printable(path) + ": " + Why(-kind);
  if (kind == platform::kOtherFile) {
    return wdt::Printable(path) + " is there and is not a regular file: refused, untouched";
  }
  std::string folder = std::filesystem::path(path).parent_path().string();
  if (folder.empty()) folder = ".";
  std::string temp;
  const int fd = calls.create_temp(folder.c_str(), &temp);
  if (fd < 0) return "cannot make a file in " + wdt::Printable(folder) + ": " + Why(-fd);
  std::string failed;
  for (std::string_view rest = contents; failed.empty() && !rest.empty();) {
    const long written = calls.write(fd, rest.data(), rest.size());
    if (written == -EINTR) continue;
    if (written <= 0) failed = "cannot write " + wdt::Printable(temp) + ": " + Why(written < 0 ? -written : EIO);
    else rest.remove_prefix(static_cast<std::size_t>(written));
  }
  if (const int synced = failed.empty() ? calls.sync(fd) : 0; synced < 0) {
    failed = "cannot flush " + wdt::Printable(temp) + ": " + Why(-synced);
  }
  if (const int closed = calls.close(fd); closed < 0 && failed.empty()) {
    failed = "cannot close " + wdt::Printable(temp) + ": " + Why(-closed);
  }
  if (const int renamed = failed.empty() ? calls.rename(temp.c_str(), path.c_str()) : 0; renamed < 0) {
    failed = "cannot rename " + wdt::Printable(temp) + " to " + wdt::Printable(path) + ": " + Why(-renamed);
  }
  if (!failed.empty()) {
    calls.remove(temp.c_str());
    return failed;
  }
  // The rename is in the folder: flushed, it survives a reset.
  if (const int synced = calls.sync_folder(folder.c_str()); synced < 0) {
    return "cannot flush the folder " + wdt::Printable(folder) + ": " + Why(-synced);
  }
  return {};
}

}  // namespace check
