// The built wdt-check with the simulated library: the honest watchdog passes
// in both roundings, each lying one fails with its check named, --json is
// one well-formed document, bad arguments call nothing, a stop signal still
// disarms and closes, and so do Ctrl+Z, a stall and a blocked output.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "child_process.h"
#include "expected_output.h"

namespace {

using test_support::ChildProcess;
using test_support::Lines;
using namespace std::chrono_literals;

int ExitStatus(int status) { return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// The library calls in the trace, without the reads.
std::vector<std::string> Calls(const std::string& trace) {
  std::vector<std::string> calls;
  for (const std::string& line : Lines(trace)) {
    if (line.rfind("ReadTimerValue", 0) != 0) calls.push_back(line);
  }
  return calls;
}

const std::vector<std::string> kCutShort = {printed::kTraceOpen, printed::kTraceArm, printed::kTraceDisarm,
                                            printed::kTraceClose};

// The "not ok" lines' heads: "not ok 3 - countdown".
std::vector<std::string> Failed(const std::string& tap) {
  std::vector<std::string> failed;
  for (const std::string& line : Lines(tap)) {
    if (line.rfind("not ok ", 0) == 0) failed.push_back(line.substr(0, line.find(':')));
  }
  return failed;
}

// TAP 14's YAML blocks read back: each opens right after a test point, holds
// one "name: value" line per figure (a JSON number or string) and closes.
// The lines outside the blocks go to `lines`, the figures as "check.name=value".
std::vector<std::string> Figures(const std::string& tap, std::vector<std::string>* lines) {
  static const std::regex point(R"(^(not )?ok [0-9]+ - ([a-z-]+)(:| # SKIP).*)");
  static const std::regex figure(R"(^  ([a-z_]+): (-?[0-9]+(\.[0-9]+)?|"([^"\\]|\\.)*")$)");
  std::vector<std::string> figures;
  std::string check;  // the test point just before, empty after any other line
  bool in_block = false;
  std::smatch match;
  for (const std::string& line : Lines(tap)) {
    if (in_block && line == "  ...") {
      in_block = false;
      check.clear();
    } else if (in_block) {
      EXPECT_TRUE(std::regex_match(line, match, figure)) << line << "\n" << tap;
      figures.push_back(check + "." + match[1].str() + "=" + match[2].str());
    } else if (line == "  ---") {
      EXPECT_FALSE(check.empty()) << "a block after no test point:\n" << tap;
      in_block = true;
    } else {
      lines->push_back(line);
      check = std::regex_match(line, match, point) ? match[2].str() : "";
    }
  }
  EXPECT_FALSE(in_block) << "a block left open:\n" << tap;
  return figures;
}

// A minimal look at the structure: brackets that pair up outside strings and
// close at the end, the checks' names and results in order.
void ExpectJson(const std::string& json, const std::vector<std::string>& results) {
  std::string open;
  bool in_string = false;
  for (std::size_t i = 0; i < json.size(); ++i) {
    const char c = json[i];
    if (in_string) {
      if (c == '\\') ++i;
      if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      open += c;
    } else if (c == '}' || c == ']') {
      ASSERT_TRUE(!open.empty() && open.back() == (c == '}' ? '{' : '[')) << json;
      open.pop_back();
      ASSERT_TRUE(!open.empty() || json.substr(i + 1) == "\n") << "one document: " << json;
    }
  }
  EXPECT_TRUE(open.empty() && !in_string) << json;
  static const std::regex check(R"re(\{"name": "([a-z]+)", "result": "([a-z]+)", "detail": ")re");
  std::vector<std::string> seen;
  for (std::sregex_iterator it(json.begin(), json.end(), check), end; it != end; ++it) {
    seen.push_back((*it)[1].str() + " " + (*it)[2].str());
  }
  EXPECT_EQ(seen, results) << json;
  EXPECT_TRUE(std::regex_search(json, std::regex(R"(^\{"verdict": "pass", "checks": \[)"))) << json;
  EXPECT_TRUE(std::regex_search(json, std::regex(R"("seconds_per_unit": (1\.0|0\.9)[0-9]{5},)"))) << json;
  // The simulation's figures are the simulation's: nothing was measured on hardware.
  EXPECT_TRUE(std::regex_search(json, std::regex(R"(\], "timeout": 30, "duration_s": [0-9]+\.[0-9]{3}, "measured_on_hardware": 0, )"
                                                 R"("watchdog": \{"kind": "simulated", "node": null, [^}]*\}\}\n$)")))
      << json;
  static const std::regex simulation(R"("evidence": "simulation")");
  EXPECT_EQ(std::distance(std::sregex_iterator(json.begin(), json.end(), simulation), std::sregex_iterator()), 4)
      << json;
}

struct Road {
  const char* name;
  std::vector<std::string> env;
  std::vector<std::string> arguments;
  int exit_status;
  std::vector<std::string> failed;  // heads of the "not ok" lines
  std::vector<std::string> reloads;  // the reload's figures, if they are known
};

// All roads at once: each run takes some seconds, most of them asleep.
TEST(CheckEndToEnd, EachRoadEndsWithItsVerdict) {
  const std::vector<Road> roads = {
      {"honest", {}, {}, 0, {}, {"reload.wrote=20", "reload.read=20", "reload.wrote_timeout=30", "reload.read_timeout=30"}},
      {"rounding down", {"WDT_SIM_BEHAVIOUR=round=down"}, {}, 0, {},
       {"reload.wrote=20", "reload.read=19", "reload.wrote_timeout=30", "reload.read_timeout=29"}},
      {"JSON", {}, {"--json"}, 0, {}, {}},
      {"frozen", {"WDT_SIM_BEHAVIOUR=frozen"}, {}, 1, {"not ok 3 - countdown"}, {}},
      {"stalled", {"WDT_SIM_BEHAVIOUR=stall=2.5"}, {}, 1, {"not ok 3 - countdown"}, {}},
      {"jumped", {"WDT_SIM_BEHAVIOUR=jump=5"}, {}, 1, {"not ok 3 - countdown"}, {}},
      {"frozen and fast", {"WDT_SIM_BEHAVIOUR=frozen,rate=6"}, {}, 1, {"not ok 3 - countdown"}, {}},
      {"slow", {"WDT_SIM_BEHAVIOUR=rate=0.5"}, {}, 1, {"not ok 3 - countdown"}, {}},
      {"fast", {"WDT_SIM_BEHAVIOUR=rate=2"}, {}, 1, {"not ok 3 - countdown"}, {}},
      {"ignored reload", {"WDT_SIM_BEHAVIOUR=ignore-reload"}, {}, 1, {"not ok 4 - reload"}, {}},
      {"capped", {"WDT_SIM_BEHAVIOUR=grant=12"}, {}, 1, {"not ok 2 - arm", "not ok 4 - reload"},
       {"reload.wrote=20", "reload.read=12", "reload.wrote_timeout=30", "reload.read_timeout=12"}},
      {"ignored disarm", {"WDT_SIM_BEHAVIOUR=ignore-disarm"}, {}, 1, {"not ok 5 - disarm"}, {}},
      {"no session", {"WDT_SIM_FAULTS=InitializeSession=2"}, {}, 2, {"not ok 1 - open"}, {}},
  };
  std::vector<std::unique_ptr<ChildProcess>> runs;
  for (const Road& road : roads) {
    std::vector<std::string> command = {WDT_CHECK_PATH};
    command.insert(command.end(), road.arguments.begin(), road.arguments.end());
    runs.push_back(std::make_unique<ChildProcess>(command, test_support::Options{.input = test_support::Input::kDevNull,
                                                                                  .env = road.env}));
  }
  for (std::size_t i = 0; i < roads.size(); ++i) {
    ChildProcess& run = *runs[i];
    EXPECT_EQ(ExitStatus(run.Wait()), roads[i].exit_status) << roads[i].name << run.Describe();
    const std::string output = run.Output();
    if (roads[i].arguments.empty()) {
      std::vector<std::string> lines;
      const std::vector<std::string> figures = Figures(output, &lines);
      ASSERT_EQ(lines.size(), 11u) << roads[i].name << run.Describe();
      std::vector<std::string> reloads;
      std::copy_if(figures.begin(), figures.end(), std::back_inserter(reloads),
                   [](const std::string& f) { return f.rfind("reload.", 0) == 0; });
      if (!roads[i].reloads.empty()) {
        EXPECT_EQ(reloads, roads[i].reloads) << roads[i].name << output;
      }
      if (roads[i].exit_status == 0) {
        EXPECT_TRUE(std::any_of(figures.begin(), figures.end(), [](const std::string& f) {
          return std::regex_match(f, std::regex(R"(countdown\.seconds_per_unit=(1\.0|0\.9)[0-9]{5})"));
        })) << output;
      }
      // The simulation is named before the plan, and never passes for the hardware.
      EXPECT_EQ(lines[0] + "|" + lines[1] + "|" + lines[2],
                "TAP version 14|# watchdog: simulated (the stand-in library)|1..6");
      EXPECT_EQ(Failed(output), roads[i].failed) << roads[i].name << run.Describe();
      EXPECT_EQ(lines[9].rfind("# on the simulated watchdog: nothing was measured on hardware", 0), 0u) << lines[9];
      EXPECT_EQ(lines[10].rfind("# verdict: ", 0), 0u) << lines[10];
    } else {
      ExpectJson(output, {"open pass", "arm pass", "countdown pass", "reload pass", "disarm pass", "close pass"});
    }
    EXPECT_EQ(run.Error().find("wdtDLL (simulated): the watchdog expired"), std::string::npos) << roads[i].name;
  }
}

TEST(CheckEndToEnd, BadArgumentsExitWithTwoBeforeAnyLibraryCall) {
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {"--timeout", "4"}, {"--timeout"}, {"--tolerance", "x"}, {"-h"}, {"--json", "extra"},
           {"--timeout", "4", "--json"}, {"--junit", "/"}}) {
    std::vector<std::string> command = {WDT_CHECK_PATH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    ChildProcess run(command, {.env = {"WDT_TRACE=1"}});
    EXPECT_EQ(ExitStatus(run.Wait()), 2) << arguments[0];
    // With --json, one document that says why; without, nothing.
    const bool json = std::find(arguments.begin(), arguments.end(), "--json") != arguments.end();
    EXPECT_TRUE(json ? std::regex_match(run.Output(), std::regex(R"(\{"verdict": "cannot-run", "error": "[^"]+", "checks": \[\]\}\n)"))
                     : run.Output().empty())
        << run.Output();
    EXPECT_EQ(run.Error().rfind("wdt-check: ", 0), 0u) << run.Error();
    EXPECT_EQ(run.Error().find("InitializeSession"), std::string::npos) << run.Error();
    if (arguments[0] == "--junit") continue;  // a path that is no file names itself, without the usage
    EXPECT_NE(run.Error().find("\nUsage: wdt-check [--timeout N]"), std::string::npos) << run.Error();
  }
  ChildProcess version({WDT_CHECK_PATH, "--version"}, {.env = {"WDT_TRACE=1"}});
  EXPECT_EQ(ExitStatus(version.Wait()), 0);
  EXPECT_EQ(version.Output(), "wdt-check 1.0.0\n");
  EXPECT_EQ(version.Error(), "");
}

// The JUnit report as a CI server reads it: well-formed XML, one testsuite
// named wdt-check, its counts those of its test cases.
TEST(CheckEndToEnd, TheJUnitReportIsWellFormedAndItsCountsMatch) {
  char folder[] = "/tmp/wdt-junit-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/report.xml";
  ChildProcess run({WDT_CHECK_PATH, "--junit", path},
                   {.input = test_support::Input::kDevNull, .env = {"WDT_SIM_BEHAVIOUR=ignore-reload"}});
  EXPECT_EQ(ExitStatus(run.Wait()), 1) << run.Describe();
  const std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> doc(xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET),
                                                         xmlFreeDoc);
  std::remove(path.c_str());
  rmdir(folder);
  ASSERT_NE(doc, nullptr) << "not well-formed";
  const auto attribute = [](xmlNodePtr node, const char* name) {
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    std::string text = value != nullptr ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return text;
  };
  const auto children = [](xmlNodePtr node, std::string_view name) {
    std::vector<xmlNodePtr> found;
    for (xmlNodePtr child = node->children; child != nullptr; child = child->next) {
      if (child->type == XML_ELEMENT_NODE && name == reinterpret_cast<const char*>(child->name)) {
        found.push_back(child);
      }
    }
    return found;
  };
  const xmlNodePtr root = xmlDocGetRootElement(doc.get());
  ASSERT_EQ(std::string(reinterpret_cast<const char*>(root->name)), "testsuites");
  const std::vector<xmlNodePtr> suites = children(root, "testsuite");
  ASSERT_EQ(suites.size(), 1u);
  EXPECT_EQ(attribute(suites[0], "name"), "wdt-check");
  std::vector<std::string> names;
  std::size_t failures = 0, skipped = 0;
  for (const xmlNodePtr test : children(suites[0], "testcase")) {
    names.push_back(attribute(test, "name") + (children(test, "failure").empty() ? "" : " failed"));
    failures += children(test, "failure").size();
    skipped += children(test, "skipped").size();
    EXPECT_TRUE(std::regex_match(attribute(test, "time"), std::regex("[0-9]+\\.[0-9]{3}")));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"open", "arm", "countdown", "reload failed", "disarm", "close"}));
  for (const xmlNodePtr counted : {root, suites[0]}) {
    EXPECT_EQ(attribute(counted, "tests"), std::to_string(names.size()));
    EXPECT_EQ(attribute(counted, "failures"), std::to_string(failures));
    EXPECT_EQ(attribute(counted, "skipped"), std::to_string(skipped));
    EXPECT_EQ(attribute(counted, "errors"), "0");
  }
  EXPECT_EQ(children(suites[0], "properties").size(), 1u);
}

