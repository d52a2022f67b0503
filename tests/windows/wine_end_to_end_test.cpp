// The cross-built Windows programs with the simulated wdtDLL.dll beside them,
// run under Wine end to end: keys through Wine's console, the pause of the
// command interpreter, the runs with no console at all, and wdt-check's
// verdicts.
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "console_events.h"
#include "expected_output.h"

namespace wine_test {
namespace {

using namespace test_support;  // the child-process harness and its chrono literals

const std::vector<std::string> kWineProgram = {WDT_WINE_COMMAND, WDT_WINE_EXERCISER_PATH};
const std::string kPrompt(printed::kPrompt);
const std::string kPromptLine = printed::Line(kPrompt, "\r\n");
const std::string kPauseText(printed::kPause);

// Wine's settings for every run: the throwaway prefix that the test fixture
// starts, no debug chatter, no display.
class WineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("WINEPREFIX", WDT_WINE_PREFIX, 1);
    setenv("WINEDEBUG", "-all", 1);
    unsetenv("DISPLAY");
  }
};
const auto* const kWineEnvironment = ::testing::AddGlobalTestEnvironment(new WineEnvironment);

// The output for a failure message: a run that spun may have written
// megabytes, the end of it tells enough.
std::string Shown(const std::string& output) {
  constexpr std::size_t kShown = 4000;
  return output.size() <= kShown ? output : "..." + output.substr(output.size() - kShown);
}

bool ExitedWith(int status, unsigned long code) {
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == static_cast<int>(code & 0xFF);
}
bool ExitedWithZero(int status) { return ExitedWith(status, 0); }

// The main thread's lines: the output without the monitor's. Each of those
// is whole, but it may follow a text with no line end (the pause's prompt),
// and "Failed to read" comes after the close too, when the monitor reads
// once more before the process ends.
std::vector<std::string> SequenceLines(const std::string& output) {
  static const std::regex kMonitorLine(printed::kTimerLine + std::string("[0-9]+\r\n|") +
                                       printed::Line(printed::kFailedRead, "\r\n"));
  return Lines(std::regex_replace(output, kMonitorLine, ""), "\r\n");
}

// The values of the monitor's lines at or after `from`.
std::vector<unsigned long> TimerValues(const std::string& output, std::size_t from = 0) {
  static const std::regex kLine(printed::kTimerLine + std::string("([0-9]+)\r\n"));
  std::vector<unsigned long> values;
  const std::string tail = output.substr(from);
  for (std::sregex_iterator it(tail.begin(), tail.end(), kLine), end; it != end; ++it) {
    values.push_back(std::stoul((*it)[1]));
  }
  return values;
}

// The library's trace lines, without the monitor's reads.
std::vector<std::string> TracedCalls(const std::string& error) {
  std::vector<std::string> calls;
  for (const std::string& line : Lines(error, "\r\n")) {
    if (line.rfind("ReadTimerValue(", 0) != 0) calls.push_back(line);
  }
  return calls;
}

void ExpectCrlfLineEnds(const std::string& output) {
  EXPECT_EQ(Count(output, "\n"), Count(output, "\r\n")) << Shown(output);
}

TEST(WineEndToEnd, KeysReloadUntilQThenTheRunClosesAndExitsWithZero) {
  ChildProcess child(kWineProgram, {.input = Input::kRawTerminal, .env = {"WDT_TRACE=1"}});
  ASSERT_TRUE(child.WaitForOutput(kPromptLine, 1)) << Shown(child.Output());
  child.Send("a");
  ASSERT_TRUE(child.WaitForOutput(kPromptLine, 2)) << Shown(child.Output());
  child.Send("Q");  // an ordinary key
  ASSERT_TRUE(child.WaitForOutput(kPromptLine, 3)) << Shown(child.Output());
  child.Send("\x1b[A");  // the up arrow: the console hands over two codes
  ASSERT_TRUE(child.WaitForOutput(kPromptLine, 5)) << Shown(child.Output());
  child.Send("q");
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << Shown(child.Output());

  const std::string output = child.Output();
  const std::vector<std::string> expected = {
      printed::kProbeArmed, printed::kArmed, kPrompt, kPrompt, kPrompt, kPrompt,
      kPrompt, printed::kClosed};
  EXPECT_EQ(SequenceLines(output), expected) << Shown(output);
  ExpectCrlfLineEnds(output);
  const std::vector<unsigned long> values = TimerValues(output);
  ASSERT_FALSE(values.empty()) << Shown(output);
  for (const unsigned long value : values) EXPECT_LE(value, 30u);

  const std::string reload = printed::kTraceReload;
  const std::vector<std::string> calls = {
      printed::kTraceOpen, printed::kTraceProbe, printed::kTraceDisarm,
      printed::kTraceArm, reload, reload, reload, reload, reload, printed::kTraceDisarm,
      printed::kTraceClose};
  EXPECT_EQ(TracedCalls(child.Error()), calls) << child.Error();
}

