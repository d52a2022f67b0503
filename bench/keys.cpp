// The key path, timed: a key to its prompt on a terminal, keys through a
// pipe, and the resident set over a run of keys; each for the program and the
// reference, one after the other.
#include <algorithm>
#include <cmath>

#include "expected_output.h"
#include "harness.h"
#include "measurements.h"

namespace bench {
namespace {

using namespace std::chrono_literals;

constexpr int kWarmUpKeys = 100;

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
  return values[std::max<std::size_t>(rank, 1) - 1];
}

struct KeyLatency {
  double p50_us;
  double p99_us;
};

KeyLatency KeyToPrompt(const std::vector<std::string>& args, int keys) {
  const std::string prompt = LineOf(printed::kPrompt, Input::kTerminal);
  ChildProcess child(args, Counting(Input::kTerminal, {prompt}));
  WaitFor(child, prompt, 1, 10s);
  // Unmeasured keys first: the program has just slept through its 2 s probe
  // hold, and the first keys after an idle spell pay for waking processors.
  std::vector<double> latencies;
  latencies.reserve(static_cast<std::size_t>(keys));
  for (int i = 0; i < kWarmUpKeys + keys; ++i) {
    const auto sent = Clock::now();
    child.Send("a");
    WaitFor(child, prompt, i + 2, 5s);
    if (i >= kWarmUpKeys) {
      latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }
  }
  child.Send("q");
  return {Percentile(latencies, 0.50), Percentile(latencies, 0.99)};
}

// Keys per second from the first prompt to the closing line.
double PipeRate(const std::vector<std::string>& args, long keys) {
  const std::string prompt = LineOf(printed::kPrompt, Input::kPipe);
  const std::string closed = LineOf(printed::kClosed, Input::kPipe);
  ChildProcess child(args, Counting(Input::kPipe, {prompt, closed}));
  WaitFor(child, prompt, 1, 10s);
  const auto first = Clock::now();
  // Written while the outputs are read: the program never waits for either.
  child.Send(std::string(static_cast<std::size_t>(keys), 'a') + "q");
  WaitFor(child, closed, 1, 600s);
  const auto end = Clock::now();
  child.Wait();
  return static_cast<double>(keys) / Seconds(end - first);
}

struct Memory {
  double peak_mib;
  double after_1000_mib;
  double after_all_mib;
};

Memory ResidentSet(const std::vector<std::string>& args, long keys) {
  const std::string prompt = LineOf(printed::kPrompt, Input::kPipe);
  ChildProcess child(args, Counting(Input::kPipe, {prompt}));
  WaitFor(child, prompt, 1, 10s);
  child.Send(std::string(1000, 'a'));
  WaitFor(child, prompt, 1001, 60s);
  const long after_1000 = StatusKiB(child.Pid(), "VmRSS:");
  child.Send(std::string(static_cast<std::size_t>(keys - 1000), 'a'));
  WaitFor(child, prompt, static_cast<std::uint64_t>(keys) + 1, 600s);
  const long after_all = StatusKiB(child.Pid(), "VmRSS:");
  const long peak = StatusKiB(child.Pid(), "VmHWM:");
  child.Send("q");
  return {peak / 1024.0, after_1000 / 1024.0, after_all / 1024.0};
}

}  // namespace

std::vector<Reading> KeysOnATerminal(const Programs& programs, const Settings& settings) {
  const KeyLatency program = KeyToPrompt(programs.exerciser, settings.terminal_keys);
  const KeyLatency reference = KeyToPrompt({programs.reference, "keys"}, settings.terminal_keys);
  return {
      {.figure = Figure::kKeyToPromptP50, .program = program.p50_us, .reference = reference.p50_us},
      {.figure = Figure::kKeyToPromptP99, .program = program.p99_us, .reference = reference.p99_us},
  };
}

std::vector<Reading> KeysThroughAPipe(const Programs& programs, const Settings& settings) {
  const double program = PipeRate(programs.exerciser, settings.pipe_keys);
  const double reference = PipeRate({programs.reference, "keys"}, settings.pipe_keys);
  return {{.figure = Figure::kPipeRate, .program = program, .reference = reference}};
}

std::vector<Reading> MemoryOverKeys(const Programs& programs, const Settings& settings) {
  const Memory program = ResidentSet(programs.exerciser, settings.memory_keys);
  const Memory reference = ResidentSet({programs.reference, "keys"}, settings.memory_keys);
  const auto growth_kib = [](const Memory& m) { return 1024 * (m.after_all_mib - m.after_1000_mib); };
  return {
      {.figure = Figure::kPeakResidentSet, .program = program.peak_mib, .reference = reference.peak_mib},
      {.figure = Figure::kResidentSetAfter1000,
       .program = program.after_1000_mib,
       .reference = reference.after_1000_mib},
      {.figure = Figure::kResidentSetAfterAll, .program = program.after_all_mib, .reference = reference.after_all_mib},
      {.figure = Figure::kResidentSetGrowth, .program = growth_kib(program), .reference = growth_kib(reference)},
  };
}

}  // namespace bench
