// The built program with the simulated library, run as a user runs it:
// through a pseudo-terminal and through a pipe.
#include <gtest/gtest.h>

#include <filesystem>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

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
  ChildProcess child({WDT_EXERCISER_PATH}, {.input = Input::kTerminal, .env = {"WDT_TRACE=1"}});
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
            (std::vector<std::string>{printed::kProbeArmed, printed::kArmed,
                                      kPrompt.substr(0, kPrompt.size() - 1),
                                      kPrompt.substr(0, kPrompt.size() - 1),
                                      kPrompt.substr(0, kPrompt.size() - 1), printed::kClosed}));
  for (const std::string& line : Lines(output)) {
    if (line.rfind("Current", 0) == 0) {
      EXPECT_EQ(line.find_first_not_of("0123456789", 17), std::string::npos) << "no echo: " << line;
    }
  }
  EXPECT_EQ(MainThreadCalls(child.Error()),
            (std::vector<std::string>{printed::kTraceOpen, printed::kTraceProbe,
                                      printed::kTraceDisarm, printed::kTraceArm,
                                      printed::kTraceReload, printed::kTraceReload,
                                      printed::kTraceReload, printed::kTraceDisarm,
                                      printed::kTraceClose}));
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
  EXPECT_EQ(MainThreadLines(child.Output()).back(), printed::kClosed);
  EXPECT_EQ(child.Output().rfind(printed::Line(printed::kProbeArmed) + printed::Line(printed::kArmed), 0), 0u);
}

TEST(EndToEnd, ClosedInputEndsTheRunCleanly) {
  ChildProcess child({WDT_EXERCISER_PATH}, {.env = {"WDT_TRACE=1"}});
  ASSERT_TRUE(child.WaitForOutput(kPrompt)) << child.Output();
  child.CloseInput();
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << child.Output();
  EXPECT_EQ(Count(child.Output(), kPrompt), 1u) << "no spinning on end of input";
  EXPECT_EQ(MainThreadLines(child.Output()).back(), printed::kClosed);
  const auto calls = MainThreadCalls(child.Error());
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2], printed::kTraceDisarm);
  EXPECT_EQ(calls.back(), printed::kTraceClose);
}

TEST(EndToEnd, AFailedReloadPausesWhileTheMonitorGoesOnPrinting) {
  ChildProcess child({WDT_EXERCISER_PATH},
                     {.input = Input::kTerminal,
                      .env = {"WDT_TRACE=1", "WDT_SIM_FAULTS=WriteTimerValue#2=1"}});
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
            printed::Line(printed::kProbeArmed) + printed::Line(printed::kArmed) + kPrompt +
                "Failed to write time to driver\nFailed to communicate with driver\n" + kPause + "\n");
  // Nothing is undone: no disarm, no close after the failed reload.
  const auto calls = MainThreadCalls(child.Error());
  EXPECT_EQ(calls.back(), "WriteTimerValue(30) -> 1");
  EXPECT_EQ(child.Error().find("wdtDLL (simulated)"), std::string::npos);
}

TEST(EndToEnd, ASessionThatDoesNotOpenPausesAndCallsNothingElse) {
  ChildProcess child({WDT_EXERCISER_PATH},
                     {.env = {"WDT_TRACE=1", "WDT_SIM_FAULTS=InitializeSession=2"}});
  child.Send("k");
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << child.Output();
  EXPECT_EQ(child.Output(), printed::Line(printed::kFailedOpen) + printed::Line(printed::kNoHandle) + kPause + "\n");
  EXPECT_EQ(child.Error(), "InitializeSession() -> 2\n");
}

TEST(EndToEnd, ABadFaultListStopsTheRunAtItsFirstStep) {
  ChildProcess child({WDT_EXERCISER_PATH}, {.env = {"WDT_SIM_FAULTS=EnableTimer#0=1"}});
  child.CloseInput();
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << child.Output();
  EXPECT_EQ(child.Output(), printed::Line(printed::kFailedOpen) + printed::Line(printed::kBadParameter) + kPause + "\n");
  EXPECT_NE(child.Error().find("entry 1 'EnableTimer#0=1'"), std::string::npos) << child.Error();
}

