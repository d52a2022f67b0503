// A simulated watchdog: one state behind one mutex, so that the program's
// two threads may call in at once. The clock and the diagnostics sink are
// passed in, so tests can run the countdown without sleeping.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "backend.h"
#include "behaviour.h"
#include "light_lock.h"
#include "fault_list.h"
#include "status_codes.h"
#include "wdtDLL.h"

namespace sim {

using Clock = std::chrono::steady_clock;

using wdt::kBadParameter;
using wdt::kNoHandle;
using wdt::kMaxTimeout;
using wdt::kOk;

struct Settings {
  FaultList faults;
  bool trace = false;      // WDT_TRACE=1
  BehaviourList behaviour;  // honest unless WDT_SIM_BEHAVIOUR says otherwise
};

// The text that the library prints when an armed timer runs out.
inline constexpr std::string_view kExpiredMessage =
    "wdtDLL (simulated): the watchdog expired; a hardware watchdog would now reset the "
    "machine\n";

class Simulator final : public standin::Backend {
 public:
  // now() is read under the lock, so the two threads see one ordered time.
  // diagnostics receives whole lines (trace, expiry, a bad fault list).
  Simulator(Settings settings, Clock::time_point (*now)(),
            std::function<void(std::string_view)> diagnostics);

  StatusCode InitializeSession() override;
  StatusCode EnableTimer(std::uint32_t timeout, std::int32_t min_sec) override;
  StatusCode DisableTimer() override;
  StatusCode WriteTimerValue(std::uint32_t value) override;
  StatusCode ReadTimerValue(std::uint32_t* value) override;
  StatusCode CloseSession() override;
  std::string Describe() const override { return "kind=simulated\n"; }

  // While armed, the time until it runs out; for tests that watch a margin.
  std::optional<Clock::duration> TimeLeft();

 private:
  // Runs one call under the lock: a bad fault or behaviour list, an injected
  // fault, the expiry check and the session check come first, then `act`,
  // then the trace line, whose arguments() are formatted only for it.
  template <typename Arguments, typename Act>
  StatusCode Call(Operation operation, Arguments arguments, Act act);
  void NoticeExpiry(Clock::time_point now);
  void Arm(Clock::time_point now, std::uint32_t units);
  std::uint32_t UnitsLeft(Clock::time_point now) const;  // while armed
  // The time until it runs out, as the lies have it.
  Clock::duration Left(Clock::time_point now) const;
  const Behaviour& Lies() const { return settings_.behaviour.behaviour; }

  wdt::LightLock mutex_;
  const Settings settings_;
  Clock::time_point (*const now_)();
  const std::function<void(std::string_view)> diagnostics_;
  const bool refused_;       // a bad fault or behaviour list: every call is refused
  const bool lies_in_time_;  // it stalls or jumps: the time left is not the deadline's
  std::array<std::uint64_t, kOperationNames.size()> calls_{};

  bool session_open_ = false;
  bool armed_ = false;
  Clock::duration unit_ = std::chrono::seconds(1);  // as it counts (rate=)
  Clock::time_point deadline_{};
  std::uint32_t loaded_ = 0;         // units of the last arm or reload
  Clock::time_point loaded_at_{};
  std::uint32_t stopped_value_ = 0;  // what a read shows while disarmed
};

}  // namespace sim