TEST(WineEndToEnd, FailedReloadPausesForAKeyWhileTheMonitorGoesOn) {
  ChildProcess child(kWineProgram,
                     {.input = Input::kRawTerminal, .env = {"WDT_SIM_FAULTS=WriteTimerValue#2=1"}});
  ASSERT_TRUE(child.WaitForOutput(kPromptLine, 1)) << Shown(child.Output());
  child.Send("a");
  ASSERT_TRUE(child.WaitForOutput(kPauseText)) << Shown(child.Output());
  const std::size_t pause_at = child.Output().find(kPauseText);
  // The pause waits for a key while the armed watchdog counts down. A fourth
  // line begun means the third is whole.
  ASSERT_TRUE(child.WaitForOutput(printed::kTimerLine, 4, pause_at)) << Shown(child.Output());
  EXPECT_TRUE(child.Running());
  const std::vector<unsigned long> values = TimerValues(child.Output(), pause_at);
  ASSERT_GE(values.size(), 3u) << Shown(child.Output());
  for (std::size_t i = 1; i < values.size(); ++i) EXPECT_LE(values[i], values[i - 1]) << Shown(child.Output());
  EXPECT_LT(values.back(), values.front()) << Shown(child.Output());

  child.Send("x");
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << Shown(child.Output());
  const std::string output = child.Output();
  const std::vector<std::string> expected = {
      printed::kProbeArmed, printed::kArmed, kPrompt,
      printed::kFailedReload, printed::kNoCommunication};
  const std::vector<std::string> lines = SequenceLines(output.substr(0, pause_at));
  EXPECT_EQ(lines, expected) << Shown(output);
  EXPECT_EQ(output.find(printed::kClosed), std::string::npos) << Shown(output);
}

TEST(WineEndToEnd, FailedOpenPrintsItsLinesPausesAndExitsWithZero) {
  ChildProcess child(kWineProgram,
                     {.input = Input::kRawTerminal,
                      .env = {"WDT_SIM_FAULTS=InitializeSession=-7", "WDT_TRACE=1"}});
  ASSERT_TRUE(child.WaitForOutput(kPauseText)) << Shown(child.Output());
  EXPECT_TRUE(child.Running());
  child.Send(" ");
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << Shown(child.Output());
  const std::string output = child.Output();
  const std::string lines =
      printed::Line(printed::kFailedOpen, "\r\n") + printed::Line(printed::kUnknownError, "\r\n");
  EXPECT_EQ(output.rfind(lines + kPauseText, 0), 0u) << Shown(output);
  EXPECT_EQ(TracedCalls(child.Error()), std::vector<std::string>{"InitializeSession() -> -7"})
      << child.Error();
}

// With no console _getch has no key to give: the loop ends as on q, once.
void ExpectOneReloadThenClose(Input input) {
  ChildProcess child(kWineProgram, {.input = input});
  ASSERT_TRUE(ExitedWithZero(child.Wait(30s))) << Shown(child.Output());
  const std::vector<std::string> expected = {printed::kProbeArmed, printed::kArmed,
                                             kPrompt, printed::kClosed};
  EXPECT_EQ(SequenceLines(child.Output()), expected) << Shown(child.Output());
}

TEST(WineEndToEnd, StandardInputDevNullEndsTheRunAfterOneReload) {
  ExpectOneReloadThenClose(Input::kDevNull);
}

TEST(WineEndToEnd, StandardInputAnOpenPipeEndsTheRunAfterOneReload) {
  ExpectOneReloadThenClose(Input::kPipe);
}