// How a run ends on a signal or a lost terminal, by when it comes. Signal 0
// stands for the terminal going away (its other side closed).
enum class When { kAtThePrompt, kDuringTheProbeHold, kDuringAFailurePause };
enum class Ends { kKilled, kAsQDoes, kPauseEnds };
struct SignalRoad {
  const char* name;
  int signal_number;
  When when;
  Ends ends;
  bool output_stopped = false;  // Ctrl+S first, outside a key read: the terminal takes no output
  friend void PrintTo(const SignalRoad& road, std::ostream* os) { *os << road.name; }
};

class SignalRoadTest : public testing::TestWithParam<SignalRoad> {};

TEST_P(SignalRoadTest, LeavesTheWatchdogAndTheTerminalAsDocumented) {
  const SignalRoad& road = GetParam();
  std::vector<std::string> env = {"WDT_TRACE=1"};
  if (road.when == When::kDuringAFailurePause) env.push_back("WDT_SIM_FAULTS=WriteTimerValue#1=1");
  ChildProcess child({WDT_EXERCISER_PATH}, {.input = Input::kTerminal, .env = env});
  if (road.when == When::kDuringTheProbeHold) {
    ASSERT_TRUE(child.WaitForOutput(printed::Line(printed::kProbeArmed))) << child.Describe();
  } else {
    ASSERT_TRUE(child.WaitForOutput(road.when == When::kAtThePrompt ? kPrompt : kPause))
        << child.Describe();
    ASSERT_TRUE(child.WaitForRawTerminal());
  }
  if (road.output_stopped) child.Send("\x13");
  if (road.signal_number == 0) {
    child.HangUp();
  } else if (road.signal_number == SIGINT) {
    child.Send("\x03");  // the operator's Ctrl+C
  } else {
    // Sent again until the run ends (a stop during the probe hold ends it at
    // the first key read): ThreadSanitizer under load now and then drops one.
    child.RepeatUntil([&] { child.Signal(road.signal_number); }, [&] { return !child.Running(); });
  }
  const int status = child.Wait();
  const std::vector<std::string> armed = {printed::kTraceOpen, printed::kTraceProbe,
                                          printed::kTraceDisarm, printed::kTraceArm};
  std::vector<std::string> calls = armed;
  if (road.ends == Ends::kKilled) {
    ASSERT_TRUE(status != -1 && WIFSIGNALED(status)) << status << child.Describe();
    EXPECT_EQ(WTERMSIG(status), road.signal_number);
    calls.push_back(printed::kTraceReload);  // and the watchdog is left armed
  } else {
    ASSERT_TRUE(ExitedWithZero(status)) << status << child.Describe();
    if (road.ends == Ends::kAsQDoes) {
      calls.insert(calls.end(), {printed::kTraceReload, printed::kTraceDisarm, printed::kTraceClose});
    } else {
      calls.push_back("WriteTimerValue(30) -> 1");  // nothing undone on the failure road
    }
  }
  EXPECT_EQ(MainThreadCalls(child.Error()), calls);
  if (road.signal_number != 0) {
    // A stopped output takes the closing line or not, by when the signal came.
    if (!road.output_stopped) {
      EXPECT_EQ(WithoutMonitor(child.Output()).find(printed::Line(printed::kClosed)) != std::string::npos,
                road.ends == Ends::kAsQDoes);
    }
    const termios after = child.TerminalSettings();
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Roads, SignalRoadTest,
    testing::Values(SignalRoad{"Interrupt", SIGINT, When::kAtThePrompt, Ends::kKilled},
                    SignalRoad{"User1", SIGUSR1, When::kAtThePrompt, Ends::kKilled},
                    SignalRoad{"Alarm", SIGALRM, When::kAtThePrompt, Ends::kKilled},
                    SignalRoad{"Terminate", SIGTERM, When::kAtThePrompt, Ends::kAsQDoes},
                    SignalRoad{"HangUp", SIGHUP, When::kAtThePrompt, Ends::kAsQDoes},
                    SignalRoad{"TerminalGone", 0, When::kAtThePrompt, Ends::kAsQDoes},
                    SignalRoad{"TerminateInProbeHold", SIGTERM, When::kDuringTheProbeHold, Ends::kAsQDoes},
                    SignalRoad{"HangUpInProbeHold", SIGHUP, When::kDuringTheProbeHold, Ends::kAsQDoes},
                    SignalRoad{"TerminateWithOutputStopped", SIGTERM, When::kDuringTheProbeHold, Ends::kAsQDoes, true},
                    SignalRoad{"TerminateInPause", SIGTERM, When::kDuringAFailurePause, Ends::kPauseEnds}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EndToEnd, TerminationWithKeysFromAPipeEndsTheRunAsQDoes) {
  ChildProcess child({WDT_EXERCISER_PATH}, {.env = {"WDT_TRACE=1"}});
  child.Send("a");
  ASSERT_TRUE(child.WaitForOutput(kPrompt, 2)) << child.Describe();
  child.Signal(SIGTERM);
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << child.Describe();
  const auto calls = MainThreadCalls(child.Error());
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2], printed::kTraceDisarm);
  EXPECT_EQ(calls.back(), printed::kTraceClose);
}

