// Waiting, timed: the probe's hold, what the program costs while it waits at
// its prompt and the monitor's cadence meanwhile; the reference beside the
// program in the same run.
#include <algorithm>
#include <thread>

#include "expected_output.h"
#include "harness.h"
#include "measurements.h"

namespace bench {
namespace {

using namespace std::chrono_literals;

struct Waiting {
  double idle_percent;  // of one core
  double program_mean_ms, program_worst_ms;
  double reference_idle_percent;
  double reference_mean_ms, reference_worst_ms;
};

// The program and the reference each waiting at a prompt on a terminal, and
// the reference's timed line beside the monitor's; each child's output is
// read on a thread of its own.
Waiting Wait(const std::vector<std::string>& program, const std::string& reference,
             const Settings& settings) {
  const std::string prompt = LineOf(printed::kPrompt, Input::kTerminal);
  const std::string timer_line = printed::kTimerLine;
  ChildProcess waiting(program, Counting(Input::kTerminal, {prompt, timer_line}));
  ChildProcess reference_waiting({reference, "keys"}, Counting(Input::kTerminal, {prompt}));
  WaitFor(waiting, prompt, 1, 10s);
  WaitFor(reference_waiting, prompt, 1, 10s);
  ChildProcess ticking({reference, "tick"}, Counting(Input::kPipe, {timer_line}));

  const auto start = Clock::now();
  const long long cpu_start = CpuNs(waiting.Pid());
  const long long reference_cpu_start = CpuNs(reference_waiting.Pid());
  const auto idle_end = start + std::chrono::seconds(settings.idle_seconds);
  const auto cadence_end = start + std::chrono::seconds(settings.cadence_seconds);
  std::vector<Clock::time_point> lines;
  std::vector<Clock::time_point> ticks;
  std::thread program_reader([&] { lines = Arrivals(waiting, timer_line, cadence_end); });
  std::thread reference_reader([&] { ticks = Arrivals(ticking, timer_line, cadence_end); });
  std::this_thread::sleep_until(idle_end);
  const long long cpu = CpuNs(waiting.Pid()) - cpu_start;
  const long long reference_cpu = CpuNs(reference_waiting.Pid()) - reference_cpu_start;
  program_reader.join();
  reference_reader.join();
  if (!waiting.Running() || !ticking.Running()) Die("a child ended while it was timed");

  const auto cadence = [](const std::vector<Clock::time_point>& at, double& mean, double& worst) {
    mean = worst = 0;
    if (at.size() < 2) return;
    for (std::size_t i = 1; i < at.size(); ++i) {
      worst = std::max(worst, std::chrono::duration<double, std::milli>(at[i] - at[i - 1]).count());
    }
    mean = std::chrono::duration<double, std::milli>(at.back() - at.front()).count() /
           static_cast<double>(at.size() - 1);
  };
  Waiting result{};
  const double window_ns = settings.idle_seconds * 1e9;
  result.idle_percent = 100.0 * static_cast<double>(cpu) / window_ns;
  result.reference_idle_percent = 100.0 * static_cast<double>(reference_cpu) / window_ns;
  cadence(lines, result.program_mean_ms, result.program_worst_ms);
  cadence(ticks, result.reference_mean_ms, result.reference_worst_ms);
  return result;
}

// From the probe's enable to its disable, as the trace lines arrive on the
// child's standard error.
double ProbeHoldMs(ChildProcess& child) {
  const std::string enabled = printed::Line(printed::kTraceProbe);
  const std::string disabled = printed::Line(printed::kTraceDisarm);
  if (!child.WaitUntil([&] { return child.ErrCount(enabled) > 0; }, 10s)) {
    Die("no probe in the trace" + child.Describe());
  }
  const auto enable_at = Clock::now();
  // The disable may have come in the same read.
  if (!child.WaitUntil([&] { return child.ErrCount(disabled) > 0; }, 10s)) {
    Die("a trace ended before the probe's disable" + child.Describe());
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - enable_at).count();
}

// The probe holds of the program and the reference, run at the same time,
// each read on a thread of its own.
std::vector<double> ProbeHoldsMs(const std::vector<std::string>& program,
                                 const std::string& reference) {
  const std::vector<std::string> trace = {printed::Line(printed::kTraceProbe),
                                          printed::Line(printed::kTraceDisarm)};
  ChildProcess traced(program, Counting(Input::kPipe, trace, {"WDT_TRACE=1"}));
  ChildProcess holding({reference, "hold"}, Counting(Input::kPipe, trace));
  double hold = 0;
  double reference_hold = 0;
  std::thread program_reader([&] { hold = ProbeHoldMs(traced); });
  reference_hold = ProbeHoldMs(holding);
  program_reader.join();
  return {hold, reference_hold};
}

}  // namespace

std::vector<Reading> ProbeHolds(const Programs& programs, const Settings&) {
  const std::vector<double> holds = ProbeHoldsMs(programs.exerciser, programs.reference);
  return {{.figure = Figure::kProbeHold, .program = holds[0], .reference = holds[1]}};
}

std::vector<Reading> IdleAndCadence(const Programs& programs, const Settings& settings) {
  const Waiting waiting = Wait(programs.exerciser, programs.reference, settings);
  return {
      {.figure = Figure::kIdleCpu, .program = waiting.idle_percent, .reference = waiting.reference_idle_percent},
      {.figure = Figure::kMonitorIntervalMean,
       .program = waiting.program_mean_ms,
       .reference = waiting.reference_mean_ms},
      {.figure = Figure::kMonitorIntervalWorst,
       .program = waiting.program_worst_ms,
       .reference = waiting.reference_worst_ms},
  };
}

}  // namespace bench
