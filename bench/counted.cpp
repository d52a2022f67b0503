// Counted, not timed: user-space instructions under callgrind, heap
// allocations under memcheck; neither depends on the machine's load. Each
// figure comes from a few runs under valgrind, side by side where they do not
// disturb each other.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "expected_output.h"
#include "harness.h"
#include "measurements.h"

namespace bench {
namespace {

using namespace std::chrono_literals;

// The keys of the two counted runs: a key's cost is the difference of their
// counts over the difference of their keys, so the start and the end cancel.
constexpr long kFewerKeys = 20000;
constexpr long kMoreKeys = 40000;
// The monitor's lines before q in its two counted runs: allocations the same
// way as keys; instructions from the second run alone, a pass at a time.
constexpr std::uint64_t kFewerPasses = 1;
constexpr std::uint64_t kMorePasses = 3;

std::string FindValgrind() {
  const char* path = std::getenv("PATH");
  std::string_view dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (;;) {
    const std::size_t colon = dirs.find(':');
    const std::string candidate = std::string(dirs.substr(0, colon)) + "/valgrind";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
  Die("valgrind is missing: tools/deps bench-fuzz installs it");
}

// One run under a valgrind tool, and the report that the tool leaves in a
// file of its own.
class Valgrind {
 public:
  Valgrind(const std::string& valgrind, std::string tool, const std::filesystem::path& stem,
           std::vector<std::string> options = {})
      : valgrind_(valgrind), tool_(std::move(tool)), options_(std::move(options)),
        log_(stem.string() + ".log"), profile_(stem.string() + ".out") {}

  std::vector<std::string> Command(const std::vector<std::string>& args) const {
    std::vector<std::string> command = {valgrind_, "--tool=" + tool_, "--log-file=" + log_};
    command.insert(command.end(), options_.begin(), options_.end());
    if (tool_ == "callgrind") {
      // Names and positions written out in full, for Calls().
      command.insert(command.end(), {"--callgrind-out-file=" + profile_, "--compress-strings=no",
                                     "--compress-pos=no"});
    }
    command.insert(command.end(), args.begin(), args.end());
    return command;
  }

  // callgrind: the instructions of the whole run, or of its part `part`
  // (with --dump-before: from one dump to the next).
  long long Instructions(int part = 0) const {
    return After(part == 0 ? profile_ : profile_ + "." + std::to_string(part), "\nsummary:");
  }
  bool HasPart(int part) const {
    return std::filesystem::exists(profile_ + "." + std::to_string(part));
  }
  // memcheck: the allocations of the whole run.
  long long Allocations() const { return After(log_, "total heap usage:"); }
  // callgrind: the calls to `function` from anywhere, and their instructions
  // (inclusive): each call site is a "cfn=" line, then "calls=N ...", then
  // the position and the cost.
  std::pair<long long, long long> Calls(std::string_view function) const {
    std::ifstream profile(profile_);
    std::string line;
    long long calls = 0;
    long long cost = 0;
    bool ours = false;
    while (std::getline(profile, line)) {
      if (line.rfind("cfn=", 0) == 0) {
        ours = std::string_view(line).substr(4) == function;
      } else if (ours && line.rfind("calls=", 0) == 0) {
        calls += std::atoll(line.c_str() + 6);
        std::string position;
        long long inclusive = 0;
        if (std::getline(profile, line) && std::istringstream(line) >> position >> inclusive) {
          cost += inclusive;
        }
        ours = false;
      }
    }
    if (calls == 0) Die("no call to " + std::string(function) + " in " + profile_);
    return {calls, cost};
  }

 private:
  // The number after `label` in a file.
  static long long After(const std::string& file, std::string_view label) {
    std::ifstream in(file);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t at = text.find(label);
    if (at == std::string::npos) Die("no \"" + std::string(label) + "\" in " + file);
    std::string number;
    for (const char c : text.substr(at + label.size(), 32)) {
      if (c >= '0' && c <= '9') number += c;
      else if (c != ' ' && c != ',') break;
    }
    return std::atoll(number.c_str());
  }

  std::string valgrind_;
  std::string tool_;
  std::vector<std::string> options_;
  std::string log_;
  std::string profile_;
};

// `keys` keys through a pipe, then q, to the closing line and a clean exit.
void KeysRun(const Valgrind& run, const std::vector<std::string>& args, long keys) {
  const std::string closed = LineOf(printed::kClosed, Input::kPipe);
  ChildProcess child(run.Command(args), Counting(Input::kPipe, {closed}));
  child.Send(std::string(static_cast<std::size_t>(keys), 'a') + "q");
  if (child.Wait(300s) != 0 || child.OutCount(closed) != 1) {
    Die("a counted run did not end cleanly" + child.Describe());
  }
}

// The program at its prompt until the monitor has printed `passes` lines,
// then q; how many it printed. q comes just after a line, while the monitor
// sleeps.
std::uint64_t MonitorRun(const Valgrind& run, const std::vector<std::string>& program,
                         std::uint64_t passes) {
  const std::string timer_line = printed::kTimerLine;
  ChildProcess child(run.Command(program), Counting(Input::kPipe, {timer_line}));
  WaitFor(child, timer_line, passes, 60s);
  child.Send("q");
  if (child.Wait(60s) != 0) Die("a counted monitor run did not end cleanly" + child.Describe());
  return child.OutCount(timer_line);
}

// Runs each on a thread of its own and waits for all.
void Together(const std::vector<std::function<void()>>& runs) {
  std::vector<std::thread> threads;
  for (const auto& run : runs) threads.emplace_back(run);
  for (std::thread& thread : threads) thread.join();
}

struct Counts {
  double key_instructions, reference_key_instructions;
  double key_allocations, reference_key_allocations;
  double pass_instructions, pass_allocations;
  double read_instructions;  // the library's ReadTimerValue, as wdt-check calls it
};

Counts Count(const std::vector<std::string>& program, const std::string& reference,
             const std::string& checker) {
  const std::string valgrind = FindValgrind();
  char folder[] = "/tmp/wdt-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) Die("cannot make a folder for valgrind's reports");
  const std::filesystem::path dir = folder;
  const auto run = [&](const char* tool, const char* name, std::vector<std::string> options = {}) {
    return Valgrind(valgrind, tool, dir / name, std::move(options));
  };
  // Only the monitor's own thread is counted, in parts that begin as each
  // pass goes to sleep (a part before the monitor starts counts nothing).
  const std::vector<std::string> passes = {"--toggle-collect=MonitorTimerValue*",
                                           "--dump-before=platform::SleepMs*"};
  const Valgrind fewer = run("callgrind", "keys-fewer"), more = run("callgrind", "keys-more");
  const Valgrind reference_fewer = run("callgrind", "reference-fewer");
  const Valgrind reference_more = run("callgrind", "reference-more");
  const Valgrind heap_fewer = run("memcheck", "heap-fewer"), heap_more = run("memcheck", "heap-more");
  const Valgrind reference_heap_fewer = run("memcheck", "reference-heap-fewer");
  const Valgrind reference_heap_more = run("memcheck", "reference-heap-more");
  const Valgrind monitor = run("callgrind", "monitor", passes);
  const Valgrind pass_heap_fewer = run("memcheck", "pass-heap-fewer");
  const Valgrind pass_heap_more = run("memcheck", "pass-heap-more");
  const Valgrind check = run("callgrind", "check");
  const std::vector<std::string> reference_keys = {reference, "keys"};

  // The program's key runs one at a time, with a processor left for the
  // harness: a reader that falls behind blocks the program's output, and
  // the lines it keeps back cost more than those that go out at once.
  KeysRun(fewer, program, kFewerKeys);
  KeysRun(more, program, kMoreKeys);
  // The rest side by side: the reference's key runs are short, allocations
  // do not depend on the output, and the monitor's runs and wdt-check's
  // mostly wait (the probe hold, the monitor's second, the countdown).
  Together({
      [&] { KeysRun(reference_fewer, reference_keys, kFewerKeys); },
      [&] { KeysRun(reference_more, reference_keys, kMoreKeys); },
      [&] { KeysRun(heap_fewer, program, kFewerKeys); },
      [&] { KeysRun(heap_more, program, kMoreKeys); },
      [&] { KeysRun(reference_heap_fewer, reference_keys, kFewerKeys); },
      [&] { KeysRun(reference_heap_more, reference_keys, kMoreKeys); },
  });
  std::uint64_t heap_lines_fewer = 0, heap_lines_more = 0;
  int check_status = 0;
  Together({
      [&] { MonitorRun(monitor, program, kMorePasses); },
      [&] { heap_lines_fewer = MonitorRun(pass_heap_fewer, program, kFewerPasses); },
      [&] { heap_lines_more = MonitorRun(pass_heap_more, program, kMorePasses); },
      [&] {
        ChildProcess child(check.Command({checker}), {.input = Input::kDevNull});
        check_status = child.Wait(120s);
      },
  });
  if (!WIFEXITED(check_status)) Die("wdt-check under callgrind did not exit: wait status " +
                                    std::to_string(check_status));
  if (heap_lines_more <= heap_lines_fewer) {
    Die("the monitor's counted runs printed as many lines as each other");
  }

  const auto per = [](long long fewer_count, long long more_count, double units) {
    return static_cast<double>(more_count - fewer_count) / units;
  };
  constexpr double kKeys = kMoreKeys - kFewerKeys;
  Counts counts{};
  counts.key_instructions = per(fewer.Instructions(), more.Instructions(), kKeys);
  counts.reference_key_instructions =
      per(reference_fewer.Instructions(), reference_more.Instructions(), kKeys);
  counts.key_allocations = per(heap_fewer.Allocations(), heap_more.Allocations(), kKeys);
  counts.reference_key_allocations =
      per(reference_heap_fewer.Allocations(), reference_heap_more.Allocations(), kKeys);
  // Each numbered part a whole pass but the first, which starts the thread;
  // the run's end (cut short by q) is in a file of its own.
  std::vector<double> pass_parts;
  bool first = true;
  for (int part = 1; monitor.HasPart(part); ++part) {
    const long long instructions = monitor.Instructions(part);
    if (instructions == 0) continue;
    if (!first) pass_parts.push_back(static_cast<double>(instructions));
    first = false;
  }
  if (pass_parts.empty()) Die("no whole monitor pass was counted");
  counts.pass_instructions = Of(pass_parts).median;
  counts.pass_allocations = per(pass_heap_fewer.Allocations(), pass_heap_more.Allocations(),
                                static_cast<double>(heap_lines_more - heap_lines_fewer));
  const auto [reads, read_cost] = check.Calls("ReadTimerValue");
  counts.read_instructions = static_cast<double>(read_cost) / static_cast<double>(reads);
  std::filesystem::remove_all(dir);
  return counts;
}

}  // namespace

std::vector<Reading> Counted(const Programs& programs, const Settings&) {
  const Counts counts = Count(programs.exerciser, programs.reference, programs.checker);
  return {
      {.figure = Figure::kKeyInstructions,
       .program = counts.key_instructions,
       .reference = counts.reference_key_instructions},
      {.figure = Figure::kKeyAllocations,
       .program = counts.key_allocations,
       .reference = counts.reference_key_allocations},
      {.figure = Figure::kPassInstructions, .program = counts.pass_instructions},
      {.figure = Figure::kPassAllocations, .program = counts.pass_allocations},
      {.figure = Figure::kReadInstructions, .program = counts.read_instructions},
  };
}

}  // namespace bench