// Standard output a full pipe that nobody reads: keys still reload, and
// SIGTERM still ends the run as q does.
TEST(EndToEnd, AFullOutputHoldsNoKeyBack) {
  ChildProcess child({WDT_EXERCISER_PATH}, {.env = {"WDT_TRACE=1"}, .full_output = true});
  child.Send("abc");
  ASSERT_TRUE(child.WaitUntil([&] { return Count(child.Error(), printed::kTraceReload) == 4; })) << child.Describe();
  EXPECT_TRUE(child.RepeatUntil([&] { child.Signal(SIGTERM); }, [&] { return !child.Running(); }));
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << child.Describe();
  EXPECT_EQ(MainThreadCalls(child.Error()).back(), printed::kTraceClose);
}

TEST(EndToEnd, ANonBlockingTerminalIsWaitedForNotTakenForItsEnd) {
  ChildProcess child({WDT_EXERCISER_PATH}, {.input = Input::kTerminal, .nonblocking_input = true});
  ASSERT_TRUE(child.WaitForOutput(kPrompt)) << child.Output();
  ASSERT_TRUE(child.WaitForRawTerminal());
  child.Send("a");
  ASSERT_TRUE(child.WaitForOutput(kPrompt, 2)) << child.Output();
  ASSERT_TRUE(child.WaitForRawTerminal());
  child.Send("q");
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << child.Output();
  EXPECT_EQ(Count(child.Output(), kPrompt), 2u);
}

TEST(EndToEnd, StartedInTheBackgroundItStopsAtTheReadAndLeavesTheTerminalAlone) {
  ChildProcess child({WDT_EXERCISER_PATH},
                     {.input = Input::kTerminal, .job_control = true, .background = true});
  const int status = child.Wait();
  ASSERT_TRUE(status != -1 && WIFSTOPPED(status)) << status << child.Describe();
  EXPECT_EQ(WSTOPSIG(status), SIGTTIN);
  EXPECT_EQ(child.TerminalSettings().c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
}

TEST(EndToEnd, ClosedStandardDescriptorsAreTheNullDeviceFromTheStart) {
  ChildProcess child({WDT_EXERCISER_PATH},
                     {.input = Input::kClosed, .close_output = true, .close_error = true});
  const auto all_null = [&] {
    for (const int fd : {0, 1, 2}) {
      const std::string link = "/proc/" + std::to_string(child.Pid()) + "/fd/" + std::to_string(fd);
      char target[64] = {};
      if (readlink(link.c_str(), target, sizeof target - 1) < 0 || std::string(target) != "/dev/null") {
        return false;
      }
    }
    return true;
  };
  // The run holds its probe for 2 s: time enough to look.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!all_null() && child.Running() && std::chrono::steady_clock::now() < deadline) {
    poll(nullptr, 0, 5);
  }
  EXPECT_TRUE(all_null());
  EXPECT_TRUE(ExitedWithZero(child.Wait()));  // end of input ends it as q does
}

TEST(EndToEnd, AMonitorThatCannotStartIsReportedAndTheRunGoesOn) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer cannot lay out its memory under such a stack limit";
#endif
  // A stack limit that no thread's stack can be mapped with.
  ChildProcess child({"/bin/sh", "-c", "ulimit -s 1000000000 && exec \"$0\"", WDT_EXERCISER_PATH},
                     {.input = Input::kDevNull});
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << child.Describe();
  EXPECT_EQ(child.Error(), printed::Line(printed::kMonitorNotStarted));
  EXPECT_EQ(child.Output(), printed::Line(printed::kProbeArmed) + printed::Line(printed::kArmed) + kPrompt + printed::Line(printed::kClosed));
}

