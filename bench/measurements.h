// What the benchmark measures: its settings, the figures of its table, and
// each measurement's entry point (one file each says how it is taken). A
// measurement runs the program and, where it has one, the reference, and gives
// one reading for each of its figures.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace bench {

enum class Mode {
  kFull,   // the measurement, about four minutes
  kShort,  // a smoke run for CI: the same code with tiny counts
};

struct Settings {
  Mode mode;
  int key_runs;          // key to prompt: its p99 is at the mercy of the machine's load
  int fast_runs;         // pipe and memory figures
  int slow_runs;         // idle, cadence and probe hold
  int check_runs;        // each of wdt-check's two rows: some 6.5 s a run
  int terminal_keys;     // keys per key-to-prompt run
  long pipe_keys;        // keys per pipe run
  long memory_keys;      // the second resident-set sample
  int idle_seconds;
  int cadence_seconds;
};

inline constexpr Settings kFullRun = {.mode = Mode::kFull,
                                      .key_runs = 9,
                                      .fast_runs = 5,
                                      .slow_runs = 3,
                                      .check_runs = 5,
                                      .terminal_keys = 1000,
                                      .pipe_keys = 1000000,
                                      .memory_keys = 1000000,
                                      .idle_seconds = 10,
                                      .cadence_seconds = 20};
inline constexpr Settings kShortRun = {.mode = Mode::kShort,
                                       .key_runs = 2,
                                       .fast_runs = 2,
                                       .slow_runs = 1,
                                       .check_runs = 1,
                                       .terminal_keys = 200,
                                       .pipe_keys = 20000,
                                       .memory_keys = 20000,
                                       .idle_seconds = 2,
                                       .cadence_seconds = 3};

// The programs measured: the built exerciser, the bare reference and wdt-check.
struct Programs {
  std::vector<std::string> exerciser;
  std::string reference;
  std::string checker;
};

// Each figure of the table, one row each.
enum class Figure {
  kKeyToPromptP50,
  kKeyToPromptP99,
  kPipeRate,
  kIdleCpu,
  kPeakResidentSet,
  kResidentSetAfter1000,
  kResidentSetAfterAll,
  kResidentSetGrowth,
  kMonitorIntervalMean,
  kMonitorIntervalWorst,
  kProbeHold,
  kCheckRunTime,
  kCountdownError,
  kBeatRate,
  kSlowestBeatWrite,
  kKeyInstructions,
  kKeyAllocations,
  kPassInstructions,
  kPassAllocations,
  kReadInstructions,
};

// One run's value of a figure, for the program and the reference.
struct Reading {
  Figure figure;
  double program;
  std::optional<double> reference = std::nullopt;  // none: the figure has no reference
};

using Measure = std::vector<Reading> (*)(const Programs&, const Settings&);

// keys.cpp: a key to its prompt on a terminal, keys through a pipe, the
// resident set over a run of keys.
std::vector<Reading> KeysOnATerminal(const Programs& programs, const Settings& settings);
std::vector<Reading> KeysThroughAPipe(const Programs& programs, const Settings& settings);
std::vector<Reading> MemoryOverKeys(const Programs& programs, const Settings& settings);

// waiting.cpp: the probe's hold, the cost of waiting at the prompt and the
// monitor's cadence meanwhile.
std::vector<Reading> ProbeHolds(const Programs& programs, const Settings& settings);
std::vector<Reading> IdleAndCadence(const Programs& programs, const Settings& settings);

// check_runs.cpp: wdt-check's run and its countdown's rate, the reset proof's beat.
std::vector<Reading> CheckRuns(const Programs& programs, const Settings& settings);
std::vector<Reading> ResetProofBeat(const Programs& programs, const Settings& settings);

// counted.cpp: instructions and heap allocations, counted under valgrind.
std::vector<Reading> Counted(const Programs& programs, const Settings& settings);

}  // namespace bench
