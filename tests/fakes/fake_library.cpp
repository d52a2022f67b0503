// The six library operations, answering from the test's script.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <mutex>
#include <string>

#include "fake_state.h"
#include "fakes.h"

namespace fake {
namespace {

struct Script {
  std::map<std::string, std::map<int, StatusCode>, std::less<>> failures;
  std::map<std::string, int, std::less<>> calls;
  std::vector<std::uint32_t> read_values;
  std::size_t reads = 0;
  bool closed = false;
  std::optional<Counter> counter;
  bool armed = false;
  std::chrono::duration<double> deadline{};  // since the epoch of the counter's clock
  std::uint32_t stopped_value = 0;
  double least_left = std::numeric_limits<double>::infinity();

  double SecondsLeft() const {
    return std::chrono::duration<double>(deadline - counter->now().time_since_epoch()).count();
  }
  void Load(std::uint32_t units) {
    armed = true;
    deadline = counter->now().time_since_epoch() +
               std::chrono::duration<double>(std::min(units, counter->grant) * counter->seconds_per_unit);
  }
  std::uint32_t Shown() const {
    if (!armed) return stopped_value;
    double left = std::max(SecondsLeft(), 0.0);
    if (counter->tick_s > 0) left = std::ceil(left / counter->tick_s) * counter->tick_s;
    const double units = left / counter->seconds_per_unit;
    return static_cast<std::uint32_t>(counter->round_down ? std::floor(units) : std::ceil(units));
  }
};

Script& TheScript() {
  static Script script;
  return script;
}

// Counts the call and returns its scripted status, logging it.
StatusCode Answer(std::string_view operation, const std::string& call) {
  std::lock_guard lock(StateMutex());
  Script& s = TheScript();
  const int nth = ++s.calls[std::string(operation)];
  StatusCode status = 0;
  if (const auto it = s.failures.find(operation); it != s.failures.end()) {
    if (const auto f = it->second.find(nth); f != it->second.end()) {
      status = f->second;
    } else if (const auto every = it->second.find(0); every != it->second.end()) {
      status = every->second;
    }
  }
  LogLocked(call + " -> " + std::to_string(status));
  if (s.counter && s.armed) s.least_left = std::min(s.least_left, s.SecondsLeft());
  return status;
}

// Runs `effect` on the counter after a successful call, if there is one.
template <typename Effect>
StatusCode OnCounter(StatusCode status, Effect effect) {
  std::lock_guard lock(StateMutex());
  if (status == 0 && TheScript().counter) effect(TheScript());
  return status;
}

}  // namespace

void ResetLibrary() { TheScript() = Script{}; }

void FailCall(std::string_view operation, int nth, StatusCode status) {
  std::lock_guard lock(StateMutex());
  TheScript().failures[std::string(operation)][nth] = status;
}

void UseCounter(Counter counter) {
  std::lock_guard lock(StateMutex());
  TheScript().counter = std::move(counter);
}

double LeastSecondsLeft() {
  std::lock_guard lock(StateMutex());
  return TheScript().least_left;
}

bool CounterArmed() {
  std::lock_guard lock(StateMutex());
  return TheScript().armed;
}

void SetReadValues(std::vector<std::uint32_t> values) {
  std::lock_guard lock(StateMutex());
  TheScript().read_values = std::move(values);
}

}  // namespace fake

extern "C" {

StatusCode InitializeSession(void) { return fake::Answer("InitializeSession", "InitializeSession()"); }

StatusCode EnableTimer(uint32_t timeout, int32_t min_sec) {
  return fake::OnCounter(fake::Answer("EnableTimer", "EnableTimer(" + std::to_string(timeout) + ", " +
                                                         std::to_string(min_sec) + ")"),
                         [&](fake::Script& s) { s.Load(timeout); });
}

StatusCode DisableTimer(void) {
  return fake::OnCounter(fake::Answer("DisableTimer", "DisableTimer()"), [](fake::Script& s) {
    s.stopped_value = s.Shown();
    s.armed = false;
  });
}

StatusCode WriteTimerValue(uint32_t value) {
  return fake::OnCounter(fake::Answer("WriteTimerValue", "WriteTimerValue(" + std::to_string(value) + ")"),
                         [&](fake::Script& s) {
                           if (s.armed) s.Load(value);
                         });
}

StatusCode ReadTimerValue(uint32_t* value) {
  // Like a real library, a read after the close finds no session.
  bool closed = false;
  {
    std::lock_guard lock(fake::StateMutex());
    closed = fake::TheScript().closed;
  }
  if (closed) fake::FailCall("ReadTimerValue", 0, 2);
  const StatusCode status = fake::Answer("ReadTimerValue", "ReadTimerValue()");
  std::lock_guard lock(fake::StateMutex());
  fake::NoteTimerReaderLocked();
  fake::Script& s = fake::TheScript();
  if (status == 0 && s.counter) {
    *value = s.Shown();
  } else if (status == 0 && !s.read_values.empty()) {
    *value = s.read_values[std::min(s.reads, s.read_values.size() - 1)];
    ++s.reads;
  }
  return status;
}

StatusCode CloseSession(void) {
  const StatusCode status = fake::Answer("CloseSession", "CloseSession()");
  std::lock_guard lock(fake::StateMutex());
  if (status == 0) fake::TheScript().closed = true;
  return status;
}

}  // extern "C"
