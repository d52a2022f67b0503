// The built program with the simulated library, run as a user runs it:
// through a pseudo-terminal and through a pipe.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <termios.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "child_process.h"
#include "expected_output.h"

namespace {

using test_support::ChildProcess;
using test_support::Count;
using test_support::Input;
using test_support::Lines;
using namespace std::chrono_literals;

const std::string kPrompt = printed::Line(printed::kPrompt);
const std::string kPause(printed::kPause);

bool ExitedWithZero(int status) { return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0; }

// The output without the monitor's lines, which are written whole but may
// come between any two of the main thread's writes, and go on after the
// close (a read then finds no session).
std::string WithoutMonitor(const std::string& output) {
  static const std::regex monitor_line(printed::kTimerLine + std::string("[0-9]+\n|") +
                                       printed::Line(printed::kFailedRead));
  return std::regex_replace(output, monitor_line, "");
}

std::vector<std::string> MainThreadLines(const std::string& output) {
  return Lines(WithoutMonitor(output));
}

// The library calls in the trace, without the monitor's reads.
std::vector<std::string> MainThreadCalls(const std::string& trace) {
  std::vector<std::string> calls;
  for (const std::string& line : Lines(trace)) {
    if (line.rfind("ReadTimerValue", 0) != 0) calls.push_back(line);
  }
  return calls;
}

TEST(EndToEnd, TheWholeRoadOverATerminal) {
  ChildProcess child({WDT_EXERCISER_PATH}, {.input = Input::kTerminal, .env = {"WDT_SIM_TRACE=1"}});
  ASSERT_TRUE(child.WaitForOutput(kPrompt)) << child.Output();
  // The monitor prints beside the prompt, counting down from 30.
  ASSERT_TRUE(child.WaitForOutput("Current timeout: 30\n")) << child.Output();
  ASSERT_TRUE(child.WaitForRawTerminal());
  child.Send("a");
  ASSERT_TRUE(child.WaitForOutput(kPrompt, 1, child.Output().find(kPrompt) + 1)) << child.Output();
  ASSERT_TRUE(child.WaitForRawTerminal());
  child.Send("Q");
  const std::size_t third = child.Output().rfind(kPrompt) + 1;
  ASSERT_TRUE(child.WaitForOutput(kPrompt, 1, third)) << child.Output();
  ASSERT_TRUE(child.WaitForOutput("Current timeout: ", 1, child.Output().find(kPrompt, third)))
      << child.Output();
  ASSERT_TRUE(child.WaitForRawTerminal());
  child.Send("q");
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << child.Output();

  const std::string output = child.Output();
  EXPECT_EQ(MainThreadLines(output),
            (std::vector<std::string>{"Set timer to 5 seconds", "Set timer to 30 seconds",
                                      kPrompt.substr(0, kPrompt.size() - 1),
                                      kPrompt.substr(0, kPrompt.size() - 1),
                                      kPrompt.substr(0, kPrompt.size() - 1), "WDT closed. Exiting"}));
  for (const std::string& line : Lines(output)) {
    if (line.rfind("Current", 0) == 0) {
      EXPECT_EQ(line.find_first_not_of("0123456789", 17), std::string::npos) << "no echo: " << line;
    }
  }
  EXPECT_EQ(MainThreadCalls(child.Error()),
            (std::vector<std::string>{"InitializeSession() -> 0", "EnableTimer(5, 0) -> 0",
                                      "DisableTimer() -> 0", "EnableTimer(30, 0) -> 0",
                                      "WriteTimerValue(30) -> 0", "WriteTimerValue(30) -> 0",
                                      "WriteTimerValue(30) -> 0", "DisableTimer() -> 0",
                                      "CloseSession() -> 0"}));
  const termios after = child.TerminalSettings();
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO))
      << "the terminal is put back after the last read";
}

TEST(EndToEnd, KeysThroughAPipeOneByteEach) {
  ChildProcess child({WDT_EXERCISER_PATH}, {.env = {"WDT_SIM_TRACE=1"}});
  child.Send(std::string("aQ\0\xff\xe0\x48q", 7));
  child.CloseInput();
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << child.Output();
  EXPECT_EQ(Count(child.Output(), kPrompt), 7u);
  EXPECT_EQ(Count(child.Error(), "WriteTimerValue(30) -> 0\n"), 7u);
  EXPECT_EQ(MainThreadLines(child.Output()).back(), "WDT closed. Exiting");
  EXPECT_EQ(child.Output().rfind("Set timer to 5 seconds\nSet timer to 30 seconds\n", 0), 0u);
}

