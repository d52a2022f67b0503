#include "simulated_library.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <mutex>
#include <string>

#include "fake_state.h"
#include "fakes.h"
#include "simulator.h"

namespace fake {
namespace {

std::unique_ptr<sim::Simulator> g_simulator;
std::mutex g_least_mutex;
double g_least = std::numeric_limits<double>::infinity();

void Observe() {
  const auto left = g_simulator->TimeLeft();
  if (!left) return;
  const std::lock_guard lock(g_least_mutex);
  g_least = std::min(g_least, std::chrono::duration<double>(*left).count());
}

// A call, with the time left looked at before and after it.
template <typename Call>
StatusCode Observed(Call call) {
  Observe();
  const StatusCode status = call(*g_simulator);
  Observe();
  return status;
}

}  // namespace

void ResetLibrary() { UseSimulator(); }

void UseSimulator(std::string_view faults, std::string_view behaviour) {
  sim::Settings settings{
      .faults = sim::ParseFaultList(faults), .trace = true, .behaviour = sim::ParseBehaviour(behaviour)};
  g_simulator = std::make_unique<sim::Simulator>(
      std::move(settings), [] { return TheClock().Now(); },
      [](std::string_view line) { Log(std::string(line.substr(0, line.find_last_not_of('\n') + 1))); });
  const std::lock_guard lock(g_least_mutex);
  g_least = std::numeric_limits<double>::infinity();
}

wdt::Operations Simulated() {
  return {
      .initialize_session = [] { return Observed([](sim::Simulator& s) { return s.InitializeSession(); }); },
      .enable_timer = [](std::uint32_t timeout, std::int32_t min_sec) {
        return Observed([&](sim::Simulator& s) { return s.EnableTimer(timeout, min_sec); });
      },
      .disable_timer = [] { return Observed([](sim::Simulator& s) { return s.DisableTimer(); }); },
      .write_timer_value =
          [](std::uint32_t value) { return Observed([&](sim::Simulator& s) { return s.WriteTimerValue(value); }); },
      .read_timer_value = [](std::uint32_t* value) {
        {
          const std::lock_guard lock(StateMutex());
          NoteTimerReaderLocked();  // the calling thread is the monitor
        }
        return Observed([&](sim::Simulator& s) { return s.ReadTimerValue(value); });
      },
      .close_session = [] { return Observed([](sim::Simulator& s) { return s.CloseSession(); }); },
  };
}

double LeastSecondsLeft() {
  const std::lock_guard lock(g_least_mutex);
  return g_least;
}

bool Armed() { return g_simulator->TimeLeft().has_value(); }

}  // namespace fake