// WDT_DEVICE naming what is not a watchdog: refused with status 2, nothing
// written, no wait for a FIFO's reader.
struct NotAWatchdog {
  const char* name;
  const char* why;
  bool by_sysfs = false;  // told by its class: without sysfs (a build chroot), by opening it
  friend void PrintTo(const NotAWatchdog& it, std::ostream* os) { *os << it.name; }
};

class NotAWatchdogTest : public testing::TestWithParam<NotAWatchdog> {};

TEST_P(NotAWatchdogTest, IsRefusedUntouched) {
  const std::string kind = GetParam().name;
  char folder_template[] = "/tmp/wdt-device-XXXXXX";
  ASSERT_NE(mkdtemp(folder_template), nullptr);
  const std::string folder = folder_template;
  std::string path = folder + "/device";
  int reader = -1, terminal = -1;
  if (kind == "RegularFile") {
    std::FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("important\n", file);
    std::fclose(file);
  } else if (kind == "Folder") {
    path = folder;
  } else if (kind == "NullDevice") {
    path = "/dev/null";
  } else if (kind != "Missing") {
    if (kind != "Terminal") {
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    }
    if (kind == "FifoWithReader") reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (kind == "Terminal") {
      char name[128];
      int other = -1;
      ASSERT_EQ(openpty(&terminal, &other, name, nullptr, nullptr), 0);
      close(other);
      path = name;
      fcntl(terminal, F_SETFL, O_NONBLOCK);
    }
  }
  ChildProcess child({WDT_EXERCISER_PATH}, {.input = Input::kDevNull, .env = {"WDT_DEVICE=" + path}});
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << child.Describe();
  EXPECT_EQ(child.Output(), printed::Line(printed::kFailedOpen) + printed::Line(printed::kNoHandle) + kPause + "\n");
  const std::string said = "wdtDLL (" + path + "): ";
  EXPECT_EQ(child.Error(), GetParam().by_sysfs && !std::filesystem::is_directory("/sys/dev/char")
                               ? said + "sysfs is not mounted; the device is identified by opening it\n" + said +
                                     "not a watchdog device\n"
                               : said + GetParam().why + "\n");
  char byte = 0;
  for (const int fd : {reader, terminal}) {
    if (fd >= 0) {
      EXPECT_LE(read(fd, &byte, 1), 0) << "the other side got a byte";
    }
  }
  if (kind == "RegularFile") {
    std::FILE* file = std::fopen(path.c_str(), "r");
    char text[32] = {};
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::string(std::fgets(text, sizeof text, file)), "important\n");
    EXPECT_EQ(std::fgetc(file), EOF);
    std::fclose(file);
  }
  for (const int fd : {reader, terminal}) {
    if (fd >= 0) close(fd);
  }
  if (path != folder && kind != "NullDevice") unlink(path.c_str());
  rmdir(folder.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, NotAWatchdogTest,
    testing::Values(NotAWatchdog{"RegularFile", "not a character device"},
                    NotAWatchdog{"Folder", "not a character device"},
                    NotAWatchdog{"FifoWithoutReader", "not a character device"},
                    NotAWatchdog{"FifoWithReader", "not a character device"},
                    NotAWatchdog{"Missing", "cannot open the device: No such file or directory"},
                    NotAWatchdog{"Terminal", "not a watchdog device (sysfs class: none)", true},
                    NotAWatchdog{"NullDevice", "not a watchdog device (sysfs class: mem)", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EndToEnd, EnvironmentBytesInDiagnosticsAreShownEscaped) {
  ChildProcess child({WDT_EXERCISER_PATH},
                     {.input = Input::kDevNull,
                      .env = {"WDT_SIM_FAULTS=\x1b]0;x\x07=1", "WDT_TRACE=\x1b[2J"}});
  ASSERT_TRUE(ExitedWithZero(child.Wait())) << child.Describe();
  EXPECT_EQ(child.Error(),
            "wdtDLL: WDT_TRACE='\\x1b[2J' is neither 1 (trace) nor 0 (no trace); tracing stays off\n"
            "wdtDLL (simulated): WDT_SIM_FAULTS entry 1 '\\x1b]0;x\\x07=1': unknown operation "
            "'\\x1b]0;x\\x07'; every operation returns 3 (bad parameter)\n");
}

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
    ASSERT_NE(output.find(printed::Line(printed::kClosed)), std::string::npos) << "run " << run;
  }
}

}  // namespace
