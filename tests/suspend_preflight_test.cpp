// --suspend's pre-flight: each thing that it needs, missing, is refused with
// its reason before anything is armed; with all of them there, nothing is.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "reset_proof/suspend.h"

namespace {

struct Refusal {
  const char* name;
  const char* device_path;
  bool known;                         // sysfs knows a watchdog there
  std::optional<std::string> states;  // /sys/power/state
  bool wake_alarm;
  bool may_sleep;
  const char* said;                   // empty: not refused
  friend void PrintTo(const Refusal& row, std::ostream* os) { *os << row.name; }
};

class SuspendPreflightTest : public testing::TestWithParam<Refusal> {};

TEST_P(SuspendPreflightTest, RefusesWhatIsMissingBeforeArming) {
  const Refusal& row = GetParam();
  check::Settings settings{.mode = check::Mode::kSuspend, .record = "r", .device_path = row.device_path,
                           .suspend = "mem"};
  if (row.known) settings.device = sysfs::Facts{.name = "watchdog0"};
  const check::Seam::Sleep sleep{.states = [&] { return row.states; },
                                 .wake_alarm = [&] { return row.wake_alarm; },
                                 .may_sleep = [&] { return row.may_sleep; }};
  EXPECT_EQ(check::SuspendRefusal(settings, sleep), row.said);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SuspendPreflightTest,
    testing::Values(
        Refusal{"Ready", "/dev/watchdog0", true, "freeze mem disk", true, true, ""},
        Refusal{"TheSimulatedWatchdog", "", false, "freeze mem disk", true, true,
                "--suspend needs a kernel watchdog (WDT_DEVICE): the simulated watchdog does not sleep with the "
                "machine"},
        Refusal{"NoKernelDevice", "/dev/null", false, "freeze mem disk", true, true,
                "--suspend needs a kernel watchdog: sysfs knows no watchdog at /dev/null"},
        Refusal{"NoSleepAtAll", "/dev/watchdog0", true, std::nullopt, true, true,
                "--suspend mem: this system offers no sleep (/sys/power/state)"},
        Refusal{"StateNotOffered", "/dev/watchdog0", true, "freeze disk", true, true,
                "--suspend mem: the kernel does not offer it (/sys/power/state: freeze disk)"},
        Refusal{"OnlyAWordThatHoldsIt", "/dev/watchdog0", true, "memory", true, true,
                "--suspend mem: the kernel does not offer it (/sys/power/state: memory)"},
        Refusal{"NoWakeAlarm", "/dev/watchdog0", true, "mem", false, true,
                "--suspend: no RTC with a wake alarm (/sys/class/rtc/rtc0/wakealarm) to end the sleep"},
        Refusal{"NoRights", "/dev/watchdog0", true, "mem", true, false,
                "--suspend needs root: it writes /sys/power/state and the RTC's wake alarm"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
