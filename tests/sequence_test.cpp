// The exercise sequence and the timer monitor against the simulated watchdog
// on a fake clock and a fake platform: every road, the exact lines and the
// exact calls in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "expected_output.h"
#include "fakes.h"
#include "monitor.h"
#include "sequence.h"
#include "simulated_library.h"

namespace {

using Events = std::vector<std::string>;
using printed::Line;

const std::string kPrompt = Line(printed::kPrompt);

std::string Out(const std::string& text) { return "out:" + text; }
std::string OutLine(std::string_view line) { return Out(Line(line)); }
std::string OutTimer(std::uint32_t value) {
  return Out(printed::kTimerLine + std::to_string(value) + "\n");
}

std::string Read(StatusCode status, std::uint32_t value) {
  return "ReadTimerValue() -> " + std::to_string(status) + (status == 0 ? " (value " + std::to_string(value) + ")" : "");
}

int Exercise() { return exerciser::RunExercise(fake::Simulated()); }

std::string Key(unsigned char code) {
  char text[16];
  std::snprintf(text, sizeof text, "key 0x%02x", code);
  return text;
}

// Everything the road that succeeds does, for the given keys (the last one q).
Events SuccessRoad(const std::string& keys) {
  Events e = {"InitializeSession() -> 0",
              "EnableTimer(5, 0) -> 0",
              OutLine(printed::kProbeArmed),
              "sleep 2000",
              "DisableTimer() -> 0",
              "EnableTimer(30, 0) -> 0",
              OutLine(printed::kArmed),
              "start thread"};
  for (const char key : keys) {
    e.push_back("WriteTimerValue(30) -> 0");
    e.push_back(Out(kPrompt));
    e.push_back(Key(static_cast<unsigned char>(key)));
  }
  e.insert(e.end(), {"DisableTimer() -> 0", "CloseSession() -> 0", OutLine(printed::kClosed)});
  return e;
}

class SequenceTest : public testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  void TearDown() override { fake::Reset(); }
};

TEST_F(SequenceTest, QAtTheFirstPromptReloadsOnceThenDisarmsClosesAndExits) {
  fake::SetKeys("q");
  EXPECT_EQ(Exercise(), 0);
  EXPECT_EQ(fake::Events(), SuccessRoad("q"));
}

TEST_F(SequenceTest, EveryCodeButLowercaseQReloadsAndPromptsOnce) {
  // Q, a two-code arrow key (0xE0 0x48), a function key (0x00 0x3B), Ctrl+C's
  // code and 0xFF are each one pass of the loop.
  const std::string keys("Qa\xE0\x48\x00\x3B\x03\xFFq", 9);
  fake::SetKeys(keys);
  EXPECT_EQ(Exercise(), 0);
  EXPECT_EQ(fake::Events(), SuccessRoad(keys));
}

TEST_F(SequenceTest, EndOfKeysEndsTheRunLikeQ) {
  fake::SetKeys("ab");  // then the platform says no more keys can come
  EXPECT_EQ(Exercise(), 0);
  EXPECT_EQ(fake::Events(), SuccessRoad("abq"));
}

TEST_F(SequenceTest, AMonitorThatCannotStartIsReportedAndTheRunGoesOn) {
  fake::SetThreadMode(fake::ThreadMode::kFail);
  fake::SetKeys("aq");
  EXPECT_EQ(Exercise(), 0);
  Events expected = SuccessRoad("aq");
  expected.insert(std::find(expected.begin(), expected.end(), "start thread") + 1,
                  "err:" + Line(printed::kMonitorNotStarted));
  EXPECT_EQ(fake::Events(), expected);
}

class ProbeDisableTest : public SequenceTest, public testing::WithParamInterface<StatusCode> {};

TEST_P(ProbeDisableTest, ItsStatusIsNotExamined) {
  fake::UseSimulator("DisableTimer#1=" + std::to_string(GetParam()));
  fake::SetKeys("aq");
  EXPECT_EQ(Exercise(), 0);
  Events expected = SuccessRoad("aq");
  *std::find(expected.begin(), expected.end(), "DisableTimer() -> 0") =
      "DisableTimer() -> " + std::to_string(GetParam());
  EXPECT_EQ(fake::Events(), expected);
}

