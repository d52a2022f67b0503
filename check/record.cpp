#include "record.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <type_traits>
#include <vector>

#include "parse.h"
#include "printable.h"
#include "record_beat.h"

namespace check {
namespace {

constexpr std::string_view kHeading = "wdt-check reset record";
constexpr std::array<std::pair<ResetRecord::State, std::string_view>, 3> kStates = {{
    {ResetRecord::State::kWaiting, "waiting"},
    {ResetRecord::State::kNoReset, "no reset"},
    {ResetRecord::State::kAbandoned, "abandoned"},
}};


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

std::optional<ResetRecord::State> StateNamed(std::string_view name) {
  for (const auto& [state, known] : kStates) {
    if (known == name) return state;
  }
  return std::nullopt;
}

namespace {

// Version 1's window on the wall clock, and its durations worked out from
// its wall-clock times: judged on what it holds, a beat a second.
std::string WallClockWindow(const ResetRecord& record) {
  if (record.reloaded_at <= record.window_start && record.window_start < record.window_end) return {};
  return "damaged: its window does not follow the last reload";
}
std::string FromWallClock(std::span<const std::string_view>, ResetRecord* record) {
  record->window_from_s = record->window_start - record->reloaded_at;
  record->window_until_s = record->window_end - record->reloaded_at;
  record->alive_s = record->alive_at - record->reloaded_at;
  record->next_by_s = record->alive_s + 1;
  return {};
}

// Version 2's window on the monotonic clock, and the latest whole beat of
// its two slots: a write cut short spoils one.
std::string MonotonicWindow(const ResetRecord& record) {
  return record.window_from_s < record.window_until_s ? "" : "damaged: its window is out of order";
}
std::string LatestBeat(std::span<const std::string_view> slots, ResetRecord* record) {
  std::string why;
  bool whole = false;
  ResetRecord latest = *record;
  for (const std::string_view slot : slots) {
    ResetRecord read = *record;
    const std::string failed = ReadBeat(slot, &read);
    if (!failed.empty()) {
      if (why.empty() || why == "not whole") why = failed;
      continue;
    }
    if (!whole || read.beat > latest.beat) latest = read;
    whole = true;
  }
  if (!whole) return why == "not whole" ? std::string("damaged: neither of its beats is whole") : why;
  *record = latest;
  return {};
}

// The record's format: every version that this wdt-check reads, the
// current one last, and the header's keys after the version line, in the
// order in which they are written, each with the versions that hold it.
struct Version {
  int number;
  std::size_t slots;        // the beat slots after the header
  std::string_view limits;  // what it holds, where it judges less than the current one
  std::string (*window)(const ResetRecord& record);  // empty, or why its window is out of order
  // What its header leaves: the beats read from the slots, or the durations
  // worked out; empty, or why the record is damaged.
  std::string (*rest)(std::span<const std::string_view> slots, ResetRecord* record);
};
constexpr std::array<Version, 2> kVersions = {{
    {1, 0, "wall-clock times, a beat a second", WallClockWindow, FromWallClock},
    {2, 2, "", MonotonicWindow, LatestBeat},
}};
static_assert(kVersions.back().number == kRecordVersion, "the current version is the last");

// A field's place in the record, one of these kinds; they are read in this
// order (the state last, once the window is in order), so that a record
// damaged in more than one place is named by its first damage in it.
using Member = std::variant<std::string ResetRecord::*, std::uint32_t ResetRecord::*, double ResetRecord::*,
                            ResetRecord::State ResetRecord::*>;
enum Kind : std::size_t { kText, kWhole, kTime, kState };
static_assert(std::is_same_v<std::variant_alternative_t<kState, Member>, ResetRecord::State ResetRecord::*>);
constexpr unsigned In(int version) { return 1u << version; }
struct Field {
  std::string_view key;
  unsigned versions;  // In(version) for each version that holds it
  Member member;
  // Written only where it is not empty or 0, and read where it is there:
  // records without it still parse.
  bool optional = false;
};
constexpr std::array<Field, 20> kFields = {{
    {"device", In(1) | In(2), &ResetRecord::device},
    {"identity", In(1) | In(2), &ResetRecord::identity},
    {"timeout_s", In(1) | In(2), &ResetRecord::timeout_s},
    {"boot_id", In(1) | In(2), &ResetRecord::boot_id},
    {"reloaded_at", In(1) | In(2), &ResetRecord::reloaded_at},
    {"window_start", In(1), &ResetRecord::window_start},
    {"window_end", In(1), &ResetRecord::window_end},
    {"alive_at", In(1), &ResetRecord::alive_at},
    {"state", In(1), &ResetRecord::state},
    {"window_from_s", In(2), &ResetRecord::window_from_s},
    {"window_until_s", In(2), &ResetRecord::window_until_s},
    {"suspend", In(2), &ResetRecord::suspend, true},
    {"suspend_for_s", In(2), &ResetRecord::suspend_for_s, true},
    {"suspend_at_s", In(2), &ResetRecord::suspend_at_s, true},
    {"slept_s", In(2), &ResetRecord::slept_s, true},
    {"hang", In(2), &ResetRecord::hang, true},
    {"crashed_s", In(2), &ResetRecord::crashed_s, true},
    {"crashed_at", In(2), &ResetRecord::crashed_at, true},
    {"kernel_panic", In(2), &ResetRecord::kernel_panic, true},
    {"kernel_sysrq", In(2), &ResetRecord::kernel_sysrq, true},
}};

template <typename... Each>
struct Overloaded : Each... {
  using Each::operator()...;
};
// clang 14 deduces no aggregate's template arguments by itself.
template <typename... Each>
Overloaded(Each...) -> Overloaded<Each...>;

// The version that writes a record of `number`: its own where it is known,
// else the current one.
const Version& VersionOf(int number) {
  for (const Version& version : kVersions) {
    if (version.number == number) return version;
  }
  return kVersions.back();
}

std::vector<const Field*> FieldsOf(const Version& version) {
  std::vector<const Field*> fields;
  for (const Field& field : kFields) {
    if ((field.versions & In(version.number)) != 0) fields.push_back(&field);
  }
  return fields;
}

std::string Written(const Member& member, const ResetRecord& record) {
  return std::visit(Overloaded{
                        [&](std::string ResetRecord::*text) { return wdt::Printable(record.*text); },
                        [&](std::uint32_t ResetRecord::*whole) { return std::to_string(record.*whole); },
                        [&](double ResetRecord::*time) { return wdt::Fixed(record.*time, 3); },
                        [&](ResetRecord::State ResetRecord::*state) { return std::string(StateName(record.*state)); },
                    },
                    member);
}

// Reads `text` into the record's field; false if it is not as written.
bool Read(const Member& member, std::string_view text, ResetRecord* record) {
  return std::visit(Overloaded{
                        [&](std::string ResetRecord::*field) {
                          const std::optional<std::string> unescaped = Unescaped(text);
                          if (unescaped) record->*field = *unescaped;
                          return unescaped.has_value();
                        },
                        [&](std::uint32_t ResetRecord::*field) {
                          const auto whole = text.size() > 12 ? std::nullopt
                                                              : wdt::WholeNumber<std::uint32_t>(text, 1, 4294967295);
                          if (whole) record->*field = *whole;
                          return whole.has_value();
                        },
                        [&](double ResetRecord::*field) { return ReadTime(text, &(record->*field)); },
                        [&](ResetRecord::State ResetRecord::*field) {
                          const std::optional<ResetRecord::State> state = StateNamed(text);
                          if (state) record->*field = *state;
                          return state.has_value();
                        },
                    },
                    member);
}

// An optional field at its default value is not written.
bool Unset(const Field& field, const ResetRecord& record) {
  if (!field.optional) return false;
  return std::visit(Overloaded{
                        [&](std::string ResetRecord::*text) { return (record.*text).empty(); },
                        [&](std::uint32_t ResetRecord::*whole) { return record.*whole == 0; },
                        [&](double ResetRecord::*time) { return record.*time == 0; },
                        [&](ResetRecord::State ResetRecord::*) { return false; },
                    },
                    field.member);
}

std::string Header(const ResetRecord& record) {
  const Version& version = VersionOf(record.version);
  std::string text = std::string(kHeading) + "\nversion " + std::to_string(version.number) + "\n";
  for (const Field* field : FieldsOf(version)) {
    if (Unset(*field, record)) continue;
    text += std::string(field->key) + " " + Written(field->member, record) + "\n";
  }
  return text;
}

}  // namespace

std::string_view RecordLimits(int version) { return VersionOf(version).limits; }

std::string FormatRecord(const ResetRecord& record) {
  std::string text = Header(record);
  for (std::size_t slot = 0; slot < VersionOf(record.version).slots; ++slot) text += BeatLine(record);
  return text + "end\n";
}

Slot BeatSlot(const ResetRecord& record) {
  return {.offset = Header(record).size() + static_cast<std::size_t>(record.beat % 2) * kSlotWidth,
          .bytes = BeatLine(record)};
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
  const std::string_view number = lines[1].substr(kVersion.size());
  const auto version = std::find_if(kVersions.begin(), kVersions.end(),
                                    [&](const Version& known) { return std::to_string(known.number) == number; });
  if (version == kVersions.end()) {
    std::string known;
    for (std::size_t i = 0; i < kVersions.size(); ++i) {
      known += (i == 0 ? "" : i + 1 == kVersions.size() ? " and " : ", ") + std::to_string(kVersions[i].number);
    }
    return "of version " + wdt::Printable(number) + ", which this wdt-check does not know (it knows " + known + ")";
  }
  // Each key in its place; an optional one may be left out.
  const std::vector<const Field*> fields = FieldsOf(*version);
  std::vector<std::optional<std::string_view>> values(fields.size());
  std::size_t at = 2;  // the next line of the header
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string key = std::string(fields[i]->key) + " ";
    const std::string_view line = at < lines.size() ? lines[at] : std::string_view();
    if (!line.starts_with(key)) {
      if (fields[i]->optional) continue;
      return "incomplete: no " + std::string(fields[i]->key) + " where it belongs";
    }
    values[i] = line.substr(key.size());
    ++at;
  }
  if (lines.size() != at + version->slots + 1 || lines.back() != "end") {
    return std::string("incomplete: it does not end where it should");
  }
  ResetRecord record;
  record.version = version->number;
  const auto read = [&](Kind kind) -> std::string {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (values[i] && fields[i]->member.index() == kind && !Read(fields[i]->member, *values[i], &record)) {
        return "damaged: " + std::string(fields[i]->key) + " is '" + wdt::Printable(*values[i]) + "'";
      }
    }
    return {};
  };
  for (const Kind kind : {kText, kWhole, kTime}) {
    if (std::string why = read(kind); !why.empty()) return why;
  }
  if (record.boot_id.empty()) return std::string("damaged: boot_id is empty");
  if (std::string why = version->window(record); !why.empty()) return why;
  if (std::string why = read(kState); !why.empty()) return why;
  const std::span<const std::string_view> slots(lines.data() + at, version->slots);
  if (std::string why = version->rest(slots, &record); !why.empty()) return why;
  return record;
}

}  // namespace check
