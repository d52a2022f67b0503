#include "steps.h"

#include <array>
#include <cstddef>

#include "checks.h"

namespace check {
namespace {

constexpr Step kOpen{.name = "open", .check = Open};
constexpr Step kArm{.name = "arm", .check = Arm};
constexpr Step kCountdown{.name = "countdown", .check = Countdown};
constexpr Step kReload{.name = "reload", .check = Reload};
constexpr Step kBark{.name = "pretimeout", .check = Bark};
constexpr Step kDisarm{.name = "disarm", .check = Disarm};
constexpr Step kPutBack{.name = "put back", .act = PutBack};
constexpr Step kClose{.name = "close", .check = Close};
constexpr Step kLastReload{.name = "reload", .check = LastReload};
constexpr Step kExpire{.name = "expire", .check = Expire};
constexpr Step kWaitEnded{.name = "the wait's end recorded", .act = RecordHowTheWaitEnded};
constexpr Step kCrash{.name = "crash", .check = Crash};
constexpr Step kRecord{.name = "record", .check = Record};
constexpr Step kRebooted{.name = "rebooted", .check = Rebooted};
constexpr Step kOnTime{.name = "on-time", .check = OnTime};
constexpr Step kCause{.name = "cause", .check = Cause};
constexpr Step kSuspend{.name = "suspend", .check = Suspend};
constexpr Step kResume{.name = "resume", .check = Resume};

// steps with `added` before the step named `before`.
template <std::size_t N>
constexpr std::array<Step, N + 1> InsertedBefore(const std::array<Step, N>& steps, std::string_view before,
                                                 const Step& added) {
  std::array<Step, N + 1> out{};
  std::size_t at = 0;
  for (const Step& step : steps) {
    if (step.name == before) out[at++] = added;
    out[at++] = step;
  }
  return out;
}

// Once the first check has passed (the session open, the record read), each
// step runs whatever came before it; disarm, put back and close are also the
// cleanup, and run on every road.
constexpr std::array kCheckSteps{kOpen, kArm, kCountdown, kReload, kDisarm, kPutBack, kClose};
// The same, with the bark after the reload: its wait ends with the disarm.
constexpr auto kPretimeoutSteps = InsertedBefore(kCheckSteps, "disarm", kBark);
static_assert(kPretimeoutSteps.back().check == kClose.check, "the bark goes before the disarm");
constexpr std::array kExpireSteps{kOpen, kArm, kLastReload, kExpire, kDisarm, kPutBack, kClose, kWaitEnded};
// The same with the machine asleep after the last reload, and reloaded once after it wakes.
constexpr auto kSuspendSteps = InsertedBefore(InsertedBefore(kExpireSteps, "expire", kSuspend), "expire", kResume);
// The same with the kernel crashed after the last reload, so that only the watchdog can reset the machine.
constexpr std::array kHangSteps{kOpen, kArm, kLastReload, kCrash, kDisarm, kPutBack, kClose, kWaitEnded};
constexpr std::array kAfterResetSteps{kRecord, kRebooted, kOnTime, kCause};

}  // namespace

std::span<const Step> Steps(Mode mode) {
  switch (mode) {
    case Mode::kCheck: return kCheckSteps;
    case Mode::kPretimeout: return kPretimeoutSteps;
    case Mode::kExpire: return kExpireSteps;
    case Mode::kAfterReset: return kAfterResetSteps;
    case Mode::kSuspend: return kSuspendSteps;
    case Mode::kHang: return kHangSteps;
  }
  return kCheckSteps;
}

}  // namespace check
