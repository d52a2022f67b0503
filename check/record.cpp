#include "record.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "parse.h"
#include "printable.h"

namespace check {
namespace {

constexpr std::string_view kHeading = "wdt-check reset record";
constexpr std::array<std::string_view, 10> kKeys = {"version",      "device",     "identity",   "timeout_s",
                                                    "boot_id",      "reloaded_at", "window_start", "window_end",
                                                    "alive_at",     "state"};
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
  const std::array<std::string, kKeys.size()> values = {
      std::to_string(kRecordVersion),    wdt::Printable(record.device), wdt::Printable(record.identity),
      std::to_string(record.timeout_s),  wdt::Printable(record.boot_id), Seconds(record.reloaded_at),
      Seconds(record.window_start),      Seconds(record.window_end),     Seconds(record.alive_at),
      std::string(StateName(record.state))};
  std::string text = std::string(kHeading) + "\n";
  for (std::size_t i = 0; i < kKeys.size(); ++i) text += std::string(kKeys[i]) + " " + values[i] + "\n";
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
  std::array<std::string_view, kKeys.size()> values;
  std::size_t i = 0;
  for (; i < kKeys.size(); ++i) {
    const std::string_view line = i + 1 < lines.size() ? lines[i + 1] : std::string_view();
    if (line.substr(0, kKeys[i].size() + 1) != std::string(kKeys[i]) + " ") {
      // A record of another version may hold other keys: its version speaks first.
      if (i > 0) return "incomplete: no " + std::string(kKeys[i]) + " where it belongs";
      return std::string("incomplete: no version");
    }
    values[i] = line.substr(kKeys[i].size() + 1);
    if (i == 0 && values[0] != std::to_string(kRecordVersion)) {
      return "of version " + wdt::Printable(values[0]) + ", which this wdt-check does not know (it knows " +
             std::to_string(kRecordVersion) + ")";
    }
  }
  if (lines.size() != kKeys.size() + 2 || lines.back() != "end") {
    return std::string("incomplete: it does not end where it should");
  }
  ResetRecord record;
  for (const auto& [index, field] : {std::pair{1, &record.device}, std::pair{2, &record.identity},
                                     std::pair{4, &record.boot_id}}) {
    const std::optional<std::string> value = Unescaped(values[index]);
    if (!value) return "damaged: " + std::string(kKeys[index]) + " is '" + wdt::Printable(values[index]) + "'";
    *field = *value;
  }
  const auto timeout =
      values[3].size() > 12 ? std::nullopt : wdt::WholeNumber<std::uint32_t>(values[3], 1, 4294967295);
  if (!timeout) return "damaged: timeout_s is '" + wdt::Printable(values[3]) + "'";
  record.timeout_s = *timeout;
  double* const times[] = {&record.reloaded_at, &record.window_start, &record.window_end, &record.alive_at};
  for (std::size_t t = 0; t < 4; ++t) {
    if (!Number(values[5 + t], times[t])) {
      return "damaged: " + std::string(kKeys[5 + t]) + " is '" + wdt::Printable(values[5 + t]) + "'";
    }
  }
  if (record.boot_id.empty()) return std::string("damaged: boot_id is empty");
  if (!(record.reloaded_at <= record.window_start && record.window_start < record.window_end)) {
    return std::string("damaged: its window does not follow the last reload");
  }
  bool known_state = false;
  for (const auto& [state, name] : kStates) {
    if (values[9] == name) {
      record.state = state;
      known_state = true;
    }
  }
  if (!known_state) return "damaged: state is '" + wdt::Printable(values[9]) + "'";
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