TEST(WineEndToEnd, FailureWithStandardInputDevNullDoesNotWaitInThePause) {
  ChildProcess child(kWineProgram,
                     {.input = Input::kDevNull, .env = {"WDT_SIM_FAULTS=WriteTimerValue#1=1"}});
  ASSERT_TRUE(ExitedWithZero(child.Wait(30s))) << Shown(child.Output());
  const std::string output = child.Output();
  const std::vector<std::string> lines = SequenceLines(output);
  const std::vector<std::string> expected = {printed::kProbeArmed, printed::kArmed,
                                             printed::kFailedReload,
                                             printed::kNoCommunication};
  ASSERT_EQ(lines.size(), expected.size() + 1) << Shown(output);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), lines.begin())) << Shown(output);
  EXPECT_EQ(lines.back().rfind(kPauseText, 0), 0u) << Shown(output);
}

TEST(WineEndToEnd, TerminalHangUpEndsTheRunAsQDoes) {
  ChildProcess child(kWineProgram, {.input = Input::kRawTerminal});
  ASSERT_TRUE(child.WaitForOutput(kPromptLine, 1)) << Shown(child.Output());
  child.CloseInput();
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << Shown(child.Output());
  const std::vector<std::string> expected = {printed::kProbeArmed, printed::kArmed,
                                             kPrompt, printed::kClosed};
  EXPECT_EQ(SequenceLines(child.Output()), expected) << Shown(child.Output());
}

// The console's control events, by when they come. Ctrl+C comes from Wine
// itself (a SIGINT to the program); the others from console-event.exe, which
// runs the program and sends it its event at each SIGINT that it gets.
constexpr int kWinesCtrlC = -1;
enum class When { kAtThePrompt, kDuringTheProbeHold, kDuringAFailurePause, kMidCheck };
struct EventRoad {
  const char* name;
  int event;
  When when;
  friend void PrintTo(const EventRoad& road, std::ostream* os) { *os << road.name; }
};

std::vector<std::string> EventCommand(const EventRoad& road, const char* program) {
  if (road.event == kWinesCtrlC) return {WDT_WINE_COMMAND, program};
  return {WDT_WINE_COMMAND, WDT_WINE_CONSOLE_EVENT_PATH, std::to_string(road.event),
          std::string("Z:") + program};
}

class ConsoleEventTest : public testing::TestWithParam<EventRoad> {};

TEST_P(ConsoleEventTest, LeavesTheWatchdogAsDocumented) {
  const EventRoad& road = GetParam();
  std::vector<std::string> env = {"WDT_TRACE=1"};
  if (road.when == When::kDuringAFailurePause) env.push_back("WDT_SIM_FAULTS=WriteTimerValue#1=1");
  const bool check = road.when == When::kMidCheck;
  ChildProcess child(EventCommand(road, check ? WDT_WINE_CHECK_PATH : WDT_WINE_EXERCISER_PATH),
                     {.input = Input::kRawTerminal, .env = env});
  const std::string awaited = check ? "ok 2 - arm"
                              : road.when == When::kAtThePrompt ? kPromptLine
                              : road.when == When::kDuringTheProbeHold ? printed::kProbeArmed
                                                                       : kPauseText;
  ASSERT_TRUE(child.WaitForOutput(awaited)) << Shown(child.Output());
  child.Signal(SIGINT);
  const int status = child.Wait();
  std::vector<std::string> calls = {printed::kTraceOpen, printed::kTraceProbe, printed::kTraceDisarm,
                                    printed::kTraceArm};
  if (check) {
    EXPECT_TRUE(ExitedWith(status, 2)) << status << Shown(child.Output());
    EXPECT_NE(child.Output().find("ok 3 - countdown # SKIP stopped by a signal\r\n"), std::string::npos)
        << Shown(child.Output());
    calls = {printed::kTraceOpen, printed::kTraceArm, printed::kTraceDisarm, printed::kTraceClose};
  } else if (road.event == kWinesCtrlC) {  // left armed, and not a success
    EXPECT_TRUE(ExitedWith(status, platform::kCtrlCExitStatus)) << status << Shown(child.Output());
    calls.push_back(printed::kTraceReload);
  } else if (road.when == When::kDuringAFailurePause) {  // the pause ends, nothing undone
    EXPECT_TRUE(ExitedWithZero(status)) << status << Shown(child.Output());
    calls.push_back("WriteTimerValue(30) -> 1");
  } else {
    EXPECT_TRUE(ExitedWithZero(status)) << status << Shown(child.Output());
    EXPECT_EQ(SequenceLines(child.Output()),
              (std::vector<std::string>{printed::kProbeArmed, printed::kArmed, kPrompt, printed::kClosed}));
    calls.insert(calls.end(), {printed::kTraceReload, printed::kTraceDisarm, printed::kTraceClose});
  }
  EXPECT_EQ(TracedCalls(child.Error()), calls) << child.Error();
}

