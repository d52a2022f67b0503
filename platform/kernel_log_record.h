// One record of the kernel's log as Linux's /dev/kmsg hands it out, one a
// read: "priority,sequence,microseconds,flags;message\n", then continuation
// lines. Free of the system's headers, so that it is checked on every
// platform.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace platform {

struct KernelLogRecord {
  std::string_view message;          // its first line, up to the newline (a view into the record)
  std::chrono::microseconds stamp{};  // the kernel's monotonic clock when it was logged
};

// The record's message and stamp; nothing where the record is not so
// written (no ';', fewer than three fields before it, a stamp that is not
// all digits or does not fit).
std::optional<KernelLogRecord> ParseKernelLogRecord(std::string_view record);

}  // namespace platform
