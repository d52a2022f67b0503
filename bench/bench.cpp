// The exerciser's benchmark: runs the built program with the simulated
// library beside the bare reference (reference.c), both in the same run, and
// wdt-check on the same honest simulation, and prints one Markdown table, each figure as the median and the spread
// (lowest to highest) over repeated runs. It asserts nothing; the last column
// only says whether today's median meets the figure's target. The children
// run through the tests' child-process harness.
//
//   bench <wdt-exerciser> <reference> <wdt-check> [--short]
#include <dirent.h>
#include <signal.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "child_process.h"
#include "expected_output.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using test_support::ChildProcess;
using test_support::Input;
using namespace std::chrono_literals;

constexpr int kWarmUpKeys = 100;

struct Settings {
  bool short_mode = false;
  int key_runs = 9;           // key to prompt: its p99 is at the mercy of the machine's load
  int fast_runs = 5;          // pipe and memory figures
  int slow_runs = 3;          // idle, cadence and probe hold
  int check_runs = 5;         // each of wdt-check's two rows: some 6.5 s a run
  int terminal_keys = 1000;   // keys per key-to-prompt run
  long pipe_keys = 1000000;   // keys per pipe run
  long memory_keys = 1000000; // the second resident-set sample
  int idle_seconds = 10;
  int cadence_seconds = 20;
};

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "bench: %s\n", what.c_str());
  std::exit(1);
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A whole line as it arrives: a terminal ends it with "\r\n".
std::string LineOf(std::string_view text, Input input) {
  return printed::Line(text, input == Input::kTerminal ? "\r\n" : "\n");
}

// A child that counts `counted` in its outputs and keeps only their ends: a
// pipe run prints some 80 MB.
test_support::Options Counting(Input input, std::vector<std::string> counted,
                               std::vector<std::string> env = {}) {
  return {.input = input, .env = std::move(env), .counted = std::move(counted), .keep = 4096};
}

// Reads the child's outputs until `text` has occurred `count` times in
// standard output.
void WaitFor(ChildProcess& child, const std::string& text, std::uint64_t count,
             std::chrono::milliseconds deadline) {
  if (!child.WaitUntil([&] { return child.OutCount(text) >= count; }, deadline)) {
    Die("the child stopped short of its output" + child.Describe());
  }
}

// The arrival times of `text` in standard output until `end`, one for each
// read that brought it.
std::vector<Clock::time_point> Arrivals(ChildProcess& child, const std::string& text,
                                        Clock::time_point end) {
  std::vector<Clock::time_point> at;
  std::uint64_t seen = child.OutCount(text);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0 ||
        !child.WaitUntil([&] { return child.OutCount(text) > seen; }, left)) {
      return at;
    }
    const auto now = Clock::now();
    if (now < end) at.push_back(now);
    seen = child.OutCount(text);
  }
}

// Nanoseconds on a processor so far, all of the process's threads together.
long long CpuNs(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (dir == nullptr) Die("open " + tasks);
  long long total = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream schedstat(tasks + "/" + entry->d_name + "/schedstat");
    long long on_cpu = 0;
    if (schedstat >> on_cpu) total += on_cpu;
  }
  closedir(dir);
  return total;
}

// A line of /proc/<pid>/status, in KiB.
long StatusKiB(pid_t pid, std::string_view field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + field.size() + 1);
  }
  Die("no " + std::string(field) + " for the child");
}

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
  return values[std::max<std::size_t>(rank, 1) - 1];
}

// --- the figures, each for one run of one program ---

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
  ChildProcess traced(program, Counting(Input::kPipe, trace, {"WDT_SIM_TRACE=1"}));
  ChildProcess holding({reference, "hold"}, Counting(Input::kPipe, trace));
  double hold = 0;
  double reference_hold = 0;
  std::thread program_reader([&] { hold = ProbeHoldMs(traced); });
  reference_hold = ProbeHoldMs(holding);
  program_reader.join();
  return {hold, reference_hold};
}

// One run of wdt-check, which never reads its input, to its exit with 0 (every
// check passed); its standard output, and its wall time from start to exit.
std::string CheckRun(const std::vector<std::string>& args, double& seconds) {
  const auto start = Clock::now();
  ChildProcess child(args, {.input = Input::kDevNull});
  const int status = child.Wait(60s);
  seconds = Seconds(Clock::now() - start);
  if (status != 0) Die("wdt-check did not pass: wait status " + std::to_string(status) + child.Describe());
  return child.Output();
}

// The countdown check's "seconds_per_unit" in wdt-check's JSON: the one field
// of that name, a plain number.
double SecondsPerUnit(const std::string& json) {
  constexpr std::string_view kField = "\"seconds_per_unit\":";
  const std::size_t at = json.find(kField);
  if (at == std::string::npos) Die("no seconds_per_unit in wdt-check's JSON:\n" + json);
  const char* number = json.c_str() + at + kField.size();
  char* end = nullptr;
  const double value = std::strtod(number, &end);
  if (end == number) Die("seconds_per_unit is not a number in wdt-check's JSON:\n" + json);
  return value;
}

