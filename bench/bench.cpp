// The exerciser's benchmark: runs the built program with the simulated
// library beside the bare reference (reference.c), both in the same run, and
// wdt-check on the same honest simulation, and prints one Markdown table, each figure as the median and the spread
// (lowest to highest) over repeated runs, or a count under valgrind. The last
// column only says whether a figure meets its target; the one target that
// fails the run is the program's instructions per key, a count that the
// machine's load does not change. Each measurement lives in a file named for
// what it measures (measurements.h); this file runs them and prints the table.
//
//   bench <wdt-exerciser> <reference> <wdt-check> [--short]
#include <signal.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "harness.h"
#include "measurements.h"

extern char** environ;

namespace {

using bench::Figure;
using bench::Settings;
using bench::Spread;

// A measurement and how often it runs, in the order that they run.
struct Measurement {
  const char* progress;  // said on standard error as it starts
  int Settings::*runs;   // nullptr: once (a count, or a run too long to repeat)
  bench::Measure measure;
};

constexpr Measurement kMeasurements[] = {
    {.progress = "instructions and allocations, counted under valgrind", .runs = nullptr, .measure = bench::Counted},
    {.progress = "key to prompt", .runs = &Settings::key_runs, .measure = bench::KeysOnATerminal},
    {.progress = "keys through a pipe", .runs = &Settings::fast_runs, .measure = bench::KeysThroughAPipe},
    {.progress = "memory", .runs = &Settings::fast_runs, .measure = bench::MemoryOverKeys},
    {.progress = "probe hold", .runs = &Settings::slow_runs, .measure = bench::ProbeHolds},
    {.progress = "idle cost and monitor cadence", .runs = &Settings::slow_runs, .measure = bench::IdleAndCadence},
    {.progress = "wdt-check", .runs = &Settings::check_runs, .measure = bench::CheckRuns},
    {.progress = "wdt-check --expire's beat", .runs = nullptr, .measure = bench::ResetProofBeat},
};

// The one figure that the benchmark enforces (it fails above it): the
// program's instructions per key from a pipe, on the simulated library.
// 205 today, of which the library's reload is some 110 (README.md): the
// guard sits just above, so that any of the savings undone fails it.
constexpr double kKeyInstructionsTarget = 220;
// Shown against their targets, not enforced.
constexpr double kPassInstructionsTarget = 450;
constexpr double kReadInstructionsTarget = 250;

// Whether today's figures meet a row's target.
using Met = bool (*)(const Spread& program, const Spread& reference);

struct Row {
  Figure figure;
  std::string name;  // the figure, its unit in brackets
  int decimals;
  std::string target = "-";
  Met met = nullptr;  // nullptr: no target ("-" in the last column)
  // Not empty: the run fails, after the table, when the target is missed,
  // and says so with the program's figure followed by this.
  std::string enforced = "";
};

std::string Whole(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", value);
  return text;
}

// The table, one row a figure; some name the counts that the settings give.
std::vector<Row> Rows(const Settings& settings) {
  const std::string terminal_keys = std::to_string(settings.terminal_keys);
  const std::string memory_keys = std::to_string(settings.memory_keys);
  const std::string cadence = "over " + std::to_string(settings.cadence_seconds) + " s";
  return {
      {.figure = Figure::kKeyToPromptP50,
       .name = "Key to prompt p50, terminal, " + terminal_keys + " keys (µs)",
       .decimals = 0},
      {.figure = Figure::kKeyToPromptP99,
       .name = "Key to prompt p99, terminal, " + terminal_keys + " keys (µs)",
       .decimals = 0,
       .target = "≤ 1.5 × reference",
       .met = [](const Spread& p, const Spread& r) { return p.median <= 1.5 * r.median; }},
      {.figure = Figure::kPipeRate,
       .name = "Keys through a pipe, " + std::to_string(settings.pipe_keys) + " keys (keys/s)",
       .decimals = 0,
       .target = "≥ 0.7 × reference",
       .met = [](const Spread& p, const Spread& r) { return p.median >= 0.7 * r.median; }},
      {.figure = Figure::kIdleCpu,
       .name = "Idle CPU over " + std::to_string(settings.idle_seconds) + " s at the prompt (% of one core)",
       .decimals = 4,
       .target = "< 0.05 %",
       .met = [](const Spread& p, const Spread&) { return p.median < 0.05; }},
      {.figure = Figure::kPeakResidentSet,
       .name = "Peak resident set (MiB)",
       .decimals = 2,
       .target = "< 4 MiB",
       .met = [](const Spread& p, const Spread&) { return p.high < 4.0; }},
      {.figure = Figure::kResidentSetAfter1000, .name = "Resident set after 1,000 keys (MiB)", .decimals = 2},
      {.figure = Figure::kResidentSetAfterAll,
       .name = "Resident set after " + memory_keys + " keys (MiB)",
       .decimals = 2},
      {.figure = Figure::kResidentSetGrowth,
       .name = "Growth from 1,000 to " + memory_keys + " keys (KiB)",
       .decimals = 0,
       .target = "none",
       .met = [](const Spread& p, const Spread&) { return p.high <= 0; }},
      {.figure = Figure::kMonitorIntervalMean,
       .name = "Monitor interval mean " + cadence + " (ms)",
       .decimals = 1,
       .target = "1000 to 1005",
       .met = [](const Spread& p, const Spread&) { return p.median >= 1000 && p.median <= 1005; }},
      {.figure = Figure::kMonitorIntervalWorst, .name = "Monitor interval worst " + cadence + " (ms)", .decimals = 1},
      {.figure = Figure::kProbeHold,
       .name = "Probe hold, enable to disable in the trace (ms)",
       .decimals = 1,
       .target = "2000 to 2010",
       .met = [](const Spread& p, const Spread&) { return p.median >= 2000 && p.median <= 2010; }},
      {.figure = Figure::kCheckRunTime,
       .name = "wdt-check, default run, start to exit (s)",
       .decimals = 2,
       .target = "≤ 7 s",
       .met = [](const Spread& p, const Spread&) { return p.median <= 7; }},
      {.figure = Figure::kCountdownError,
       .name = "wdt-check --json, countdown's error from 1 s per unit (%)",
       .decimals = 3,
       .target = "≤ 0.1 %",
       .met = [](const Spread& p, const Spread&) { return p.median <= 0.1; }},
      {.figure = Figure::kBeatRate,
       .name = "wdt-check --expire, the reset proof's beat over its 20 s wait (beats/s)",
       .decimals = 1,
       .target = "≥ 9",
       .met = [](const Spread& p, const Spread&) { return p.median >= 9; }},
      {.figure = Figure::kSlowestBeatWrite,
       .name = "wdt-check --expire, the slowest beat's write of the record (ms)",
       .decimals = 1,
       .target = "≤ 100",
       .met = [](const Spread& p, const Spread&) { return p.median <= 100; }},
      {.figure = Figure::kKeyInstructions,
       .name = "Instructions per key through a pipe (callgrind)",
       .decimals = 1,
       .target = "≤ " + Whole(kKeyInstructionsTarget),
       .met = [](const Spread& p, const Spread&) { return p.median <= kKeyInstructionsTarget; },
       .enforced = "instructions per key, above the target of " + Whole(kKeyInstructionsTarget)},
      {.figure = Figure::kKeyAllocations,
       .name = "Heap allocations per key (memcheck)",
       .decimals = 4,
       .target = "none",
       .met = [](const Spread& p, const Spread&) { return p.median == 0; }},
      {.figure = Figure::kPassInstructions,
       .name = "Instructions per monitor pass (callgrind)",
       .decimals = 0,
       .target = "≤ " + Whole(kPassInstructionsTarget),
       .met = [](const Spread& p, const Spread&) { return p.median <= kPassInstructionsTarget; }},
      {.figure = Figure::kPassAllocations,
       .name = "Heap allocations per monitor pass (memcheck)",
       .decimals = 2,
       .target = "none",
       .met = [](const Spread& p, const Spread&) { return p.median == 0; }},
      {.figure = Figure::kReadInstructions,
       .name = "Instructions per wdt-check read, ReadTimerValue (callgrind)",
       .decimals = 0,
       .target = "≤ " + Whole(kReadInstructionsTarget),
       .met = [](const Spread& p, const Spread&) { return p.median <= kReadInstructionsTarget; }},
  };
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

// A figure's readings over its measurement's runs.
struct Samples {
  std::vector<double> program;
  std::vector<double> reference;  // empty: the figure has no reference
};

std::map<Figure, Samples> Measure(const bench::Programs& programs, const Settings& settings) {
  std::map<Figure, Samples> samples;
  for (const Measurement& measurement : kMeasurements) {
    std::fprintf(stderr, "bench: %s\n", measurement.progress);
    const int runs = measurement.runs != nullptr ? settings.*measurement.runs : 1;
    for (int i = 0; i < runs; ++i) {
      for (const bench::Reading& reading : measurement.measure(programs, settings)) {
        Samples& figure = samples[reading.figure];
        figure.program.push_back(reading.program);
        if (reading.reference) figure.reference.push_back(*reading.reference);
      }
    }
  }
  return samples;
}

}  // namespace

int main(int argc, char** argv) try {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s <wdt-exerciser> <reference> <wdt-check> [--short]\n", argv[0]);
    return 2;
  }
  const bench::Programs programs = {.exerciser = {argv[1]}, .reference = argv[2], .checker = argv[3]};
  const Settings settings =
      argc > 4 && std::string_view(argv[4]) == "--short" ? bench::kShortRun : bench::kFullRun;
  signal(SIGPIPE, SIG_IGN);
  // The plain programs on the honest simulation: no device, no fault list, no
  // lie, no trace, unless a figure asks for one.
  std::vector<std::string> simulation = {"WDT_DEVICE"};
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "WDT_SIM_", 8) == 0) simulation.emplace_back(*e, std::strcspn(*e, "="));
  }
  for (const std::string& name : simulation) unsetenv(name.c_str());

  const std::map<Figure, Samples> samples = Measure(programs, settings);

  utsname machine{};
  uname(&machine);
  std::printf("Machine: %ld processors (nproc), %s, Linux %s%s\n\n", sysconf(_SC_NPROCESSORS_ONLN),
              CpuModel().c_str(), machine.release,
              settings.mode == bench::Mode::kShort ? "; SHORT MODE (a smoke run, not a measurement)" : "");
  std::printf("Median (lowest–highest) over %d runs for the key-to-prompt rows, %d for the pipe "
              "and memory rows, %d for the wdt-check rows, %d for the others. The program is "
              "wdt-exerciser except in the wdt-check rows.\n\n",
              settings.key_runs, settings.fast_runs, settings.check_runs, settings.slow_runs);
  std::printf("| Figure | Program | Reference | Target | Met |\n|---|---|---|---|---|\n");
  std::vector<std::string> missed;
  for (const Row& row : Rows(settings)) {
    const auto found = samples.find(row.figure);
    if (found == samples.end()) bench::Die("no measurement gives the row '" + row.name + "'");
    const Samples& figure = found->second;
    const Spread program = bench::Of(figure.program);
    const Spread reference = figure.reference.empty() ? Spread{} : bench::Of(figure.reference);
    const bool met = row.met != nullptr && row.met(program, reference);
    std::printf("| %s | %s | %s | %s | %s |\n", row.name.c_str(), Format(program, row.decimals).c_str(),
                figure.reference.empty() ? "-" : Format(reference, row.decimals).c_str(), row.target.c_str(),
                row.met == nullptr ? "-" : met ? "yes" : "**no**");
    if (row.met != nullptr && !met && !row.enforced.empty()) {
      missed.push_back(Format(program, row.decimals) + " " + row.enforced);
    }
  }
  // Only a count, which does not depend on the machine's load, is enforced.
  for (const std::string& figure : missed) std::fprintf(stderr, "bench: %s\n", figure.c_str());
  return missed.empty() ? 0 : 1;
} catch (const std::exception& e) {
  std::fprintf(stderr, "bench: %s\n", e.what());
  return 1;
}
