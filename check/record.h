// The record that joins the two halves of the reset proof: --expire writes
// it before it lets the watchdog run out and rewrites it once a second while
// the machine is alive; --after-reset reads it after the machine came back.
// It must survive a reset at any instant, so it is only ever replaced whole
// (a temporary file beside it, flushed, renamed over it, the folder flushed).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "platform.h"

namespace check {

inline constexpr int kRecordVersion = 1;

struct ResetRecord {
  enum class State {
    kWaiting,    // the watchdog was left to run out; the machine was alive at alive_at
    kNoReset,    // the window closed with the machine alive: disarmed and closed
    kAbandoned,  // a signal or a stop ended the wait: disarmed and closed
  };
  std::string device;        // WDT_DEVICE, or "the linked library"
  std::string identity;      // the driver's own name, where sysfs has it
  std::uint32_t timeout_s = 0;
  std::string boot_id;       // the boot that armed it
  // Wall-clock times, seconds since the epoch.
  double reloaded_at = 0;    // the last reload
  double window_start = 0;   // the reset may come no earlier ...
  double window_end = 0;     // ... and no later
  double alive_at = 0;       // the last instant the machine was seen alive
  State state = State::kWaiting;
  bool operator==(const ResetRecord&) const = default;
};

std::string_view StateName(ResetRecord::State state);

std::string FormatRecord(const ResetRecord& record);

// The record in `text`, or why there is none ("not a reset record", "of
// version 7, which this wdt-check does not know", "incomplete: no window_end").
std::variant<ResetRecord, std::string> ParseRecord(std::string_view text);

// Replaces the file at path with contents, so that a crash or a reset at any
// instant leaves either the old file or the new one whole. An existing path
// that is not a regular file (a device, a folder, a link) is refused
// untouched. Empty on success, else what failed.
std::string ReplaceFile(const platform::FileCalls& calls, const std::string& path, std::string_view contents);

}  // namespace check