INSTANTIATE_TEST_SUITE_P(AnyStatus, ProbeDisableTest, testing::Values(1, 2, 3, 4, -1, INT_MIN));

struct Step {
  const char* name;
  const char* operation;
  int nth;             // which call of the operation fails
  const char* call;    // how that call shows in the log
  std::string_view line;  // the step's own failure line
  friend void PrintTo(const Step& step, std::ostream* os) { *os << step.name; }
};

const Step kCheckedSteps[] = {
    {"Open", "InitializeSession", 1, "InitializeSession()", printed::kFailedOpen},
    {"Probe", "EnableTimer", 1, "EnableTimer(5, 0)", printed::kFailedProbe},
    {"Arm", "EnableTimer", 2, "EnableTimer(30, 0)", printed::kFailedArm},
    {"FirstReload", "WriteTimerValue", 1, "WriteTimerValue(30)", printed::kFailedReload},
    {"KeyReload", "WriteTimerValue", 2, "WriteTimerValue(30)", printed::kFailedReload},
    {"Disarm", "DisableTimer", 2, "DisableTimer()", printed::kFailedDisarm},
    {"Close", "CloseSession", 1, "CloseSession()", printed::kFailedClose},
};

class FailedStepTest : public SequenceTest,
                       public testing::WithParamInterface<std::tuple<Step, StatusCode>> {};