TEST(EndToEnd, ClosedInputEndsTheRunCleanly) {
  ChildProcess child({WDT_EXERCISER_PATH}, {.env = {"WDT_SIM_TRACE=1"}});
  ASSERT_TRUE(child.WaitForOutput(kPrompt)) << child.Output();
  child.CloseInput();
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << child.Output();
  EXPECT_EQ(Count(child.Output(), kPrompt), 1u) << "no spinning on end of input";
  EXPECT_EQ(MainThreadLines(child.Output()).back(), "WDT closed. Exiting");
  const auto calls = MainThreadCalls(child.Error());
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2], "DisableTimer() -> 0");
  EXPECT_EQ(calls.back(), "CloseSession() -> 0");
}

TEST(EndToEnd, AFailedReloadPausesWhileTheMonitorGoesOnPrinting) {
  ChildProcess child({WDT_EXERCISER_PATH},
                     {.input = Input::kTerminal,
                      .env = {"WDT_SIM_TRACE=1", "WDT_SIM_FAULTS=WriteTimerValue#2=1"}});
  ASSERT_TRUE(child.WaitForOutput(kPrompt)) << child.Output();
  ASSERT_TRUE(child.WaitForRawTerminal());
  child.Send("a");
  ASSERT_TRUE(child.WaitForOutput(kPause)) << child.Output();
  const std::size_t paused_at = child.Output().find(kPause) + kPause.size();
  ASSERT_TRUE(child.WaitForOutput("Current timeout: ", 1, paused_at)) << child.Output();
  ASSERT_TRUE(child.WaitForRawTerminal());
  child.Send("x");
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << child.Output();
  EXPECT_EQ(WithoutMonitor(child.Output()),
            "Set timer to 5 seconds\nSet timer to 30 seconds\n" + kPrompt +
                "Failed to write time to driver\nFailed to communicate with driver\n" + kPause + "\n");
  // Nothing is undone: no disarm, no close after the failed reload.
  const auto calls = MainThreadCalls(child.Error());
  EXPECT_EQ(calls.back(), "WriteTimerValue(30) -> 1");
  EXPECT_EQ(child.Error().find("wdtDLL (simulated)"), std::string::npos);
}

TEST(EndToEnd, ASessionThatDoesNotOpenPausesAndCallsNothingElse) {
  ChildProcess child({WDT_EXERCISER_PATH},
                     {.env = {"WDT_SIM_TRACE=1", "WDT_SIM_FAULTS=InitializeSession=2"}});
  child.Send("k");
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << child.Output();
  EXPECT_EQ(child.Output(), "Failed to open device\nFailed to obtain handle to driver\n" + kPause + "\n");
  EXPECT_EQ(child.Error(), "InitializeSession() -> 2\n");
}

TEST(EndToEnd, ABadFaultListStopsTheRunAtItsFirstStep) {
  ChildProcess child({WDT_EXERCISER_PATH}, {.env = {"WDT_SIM_FAULTS=EnableTimer#0=1"}});
  child.CloseInput();
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << child.Output();
  EXPECT_EQ(child.Output(), "Failed to open device\nBad parameter\n" + kPause + "\n");
  EXPECT_NE(child.Error().find("entry 1 'EnableTimer#0=1'"), std::string::npos) << child.Error();
}

// A signal that ends the process during a read puts the terminal back.
class TerminalSignalTest : public testing::TestWithParam<int> {};

TEST_P(TerminalSignalTest, EndsTheProcessAndPutsTheTerminalBack) {
  const int signal_number = GetParam();
  ChildProcess child({WDT_EXERCISER_PATH}, {.input = Input::kTerminal});
  ASSERT_TRUE(child.WaitForOutput(kPrompt)) << child.Output();
  ASSERT_TRUE(child.WaitForRawTerminal());
  if (signal_number == SIGINT) {
    child.Send("\x03");  // the operator's Ctrl+C
  } else {
    child.Signal(signal_number);
  }
  const int status = child.Wait();
  ASSERT_TRUE(status != -1 && WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), signal_number);
  const termios after = child.TerminalSettings();
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
  EXPECT_EQ(child.Output().find("WDT closed"), std::string::npos) << "the watchdog is left armed";
}

INSTANTIATE_TEST_SUITE_P(Signals, TerminalSignalTest, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

// The process ends while the monitor is inside the library or writing a line:
// the test build's sleeps return at once, so the monitor never rests.
TEST(EndToEnd, EndingWhileTheMonitorIsBusyIsCleanEveryTime) {
  for (int run = 0; run < 200; ++run) {
    ChildProcess child({WDT_EXERCISER_INSTANT_PATH}, {});
    child.Send("aq");
    child.CloseInput();
    const int status = child.Wait(30s);
    ASSERT_TRUE(ExitedWithZero(status)) << "run " << run << " status " << status << "\n" << child.Error();
    ASSERT_EQ(child.Error(), "") << "run " << run;
    const std::string output = child.Output();
    ASSERT_EQ(Count(output, kPrompt), 2u) << "run " << run;
    ASSERT_NE(output.find("WDT closed. Exiting\n"), std::string::npos) << "run " << run;
  }
}

}  // namespace
