// What a run reports: each check's result, detail, figures and what its
// verdict rests on; the run's verdict, what ended it early, and what it left
// on the device.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "watchdog_description.h"

namespace check {

enum class Result { kPass, kFail, kSkip };

// A measured figure: its JSON name and its value as a JSON number.
struct Figure {
  std::string name;
  std::string value;
  bool operator==(const Figure&) const = default;
};

// What a check's verdict rests on.
enum class Evidence {
  kNone,           // nothing: the check was skipped
  kCallStatus,     // a call's status alone (open, close)
  kHardware,       // values read from the watchdog
  kSimulation,     // values read from the stand-in's simulated watchdog: nothing measured
  kLibrary,        // values from a library that does not describe its watchdog
  kLibraryCount,   // values that the library counts itself: the driver reports no time left
  kKernelState,    // the kernel's word on whether the watchdog runs (sysfs state)
  kKernelLog,      // the kernel's own record of an event, with its time
  kRecord,         // the reset record and the boot identity (after the reset)
};

struct Check {
  std::string name;
  Result result = Result::kSkip;
  std::string detail;
  std::vector<Figure> figures;
  double time_s = 0;  // from the end of the check before
  Evidence evidence = Evidence::kNone;
};

enum class Verdict { kPass, kFail, kCannotRun };

struct Report {
  Verdict verdict = Verdict::kCannotRun;
  std::vector<Check> checks;  // every check of the mode, in order
  // What ended the run early, empty if nothing did: "stopped by a signal",
  // "stopped by SIGTSTP", "stalled for 3.2 s".
  std::string stopped;
  double duration_s = 0;
  // Set where the run ends with the watchdog still running (a driver loaded
  // with nowayout): seconds until it resets the machine, by the last read.
  std::optional<std::uint32_t> left_running_s{};
  // What the run changed on the device and put back as it found it
  // ("timeout 60 s, pretimeout 5 s, governor panic"), and what it could not
  // put back, with why; each empty if none.
  std::string put_back{};
  std::string not_put_back{};
  // The watchdog that was checked (after a reset: the record's), and what
  // the reset proof covers on it: "kernel" (a watchdog outside the kernel:
  // a hung kernel too), "process" (a software watchdog: only a process that
  // stops feeding); empty outside the reset proof or where it is not known.
  Watchdog watchdog{};
  std::string covers{};
};

// What the reset proof covers on a watchdog: "kernel", "process" or empty.
inline std::string Covers(const Watchdog& watchdog) {
  if (watchdog.kind != Watchdog::Kind::kDevice) return {};
  return watchdog.software ? "process" : "kernel";
}

// "the driver was loaded with nowayout: the watchdog is left running and
// resets the machine in 28 s unless something feeds it"; empty if it is not.
inline std::string LeftRunning(const Report& report) {
  if (!report.left_running_s) return {};
  return "the driver was loaded with nowayout: the watchdog is left running and resets the machine in " +
         std::to_string(*report.left_running_s) + " s unless something feeds it";
}

// 0 pass, 1 a check failed, 2 it could not run.
inline int ExitStatus(Verdict verdict) {
  switch (verdict) {
    case Verdict::kPass: return 0;
    case Verdict::kFail: return 1;
    case Verdict::kCannotRun: return 2;
  }
  return 2;
}

}  // namespace check
