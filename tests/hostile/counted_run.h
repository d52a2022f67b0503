// The hostile-input and soak runs: each output is counted (how often each of
// a few texts appeared) rather than kept, so a run may print hundreds of
// megabytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "child_process.h"
#include "expected_output.h"

namespace hostile {

using test_support::ChildProcess;
using test_support::Input;
using namespace std::chrono_literals;

// The counted texts; the trace's lines with their end.
using printed::kClosed;
using printed::kFailedReload;
using printed::kNoCommunication;
using printed::kPause;
using printed::kPrompt;
inline const std::string kReload = printed::Line(printed::kTraceReload);
inline const std::string kDisable = printed::Line(printed::kTraceDisarm);
inline const std::string kClose = printed::Line(printed::kTraceClose);
// The beginnings of every sanitizer's report.
inline const std::vector<std::string> kSanitizerReports = {"ThreadSanitizer", "AddressSanitizer",
                                                           "LeakSanitizer", "runtime error:"};

// `options` with the texts above counted and only the outputs' ends kept.
inline test_support::Options Counted(test_support::Options options) {
  options.counted = {std::string(kPrompt),          std::string(kClosed), std::string(kFailedReload),
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
