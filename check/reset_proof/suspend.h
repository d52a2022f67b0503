// The reset proof across a sleep (--suspend): what its pre-flight refuses,
// and how the after-reset half judges a record of a machine that slept.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "record.h"
#include "report.h"
#include "seam.h"
#include "settings.h"

namespace check {

// The sleep's length in seconds: --suspend-for, or the timeout and 10 s more.
inline std::uint32_t SleepFor(const Settings& settings) {
  return settings.suspend_for != 0 ? settings.suspend_for : settings.timeout + 10;
}

// Why --suspend cannot run here, before anything is armed; empty if it can.
std::string SuspendRefusal(const Settings& settings, const Seam::Sleep& sleep);

// A reset that came while the machine slept, failed with when it came;
// nothing where the record holds no sleep, or one that ended.
std::optional<Check> JudgeResetAsleep(const ResetRecord& record, const std::vector<Figure>& figures);
// What the on-time verdict adds of a sleep that ended ("; after a suspend
// (mem) of 25.1 s"), with its figures; empty where there was none.
std::string SleepNote(const ResetRecord& record, std::vector<Figure>* figures);

}  // namespace check
