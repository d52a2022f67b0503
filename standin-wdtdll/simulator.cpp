#include "simulator.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "trace.h"

namespace sim {

Simulator::Simulator(Settings settings, Clock::time_point (*now)(),
                     std::function<void(std::string_view)> diagnostics)
    : settings_(std::move(settings)),
      now_(now),
      diagnostics_(std::move(diagnostics)),
      refused_(!settings_.faults.error.empty() || !settings_.behaviour.error.empty()),
      lies_in_time_(Lies().stall > 0 || Lies().jump > 0) {
  if (!settings_.faults.error.empty()) {
    diagnostics_("wdtDLL (simulated): WDT_SIM_FAULTS " + settings_.faults.error +
                 "; every operation returns 3 (bad parameter)\n");
  }
  if (!settings_.behaviour.error.empty()) {
    diagnostics_("wdtDLL (simulated): WDT_SIM_BEHAVIOUR " + settings_.behaviour.error +
                 "; every operation returns 3 (bad parameter)\n");
  }
}

template <typename Arguments, typename Act>
StatusCode Simulator::Call(Operation operation, Arguments arguments, Act act) {
  const std::lock_guard lock(mutex_);
  const Clock::time_point now = now_();
  const std::uint64_t call_number = ++calls_[static_cast<std::size_t>(operation)];
  NoticeExpiry(now);
  std::uint32_t* shown = nullptr;  // what a read found, for the trace
  StatusCode status = kOk;
  if (refused_) {
    status = kBadParameter;
  } else if (const auto injected = settings_.faults.faults.empty()
                                       ? std::nullopt
                                       : InjectedStatus(settings_.faults.faults, operation, call_number)) {
    status = *injected;  // the call has no effect
  } else if (!session_open_ && operation != Operation::InitializeSession) {
    status = kNoHandle;
  } else {
    status = act(now, shown);
  }
  if (settings_.trace) {
    diagnostics_(standin::TraceLine(OperationName(operation), arguments(), status,
                           shown != nullptr ? " (value " + std::to_string(*shown) + ")" : ""));
  }
  return status;
}

inline void Simulator::NoticeExpiry(Clock::time_point now) {
  if (!armed_ || (lies_in_time_ ? Left(now) : deadline_ - now) > Clock::duration::zero()) return;
  // The simulation has no thread of its own: a run-out is noticed at the
  // first call after it.
  armed_ = false;
  stopped_value_ = 0;
  diagnostics_(kExpiredMessage);
}

Clock::duration Simulator::Left(Clock::time_point now) const {
  // A stalled counter stops for good; one that jumps loses its units half a
  // unit after each load, so that a read right after the load looks honest.
  if (Lies().stall > 0) {
    now = std::min(now, loaded_at_ + std::chrono::duration_cast<Clock::duration>(unit_ * Lies().stall));
  }
  Clock::duration left = deadline_ - now;
  if (Lies().jump > 0 && now - loaded_at_ >= unit_ / 2) left -= unit_ * Lies().jump;
  return left;
}

std::uint32_t Simulator::UnitsLeft(Clock::time_point now) const {
  if (Lies().frozen) return loaded_;
  Clock::duration left = std::max(Left(now), Clock::duration::zero());
  if (Lies().step > 0) {
    // A counter that moves in steps shows the time left up to a whole step.
    const auto step = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(Lies().step));
    left = (left + step - Clock::duration(1)) / step * step;
  }
  // Whole units, rounded up: 30 right after arming for 30; or down.
  const Clock::duration part = Lies().round_down ? Clock::duration(0) : unit_ - Clock::duration(1);
  return static_cast<std::uint32_t>((left + part) / unit_);
}

void Simulator::Arm(Clock::time_point now, std::uint32_t units) {
  armed_ = true;
  loaded_ = std::min(units, Lies().grant);
  loaded_at_ = now;
  deadline_ = now + unit_ * loaded_;
}

StatusCode Simulator::InitializeSession() {
  return Call(Operation::InitializeSession, standin::kNoArguments, [&](Clock::time_point, std::uint32_t*&) {
    if (session_open_) return kNoHandle;  // one session at a time
    session_open_ = true;
    return kOk;
  });
}

StatusCode Simulator::EnableTimer(std::uint32_t timeout, std::int32_t min_sec) {
  return Call(Operation::EnableTimer,
              [&] { return std::to_string(timeout) + ", " + std::to_string(min_sec); },
              [&](Clock::time_point now, std::uint32_t*&) {
                if ((min_sec != 0 && min_sec != 1) || timeout < 1 || timeout > kMaxTimeout) {
                  return kBadParameter;
                }
                const std::chrono::duration<double> unit =
                    min_sec == 0 ? std::chrono::seconds(1) : std::chrono::minutes(1);
                unit_ = std::chrono::duration_cast<Clock::duration>(unit / Lies().rate);
                Arm(now, timeout);
                return kOk;
              });
}

StatusCode Simulator::DisableTimer() {
  return Call(Operation::DisableTimer, standin::kNoArguments, [&](Clock::time_point now, std::uint32_t*&) {
    if (armed_ && !Lies().ignore_disarm) {
      // A disarmed counter stops where it stood.
      stopped_value_ = UnitsLeft(now);
      armed_ = false;
    }
    return kOk;
  });
}

StatusCode Simulator::WriteTimerValue(std::uint32_t value) {
  return Call(Operation::WriteTimerValue, [&] { return std::to_string(value); },
              [&](Clock::time_point now, std::uint32_t*&) {
                if (value < 1 || value > kMaxTimeout) return kBadParameter;
                if (armed_ && !Lies().ignore_reload) Arm(now, value);  // a disarmed watchdog stays disarmed
                return kOk;
              });
}

StatusCode Simulator::ReadTimerValue(std::uint32_t* value) {
  return Call(Operation::ReadTimerValue, standin::kNoArguments, [&](Clock::time_point now, std::uint32_t*& shown) {
    if (value == nullptr) return kBadParameter;
    *value = armed_ ? UnitsLeft(now) : stopped_value_;
    shown = value;
    return kOk;
  });
}

StatusCode Simulator::CloseSession() {
  return Call(Operation::CloseSession, standin::kNoArguments, [&](Clock::time_point, std::uint32_t*&) {
    session_open_ = false;  // the watchdog itself goes on as it is
    return kOk;
  });
}

std::optional<Clock::duration> Simulator::TimeLeft() {
  const std::lock_guard lock(mutex_);
  if (!armed_) return std::nullopt;
  return Left(now_());
}

}  // namespace sim