// The reset proof on the simulation, which cannot reset the machine: the
// first half fails with the record saying "no reset"; the second, on the
// same boot, fails its reboot; a damaged record cannot be judged; SIGTERM
// while waiting disarms, closes and leaves the record "abandoned".
TEST(CheckEndToEnd, TheResetProofOnTheSimulation) {
  char folder[] = "/tmp/wdt-reset-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string waited = std::string(folder) + "/waited", stopped = std::string(folder) + "/stopped";
  const auto state = [](const std::string& path) {
    std::ifstream in(path);
    // The state of the record's first beat (written whole, both beats say the same).
    std::string line;
    while (std::getline(in, line) && line.rfind("beat ", 0) != 0) {
    }
    const std::size_t state = line.find(" state "), check = line.rfind(" check ");
    return state < check && check != std::string::npos ? line.substr(state + 1, check - state - 1) : line;
  };
  const test_support::Options options{.input = test_support::Input::kDevNull, .env = {"WDT_TRACE=1"}};
  ChildProcess expire({WDT_CHECK_PATH, "--expire", waited, "--timeout", "5"}, options);
  ChildProcess interrupted({WDT_CHECK_PATH, "--expire", stopped, "--timeout", "5"}, options);
  ASSERT_TRUE(interrupted.WaitForOutput("# waiting until ")) << interrupted.Describe();
  interrupted.Signal(SIGTERM);
  EXPECT_EQ(ExitStatus(interrupted.Wait()), 2) << interrupted.Describe();
  EXPECT_EQ(state(stopped), "state abandoned");
  EXPECT_NE(interrupted.Error().find(std::string(printed::kTraceDisarm) + "\n" + printed::kTraceClose),
            std::string::npos) << interrupted.Error();

  EXPECT_EQ(ExitStatus(expire.Wait(60s)), 1) << expire.Describe();
  EXPECT_NE(expire.Output().find("not ok 4 - expire: armed 5 s, still alive after 20 s: the watchdog did not reset "
                                 "the machine\n"),
            std::string::npos) << expire.Output();
  EXPECT_EQ(state(waited), "state no reset");
  ChildProcess after({WDT_CHECK_PATH, "--after-reset", waited}, {.input = test_support::Input::kDevNull});
  EXPECT_EQ(ExitStatus(after.Wait()), 1);
  EXPECT_EQ(Failed(after.Output()), (std::vector<std::string>{"not ok 2 - rebooted", "not ok 3 - on-time"}));

  std::ofstream(waited) << "wdt-check reset record\nversion 1\n";
  ChildProcess damaged({WDT_CHECK_PATH, "--after-reset", waited, "--json"}, {.input = test_support::Input::kDevNull});
  EXPECT_EQ(ExitStatus(damaged.Wait()), 2);
  EXPECT_NE(damaged.Output().find("\"verdict\": \"cannot-run\""), std::string::npos) << damaged.Output();
  std::filesystem::remove_all(folder);
}