INSTANTIATE_TEST_SUITE_P(
    Roads, ConsoleEventTest,
    testing::Values(EventRoad{"CtrlC", kWinesCtrlC, When::kAtThePrompt},
                    EventRoad{"CtrlBreak", platform::kCtrlBreakEvent, When::kAtThePrompt},
                    EventRoad{"Close", platform::kCloseEvent, When::kAtThePrompt},
                    EventRoad{"Logoff", platform::kLogoffEvent, When::kAtThePrompt},
                    EventRoad{"Shutdown", platform::kShutdownEvent, When::kAtThePrompt},
                    EventRoad{"CloseInProbeHold", platform::kCloseEvent, When::kDuringTheProbeHold},
                    EventRoad{"CtrlBreakInPause", platform::kCtrlBreakEvent, When::kDuringAFailurePause},
                    EventRoad{"CheckCtrlC", kWinesCtrlC, When::kMidCheck},
                    EventRoad{"CheckCtrlBreak", platform::kCtrlBreakEvent, When::kMidCheck},
                    EventRoad{"CheckClose", platform::kCloseEvent, When::kMidCheck},
                    EventRoad{"CheckLogoff", platform::kLogoffEvent, When::kMidCheck},
                    EventRoad{"CheckShutdown", platform::kShutdownEvent, When::kMidCheck}),
    [](const auto& info) { return std::string(info.param.name); });

// Both at once: each run takes some seconds, most of them asleep.
TEST(WineEndToEnd, CheckPassesTheHonestLibraryAndFailsAnIgnoredReload) {
  ChildProcess honest({WDT_WINE_COMMAND, WDT_WINE_CHECK_PATH}, {.input = Input::kDevNull});
  ChildProcess lying({WDT_WINE_COMMAND, WDT_WINE_CHECK_PATH},
                     {.input = Input::kDevNull, .env = {"WDT_SIM_BEHAVIOUR=ignore-reload"}});
  const int honest_status = honest.Wait(60s);
  ASSERT_TRUE(ExitedWithZero(honest_status)) << honest_status << Shown(honest.Output()) << honest.Error();
  std::vector<std::string> lines = Lines(honest.Output(), "\r\n");
  std::erase_if(lines, [](const std::string& line) { return line.rfind("  ", 0) == 0; });  // the YAML blocks
  ASSERT_EQ(lines.size(), 11u) << Shown(honest.Output());
  EXPECT_EQ(lines[0], "TAP version 14");
  // The stand-in DLL beside the program is named, and never passes for the hardware.
  EXPECT_EQ(lines[1], "# watchdog: simulated (the stand-in library)");
  EXPECT_EQ(lines[4].rfind("ok 2 - arm: asked 30, read ", 0), 0u) << lines[4];
  EXPECT_EQ(lines[5].rfind("ok 3 - countdown: ", 0), 0u) << lines[5];
  EXPECT_EQ(lines[9].rfind("# on the simulated watchdog: nothing was measured on hardware", 0), 0u) << lines[9];
  EXPECT_EQ(lines[10].rfind("# verdict: pass", 0), 0u) << lines[10];
  ExpectCrlfLineEnds(honest.Output());

  const int lying_status = lying.Wait(60s);
  EXPECT_TRUE(lying_status != -1 && WIFEXITED(lying_status) && WEXITSTATUS(lying_status) == 1)
      << lying_status << Shown(lying.Output());
  EXPECT_NE(lying.Output().find("\r\nnot ok 4 - reload: wrote 20, read "), std::string::npos)
      << Shown(lying.Output());
  EXPECT_NE(lying.Output().find("\r\n# verdict: fail"), std::string::npos) << Shown(lying.Output());
}

}  // namespace
}  // namespace wine_test
