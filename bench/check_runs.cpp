// wdt-check, timed: its default run from start to exit, its countdown's rate
// in its JSON, and the reset proof's beat. wdt-check has no reference.
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "harness.h"
#include "measurements.h"

namespace bench {
namespace {

using namespace std::chrono_literals;

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

// A figure in wdt-check's JSON: the one field of that name, a plain number.
double JsonNumber(const std::string& json, std::string_view name) {
  const std::string field = "\"" + std::string(name) + "\":";
  const std::size_t at = json.find(field);
  if (at == std::string::npos) Die("no " + std::string(name) + " in wdt-check's JSON:\n" + json);
  const char* number = json.c_str() + at + field.size();
  char* end = nullptr;
  const double value = std::strtod(number, &end);
  if (end == number) Die(std::string(name) + " is not a number in wdt-check's JSON:\n" + json);
  return value;
}

// The reset proof's beat: wdt-check --expire with a record in the current
// folder (the build machine's disk), on the simulation, which cannot reset:
// it beats through the whole 20-s window and ends with status 1 ("did not
// reset"); its expire check counts the beats and their slowest write.
struct Beats {
  double per_s, slowest_ms;
};
Beats BeatRun(const std::string& checker) {
  const std::string record = (std::filesystem::current_path() / "bench-beat-record").string();
  ChildProcess child({checker, "--expire", record, "--timeout", "5", "--json"}, {.input = Input::kDevNull});
  const int status = child.Wait(60s);
  std::filesystem::remove(record);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 1) {
    Die("wdt-check --expire did not end with 'did not reset': wait status " + std::to_string(status) +
        child.Describe());
  }
  const std::string json = child.Output();
  return {JsonNumber(json, "beats") / JsonNumber(json, "alive_s"), 1000 * JsonNumber(json, "slowest_beat_s")};
}

}  // namespace

std::vector<Reading> CheckRuns(const Programs& programs, const Settings&) {
  double seconds = 0;
  CheckRun({programs.checker}, seconds);
  const double run_s = seconds;
  const double rate_error =
      100 * std::abs(JsonNumber(CheckRun({programs.checker, "--json"}, seconds), "seconds_per_unit") - 1);
  return {
      {.figure = Figure::kCheckRunTime, .program = run_s},
      {.figure = Figure::kCountdownError, .program = rate_error},
  };
}

std::vector<Reading> ResetProofBeat(const Programs& programs, const Settings&) {
  const Beats beats = BeatRun(programs.checker);
  return {
      {.figure = Figure::kBeatRate, .program = beats.per_s},
      {.figure = Figure::kSlowestBeatWrite, .program = beats.slowest_ms},
  };
}

}  // namespace bench