// The roads that sleep or crash the machine refuse the simulated watchdog
// before any library call, and write no record.
TEST(CheckEndToEnd, TheSimulationIsRefusedTheSleepAndTheDeadKernel) {
  const std::string record = "/tmp/wdt-refused-" + std::to_string(getpid());
  for (const auto& [road, said] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--hang", "panic"},
            "wdt-check: --hang needs a kernel watchdog (WDT_DEVICE): the simulated watchdog cannot reset a dead "
            "kernel\n"},
           {{"--suspend", "mem"},
            "wdt-check: --suspend needs a kernel watchdog (WDT_DEVICE): the simulated watchdog does not sleep with "
            "the machine\n"}}) {
    std::vector<std::string> command = {WDT_CHECK_PATH, "--expire", record};
    command.insert(command.end(), road.begin(), road.end());
    ChildProcess run(command, {.input = test_support::Input::kDevNull, .env = {"WDT_TRACE=1"}});
    EXPECT_EQ(ExitStatus(run.Wait()), 2) << road[0];
    EXPECT_EQ(run.Error(), said);
    EXPECT_EQ(run.Output(), "");
    EXPECT_FALSE(std::filesystem::exists(record)) << road[0];
  }
}

class CheckStopTest : public testing::TestWithParam<int> {};

