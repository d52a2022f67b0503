// The hostile-input and soak runs: each output is counted (how often each of
// a few texts appeared) rather than kept, so a run may print hundreds of
// megabytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "child_process.h"

namespace hostile {

using test_support::ChildProcess;
using test_support::Input;
using namespace std::chrono_literals;

inline constexpr std::string_view kPrompt =
    "Press key to reset timer to 30 seconds. Press q to close WDT and quit application.";
inline constexpr std::string_view kClosed = "WDT closed. Exiting";
inline constexpr std::string_view kFailedWrite = "Failed to write time to driver";
inline constexpr std::string_view kNoCommunication = "Failed to communicate with driver";
inline constexpr std::string_view kPause = "Press any key to continue . . . ";
inline constexpr std::string_view kReload = "WriteTimerValue(30) -> 0\n";
inline constexpr std::string_view kDisable = "DisableTimer() -> 0\n";
inline constexpr std::string_view kClose = "CloseSession() -> 0\n";
// The beginnings of every sanitizer's report.
inline const std::vector<std::string> kSanitizerReports = {"ThreadSanitizer", "AddressSanitizer",
                                                           "LeakSanitizer", "runtime error:"};

// `options` with the texts above counted and only the outputs' ends kept.
inline test_support::Options Counted(test_support::Options options) {
  options.counted = {std::string(kPrompt),          std::string(kClosed), std::string(kFailedWrite),
                     std::string(kNoCommunication), std::string(kPause),  std::string(kReload),
                     std::string(kDisable),         std::string(kClose)};
  options.counted.insert(options.counted.end(), kSanitizerReports.begin(), kSanitizerReports.end());
  options.keep = 4096;
  return options;
}

inline std::uint64_t SanitizerReports(const ChildProcess& run) {
  std::uint64_t reports = 0;
  for (const std::string& text : kSanitizerReports) reports += run.ErrCount(text);
  return reports;
}

}  // namespace hostile