TEST_P(FailedStepTest, PrintsItsLineAndTheStatusLinePausesAndReturnsZero) {
  const auto& [step, status] = GetParam();
  fake::UseSimulator(std::string(step.operation) + "#" + std::to_string(step.nth) + "=" + std::to_string(status));
  fake::SetKeys("aq");
  EXPECT_EQ(Exercise(), 0);

  // The road that succeeds up to the failing call, then nothing else runs.
  Events expected = SuccessRoad("aq");
  auto failing = expected.begin();
  for (int seen = 0;; ++failing) {
    ASSERT_NE(failing, expected.end());
    if (failing->rfind(std::string(step.operation) + "(", 0) == 0 && ++seen == step.nth) break;
  }
  ASSERT_EQ(*failing, std::string(step.call) + " -> 0");
  *failing = std::string(step.call) + " -> " + std::to_string(status);
  expected.erase(failing + 1, expected.end());
  expected.insert(expected.end(),
                  {OutLine(step.line), OutLine(printed::StatusLine(status)), "pause"});
  EXPECT_EQ(fake::Events(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStepEveryStatus, FailedStepTest,
    testing::Combine(testing::ValuesIn(kCheckedSteps),
                     testing::Values(1, 2, 3, 4, -1, INT_MIN, INT_MAX)),
    [](const auto& info) {
      const StatusCode status = std::get<1>(info.param);
      return std::string(std::get<0>(info.param).name) + "_" +
             (status < 0 ? "minus" + std::to_string(-static_cast<long long>(status))
                         : std::to_string(status));
    });

// The monitor alone, on a session armed for `timeout`.
class MonitorTest : public SequenceTest {
 protected:
  void Arm(std::uint32_t timeout, std::string_view faults = "") {
    fake::UseSimulator(faults);
    const wdt::Operations wdt = fake::Simulated();
    ASSERT_EQ(wdt.initialize_session(), 0);
    ASSERT_EQ(wdt.enable_timer(timeout, 0), 0);
    SetMonitorOperations(wdt);
  }
  static Events Armed(std::uint32_t timeout) {
    return {"InitializeSession() -> 0", "EnableTimer(" + std::to_string(timeout) + ", 0) -> 0"};
  }
};

TEST_F(MonitorTest, ReadsPrintsAndSleepsASecondEachPass) {
  Arm(30);
  fake::SetMonitorPasses(3);
  EXPECT_THROW(MonitorTimerValue(nullptr), fake::StopMonitor);
  Events expected = Armed(30);
  for (const std::uint32_t value : {30, 29, 28}) {
    expected.insert(expected.end(), {Read(0, value), OutTimer(value), "sleep 1000"});
  }
  EXPECT_EQ(fake::Events(), expected);
}

TEST_F(MonitorTest, AFailedFirstReadShowsZeroAndALaterOneTheLastValue) {
  Arm(17, "ReadTimerValue#1=1,ReadTimerValue#3=-7");
  fake::SetMonitorPasses(3);
  EXPECT_THROW(MonitorTimerValue(nullptr), fake::StopMonitor);
  Events expected = Armed(17);
  expected.insert(expected.end(), {Read(1, 0), OutLine(printed::kFailedRead), OutTimer(0), "sleep 1000",
                                   Read(0, 16), OutTimer(16), "sleep 1000", Read(-7, 0),
                                   OutLine(printed::kFailedRead), OutTimer(16), "sleep 1000"});
  EXPECT_EQ(fake::Events(), expected);
}

TEST_F(MonitorTest, ALibraryWhoseEveryReadFailsIsReportedEveryPass) {
  Arm(30, "ReadTimerValue=3");
  fake::SetMonitorPasses(50);
  EXPECT_THROW(MonitorTimerValue(nullptr), fake::StopMonitor);
  const Events events = fake::Events();
  EXPECT_EQ(std::count(events.begin(), events.end(), OutLine(printed::kFailedRead)), 50);
  EXPECT_EQ(std::count(events.begin(), events.end(), OutTimer(0)), 50);
}

// A value that the simulation never shows: a library of the test's own.
TEST_F(MonitorTest, LargestValuePrintsInPlainUnsignedDecimal) {
  wdt::Operations largest = fake::Simulated();
  largest.read_timer_value = [](std::uint32_t* value) {
    fake::Simulated().read_timer_value(value);  // the monitor's thread, as a read does
    *value = 4294967295u;
    return StatusCode{0};
  };
  SetMonitorOperations(largest);
  fake::SetMonitorPasses(1);
  EXPECT_THROW(MonitorTimerValue(nullptr), fake::StopMonitor);
  EXPECT_EQ(fake::Events()[1], OutTimer(4294967295u));
}

// Waits, with a deadline, until the log holds `count` events that `match`;
// no longer once the monitor has ended.
bool WaitForEvents(const std::function<bool(const std::string&)>& match, long count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    const bool ended = fake::MonitorEnded();
    const Events events = fake::Events();
    if (std::count_if(events.begin(), events.end(), match) >= count) return true;
    if (ended) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

bool WaitForReads(long count) {
  return WaitForEvents([](const std::string& e) { return e.rfind(Read(0, 0).substr(0, 24), 0) == 0; }, count);
}

TEST_F(MonitorTest, RunsBesideTheKeyLoopAndReadsOnAfterTheClose) {
  fake::SetThreadMode(fake::ThreadMode::kRun);
  // The monitor makes one pass, then each key waits for two more, so the
  // threads overlap and the fake time moves a second a pass.
  fake::SetMonitorPasses(1);
  long reads_before_key = 1;
  fake::BeforeEachKey([&] {
    fake::GrantMonitorPasses(2);
    reads_before_key += 2;
    ASSERT_TRUE(WaitForReads(reads_before_key));
  });
  fake::SetKeys("abq");
  EXPECT_EQ(Exercise(), 0);
  // After the close the monitor's reads find no session and say so.
  fake::GrantMonitorPasses(1);
  ASSERT_TRUE(WaitForEvents([](const std::string& e) { return e == Read(2, 0); }, 1));
  fake::EndMonitor();

  const Events events = fake::Events();
  Events main_thread;
  Events monitor;
  for (const std::string& e : events) {
    const bool from_monitor = e.rfind("ReadTimerValue", 0) == 0 || e == "sleep 1000" ||
                              e.rfind(Out(printed::kTimerLine), 0) == 0 ||
                              e == OutLine(printed::kFailedRead);
    (from_monitor ? monitor : main_thread).push_back(e);
  }
  EXPECT_EQ(main_thread, SuccessRoad("abq"));
  EXPECT_GE(std::count_if(monitor.begin(), monitor.end(),
                          [](const std::string& e) { return e.rfind(Out(printed::kTimerLine), 0) == 0; }),
            6);
  const auto close = std::find(events.begin(), events.end(), "CloseSession() -> 0");
  EXPECT_NE(std::find(close, events.end(), Read(2, 0)), events.end());
  EXPECT_NE(std::find(close, events.end(), OutLine(printed::kFailedRead)), events.end());
}

}  // namespace