TEST_P(CheckStopTest, ASignalMidCheckDisarmsAndClosesFirst) {
  ChildProcess run({WDT_CHECK_PATH}, {.env = {"WDT_TRACE=1"}});
  ASSERT_TRUE(run.WaitForOutput("ok 2 - arm")) << run.Describe();
  run.RepeatUntil([&] { run.Signal(GetParam()); },
                  [&] { return run.Output().find("stopped by a signal") != std::string::npos; });
  EXPECT_EQ(ExitStatus(run.Wait()), 2) << run.Describe();
  EXPECT_NE(run.Output().find("ok 3 - countdown # SKIP stopped by a signal\n"), std::string::npos)
      << run.Describe();
  EXPECT_EQ(Calls(run.Error()), kCutShort);
}

INSTANTIATE_TEST_SUITE_P(Signals, CheckStopTest, testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

// Once the watchdog is armed: the output stopped with Ctrl+S on a terminal,
// or a full pipe that nobody reads, then SIGTERM; Ctrl+Z, then fg; SIGSTOP
// for longer than the checker's slack between two steps (far shorter than
// the timeout), then SIGCONT. Each disarms at once and cannot run; none
// blames the watchdog.
enum class Interruption { kOutputStopped, kOutputFull, kSuspended, kStalled };
constexpr const char* kInterruptionNames[] = {"OutputStopped", "OutputFull", "Suspended", "Stalled"};

class CheckInterruptionTest : public testing::TestWithParam<Interruption> {};

TEST_P(CheckInterruptionTest, DisarmsAtOnceAndCannotRun) {
  const Interruption how = GetParam();
  using test_support::Input;
  using test_support::Options;
  const std::vector<std::string> trace = {"WDT_TRACE=1"};
  ChildProcess run({WDT_CHECK_PATH}, how == Interruption::kOutputFull
                                         ? Options{.input = Input::kDevNull, .env = trace, .full_output = true}
                                         : Options{.input = Input::kTerminal, .env = trace, .job_control = true});
  const auto has = [&](const char* text) { return run.Error().find(text) != std::string::npos; };
  ASSERT_TRUE(run.WaitUntil([&] { return has(printed::kTraceArm); })) << run.Describe();
  std::size_t resumed = 0;  // how far the trace was when continued
  if (how == Interruption::kOutputStopped || how == Interruption::kOutputFull) {
    if (how == Interruption::kOutputStopped) run.Send("\x13");
    EXPECT_TRUE(run.RepeatUntil([&] { run.Signal(SIGTERM); }, [&] { return has(printed::kTraceClose); }));
  } else {
    int status = -1;
    if (how == Interruption::kSuspended) {
      run.RepeatUntil([&] { run.Send("\x1a"); }, [&] { return (status = run.Wait(0ms)) != -1; });
    } else {
      run.Signal(SIGSTOP);
      status = run.Wait();
    }
    ASSERT_TRUE(status != -1 && WIFSTOPPED(status)) << status << run.Describe();
    EXPECT_EQ(Calls(run.Error()) == kCutShort, how == Interruption::kSuspended) << "disarmed and closed first";
    if (how == Interruption::kStalled) run.WaitUntil([] { return false; }, 3s);
    resumed = run.Error().size();
    run.Release();
  }
  EXPECT_EQ(ExitStatus(run.Wait()), 2) << run.Describe();
  EXPECT_EQ(Calls(run.Error()), kCutShort);
  EXPECT_EQ(run.Error().find("the watchdog expired"), std::string::npos);
  const std::string output = run.Output();
  EXPECT_EQ(output.find(", stopped by SIGTSTP\n") != std::string::npos, how == Interruption::kSuspended) << output;
  if (how == Interruption::kStalled) {
    const std::size_t stall = output.find(", stalled for ");
    ASSERT_NE(stall, std::string::npos) << output;
    EXPECT_GE(std::stod(output.substr(stall + 14)), 2.95);
    // Disarmed at once: at most the read that saw the stall came first.
    const std::string& trace_now = run.Error();
    const std::string after = trace_now.substr(resumed, trace_now.find(printed::kTraceDisarm, resumed) - resumed);
    EXPECT_LE(test_support::Count(after, "ReadTimerValue"), 1u) << after;
  }
}

INSTANTIATE_TEST_SUITE_P(Interruptions, CheckInterruptionTest,
                         testing::Values(Interruption::kOutputStopped, Interruption::kOutputFull,
                                         Interruption::kSuspended, Interruption::kStalled),
                         [](const auto& info) { return kInterruptionNames[static_cast<int>(info.param)]; });

}  // namespace