// --- the table ---

struct Spread {
  double median, low, high;
};

Spread Of(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  return {median, values.front(), values.back()};
}

std::string Format(const Spread& s, int decimals) {
  char text[128];
  if (s.low == s.high) {
    std::snprintf(text, sizeof text, "%.*f", decimals, s.median);
  } else {
    std::snprintf(text, sizeof text, "%.*f (%.*f–%.*f)", decimals, s.median, decimals, s.low,
                  decimals, s.high);
  }
  return text;
}

std::string CpuModel() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown";
}

template <typename T, typename F>
std::vector<double> Each(const std::vector<T>& runs, F field) {
  std::vector<double> values;
  for (const T& run : runs) values.push_back(field(run));
  return values;
}

}  // namespace

int main(int argc, char** argv) try {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s <wdt-exerciser> <reference> <wdt-check> [--short]\n", argv[0]);
    return 2;
  }
  const std::vector<std::string> program = {argv[1]};
  const std::string reference = argv[2];
  const std::string checker = argv[3];
  Settings settings;
  if (argc > 4 && std::string_view(argv[4]) == "--short") {
    settings = {true, 2, 2, 1, 1, 200, 20000, 20000, 2, 3};
  }
  signal(SIGPIPE, SIG_IGN);
  // The plain programs on the honest simulation: no device, no fault list, no
  // lie, no trace, unless a figure asks for one.
  std::vector<std::string> simulation = {"WDT_DEVICE"};
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "WDT_SIM_", 8) == 0) simulation.emplace_back(*e, std::strcspn(*e, "="));
  }
  for (const std::string& name : simulation) unsetenv(name.c_str());

  const auto progress = [](const char* what) { std::fprintf(stderr, "bench: %s\n", what); };

  progress("key to prompt");
  std::vector<KeyLatency> keys, reference_keys;
  for (int i = 0; i < settings.key_runs; ++i) {
    keys.push_back(KeyToPrompt(program, settings.terminal_keys));
    reference_keys.push_back(KeyToPrompt({reference, "keys"}, settings.terminal_keys));
  }
  progress("keys through a pipe");
  std::vector<double> rate, reference_rate;
  for (int i = 0; i < settings.fast_runs; ++i) {
    rate.push_back(PipeRate(program, settings.pipe_keys));
    reference_rate.push_back(PipeRate({reference, "keys"}, settings.pipe_keys));
  }
  progress("memory");
  std::vector<Memory> memory, reference_memory;
  for (int i = 0; i < settings.fast_runs; ++i) {
    memory.push_back(ResidentSet(program, settings.memory_keys));
    reference_memory.push_back(ResidentSet({reference, "keys"}, settings.memory_keys));
  }
  progress("probe hold");
  std::vector<double> hold, reference_hold;
  for (int i = 0; i < settings.slow_runs; ++i) {
    const std::vector<double> holds = ProbeHoldsMs(program, reference);
    hold.push_back(holds[0]);
    reference_hold.push_back(holds[1]);
  }
  progress("idle cost and monitor cadence");
  std::vector<Waiting> waiting;
  for (int i = 0; i < settings.slow_runs; ++i) waiting.push_back(Wait(program, reference, settings));
  progress("wdt-check");
  std::vector<double> check_s, rate_error;
  for (int i = 0; i < settings.check_runs; ++i) {
    double seconds = 0;
    CheckRun({checker}, seconds);
    check_s.push_back(seconds);
    rate_error.push_back(100 * std::abs(SecondsPerUnit(CheckRun({checker, "--json"}, seconds)) - 1));
  }

  const Spread p50 = Of(Each(keys, [](const KeyLatency& k) { return k.p50_us; }));
  const Spread p99 = Of(Each(keys, [](const KeyLatency& k) { return k.p99_us; }));
  const Spread ref_p50 = Of(Each(reference_keys, [](const KeyLatency& k) { return k.p50_us; }));
  const Spread ref_p99 = Of(Each(reference_keys, [](const KeyLatency& k) { return k.p99_us; }));
  const Spread keys_per_s = Of(rate);
  const Spread ref_keys_per_s = Of(reference_rate);
  const Spread peak = Of(Each(memory, [](const Memory& m) { return m.peak_mib; }));
  const Spread after_1000 = Of(Each(memory, [](const Memory& m) { return m.after_1000_mib; }));
  const Spread after_all = Of(Each(memory, [](const Memory& m) { return m.after_all_mib; }));
  const Spread growth = Of(Each(memory, [](const Memory& m) { return 1024 * (m.after_all_mib - m.after_1000_mib); }));
  const Spread ref_peak = Of(Each(reference_memory, [](const Memory& m) { return m.peak_mib; }));
  const Spread ref_after_1000 = Of(Each(reference_memory, [](const Memory& m) { return m.after_1000_mib; }));
  const Spread ref_after_all = Of(Each(reference_memory, [](const Memory& m) { return m.after_all_mib; }));
  const Spread ref_growth = Of(Each(reference_memory, [](const Memory& m) { return 1024 * (m.after_all_mib - m.after_1000_mib); }));
  const Spread idle = Of(Each(waiting, [](const Waiting& w) { return w.idle_percent; }));
  const Spread ref_idle = Of(Each(waiting, [](const Waiting& w) { return w.reference_idle_percent; }));
  const Spread mean = Of(Each(waiting, [](const Waiting& w) { return w.program_mean_ms; }));
  const Spread worst = Of(Each(waiting, [](const Waiting& w) { return w.program_worst_ms; }));
  const Spread ref_mean = Of(Each(waiting, [](const Waiting& w) { return w.reference_mean_ms; }));
  const Spread ref_worst = Of(Each(waiting, [](const Waiting& w) { return w.reference_worst_ms; }));
  const Spread hold_ms = Of(hold);
  const Spread ref_hold_ms = Of(reference_hold);
  const Spread check_run_s = Of(check_s);
  const Spread rate_error_pct = Of(rate_error);

  const auto met = [](bool yes) { return yes ? "yes" : "**no**"; };
  utsname machine{};
  uname(&machine);
  std::printf("Machine: %ld processors (nproc), %s, Linux %s%s\n\n", sysconf(_SC_NPROCESSORS_ONLN),
              CpuModel().c_str(), machine.release,
              settings.short_mode ? "; SHORT MODE (a smoke run, not a measurement)" : "");
  std::printf("Median (lowest–highest) over %d runs for the key-to-prompt rows, %d for the pipe "
              "and memory rows, %d for the wdt-check rows, %d for the others. The program is "
              "wdt-exerciser except in the wdt-check rows.\n\n",
              settings.key_runs, settings.fast_runs, settings.check_runs, settings.slow_runs);
  std::printf("| Figure | Program | Reference | Target | Met |\n|---|---|---|---|---|\n");
  std::printf("| Key to prompt p50, terminal, %d keys (µs) | %s | %s | - | - |\n",
              settings.terminal_keys, Format(p50, 0).c_str(), Format(ref_p50, 0).c_str());
  std::printf("| Key to prompt p99, terminal, %d keys (µs) | %s | %s | ≤ 1.5 × reference | %s |\n",
              settings.terminal_keys, Format(p99, 0).c_str(), Format(ref_p99, 0).c_str(),
              met(p99.median <= 1.5 * ref_p99.median));
  std::printf("| Keys through a pipe, %ld keys (keys/s) | %s | %s | ≥ 0.7 × reference | %s |\n",
              settings.pipe_keys, Format(keys_per_s, 0).c_str(), Format(ref_keys_per_s, 0).c_str(),
              met(keys_per_s.median >= 0.7 * ref_keys_per_s.median));
  std::printf("| Idle CPU over %d s at the prompt (%% of one core) | %s | %s | < 0.05 %% | %s |\n",
              settings.idle_seconds, Format(idle, 4).c_str(), Format(ref_idle, 4).c_str(),
              met(idle.median < 0.05));
  std::printf("| Peak resident set (MiB) | %s | %s | < 4 MiB | %s |\n", Format(peak, 2).c_str(),
              Format(ref_peak, 2).c_str(), met(peak.high < 4.0));
  std::printf("| Resident set after 1,000 keys (MiB) | %s | %s | - | - |\n",
              Format(after_1000, 2).c_str(), Format(ref_after_1000, 2).c_str());
  std::printf("| Resident set after %ld keys (MiB) | %s | %s | - | - |\n", settings.memory_keys,
              Format(after_all, 2).c_str(), Format(ref_after_all, 2).c_str());
  std::printf("| Growth from 1,000 to %ld keys (KiB) | %s | %s | none | %s |\n",
              settings.memory_keys, Format(growth, 0).c_str(), Format(ref_growth, 0).c_str(),
              met(growth.high <= 0));
  std::printf("| Monitor interval mean over %d s (ms) | %s | %s | 1000 to 1005 | %s |\n",
              settings.cadence_seconds, Format(mean, 1).c_str(), Format(ref_mean, 1).c_str(),
              met(mean.median >= 1000 && mean.median <= 1005));
  std::printf("| Monitor interval worst over %d s (ms) | %s | %s | - | - |\n",
              settings.cadence_seconds, Format(worst, 1).c_str(), Format(ref_worst, 1).c_str());
  std::printf("| Probe hold, enable to disable in the trace (ms) | %s | %s | 2000 to 2010 | %s |\n",
              Format(hold_ms, 1).c_str(), Format(ref_hold_ms, 1).c_str(),
              met(hold_ms.median >= 2000 && hold_ms.median <= 2010));
  std::printf("| wdt-check, default run, start to exit (s) | %s | - | ≤ 10 s | %s |\n",
              Format(check_run_s, 2).c_str(), met(check_run_s.median <= 10));
  std::printf("| wdt-check --json, countdown's error from 1 s per unit (%%) | %s | - | ≤ 1 %% | %s |\n",
              Format(rate_error_pct, 3).c_str(), met(rate_error_pct.median <= 1));
  return 0;
} catch (const std::exception& e) {
  std::fprintf(stderr, "bench: %s\n", e.what());
  return 1;
}
