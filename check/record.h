// The record that joins the two halves of the reset proof: --expire writes
// it before it lets the watchdog run out and rewrites it a beat at a time,
// every 0.1 s (slower where the disk is), while the machine is alive;
// --after-reset reads it after the machine came back. It must survive a
// reset at any instant: it is written
// whole only by replacing it (a temporary file beside it, flushed, renamed
// over it, the folder flushed), and a beat goes in place into one of two
// slots in turn, each with a check of its own, with one flush of its data:
// a write cut short spoils only its own slot, and the other keeps the beat
// before. Durations are seconds after the last reload on the boot's
// monotonic clock, which nothing sets; wall-clock times are for people.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace check {

// Version 1 kept wall-clock times only, a beat a second; it is still read.
inline constexpr int kRecordVersion = 2;

struct ResetRecord {
  enum class State {
    kWaiting,    // the watchdog was left to run out; the machine was alive at alive_at
    kNoReset,    // the window closed with the machine alive: disarmed and closed
    kAbandoned,  // a signal or a stop ended the wait: disarmed and closed
  };
  int version = kRecordVersion;
  std::string device;        // WDT_DEVICE, or "the linked library"
  std::string identity;      // the driver's own name, where sysfs has it
  std::uint32_t timeout_s = 0;
  std::string boot_id;       // the boot that armed it
  // Wall-clock times, seconds since the epoch: for people.
  double reloaded_at = 0;    // the last reload
  double alive_at = 0;       // the last beat
  // Seconds after the last reload, on the monotonic clock (version 1: the
  // wall clock's, read from its times).
  double window_from_s = 0;  // the reset may come no earlier ...
  double window_until_s = 0; // ... and no later
  double alive_s = 0;        // the last beat: the machine was alive then
  double next_by_s = 0;      // by then the next beat would have been on disk
  // The wall clock's step against the monotonic clock seen while waiting
  // (negative: set back); 0 if none was seen.
  double wall_step_s = 0;
  std::uint64_t beat = 0;    // counts the beats: of two slots, the higher is the latest
  // Version 1's own, kept to write it back as it was: the window's ends on
  // the wall clock.
  double window_start = 0;
  double window_end = 0;
  State state = State::kWaiting;
  // --suspend's, each written only where set: the state that the machine
  // slept in ("freeze", "mem"), the sleep's planned length, its entry in
  // seconds after the last reload (the last beat before it), and how long it
  // slept by the boot clock, 0 until it woke.
  std::string suspend;
  double suspend_for_s = 0;
  double suspend_at_s = 0;
  double slept_s = 0;
  // The dead kernel's road (--hang), absent from every other record: the way
  // of dying; the crash, its last instant alive, on the monotonic clock
  // (seconds after the last reload) and the wall clock; kernel.panic and
  // kernel.sysrq as the run found them.
  std::string hang;
  double crashed_s = 0;
  double crashed_at = 0;
  std::string kernel_panic;
  std::string kernel_sysrq;
  bool operator==(const ResetRecord&) const = default;
};

std::string_view StateName(ResetRecord::State state);
std::optional<ResetRecord::State> StateNamed(std::string_view name);

// What a record of an older version holds, where it judges less than the
// current one ("wall-clock times, a beat a second"); empty for the current
// version.
std::string_view RecordLimits(int version);

// The record as its version writes it (wdt-check writes kRecordVersion):
// every version's keys are one table in record.cpp, a beat's slot is
// record_beat.h's.
std::string FormatRecord(const ResetRecord& record);

// The record in `text`, or why there is none ("not a reset record", "of
// version 7, which this wdt-check does not know", "incomplete: no alive_s"). A
// version 1 record comes with its durations read from its wall-clock times
// and the next beat a second after its last.
std::variant<ResetRecord, std::string> ParseRecord(std::string_view text);

// The slot of record.beat in the file that FormatRecord wrote for the same
// record (only the beat's fields may differ): where it starts, and its bytes.
struct Slot {
  std::size_t offset;
  std::string bytes;
};
Slot BeatSlot(const ResetRecord& record);

}  // namespace check
