// The exercise sequence and the timer monitor against a scripted library and
// a fake platform: every road, the exact lines and the exact calls in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "expected_output.h"
#include "fakes.h"
#include "monitor.h"
#include "sequence.h"

namespace {

using Events = std::vector<std::string>;
using printed::Line;

const std::string kPrompt = Line(printed::kPrompt);

std::string Out(const std::string& text) { return "out:" + text; }
std::string OutLine(std::string_view line) { return Out(Line(line)); }
std::string OutTimer(std::uint32_t value) {
  return Out(printed::kTimerLine + std::to_string(value) + "\n");
}

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
  EXPECT_EQ(exerciser::RunExercise(), 0);
  EXPECT_EQ(fake::Events(), SuccessRoad("q"));
}

TEST_F(SequenceTest, EveryCodeButLowercaseQReloadsAndPromptsOnce) {
  // Q, a two-code arrow key (0xE0 0x48), a function key (0x00 0x3B), Ctrl+C's
  // code and 0xFF are each one pass of the loop.
  const std::string keys("Qa\xE0\x48\x00\x3B\x03\xFFq", 9);
  fake::SetKeys(keys);
  EXPECT_EQ(exerciser::RunExercise(), 0);
  EXPECT_EQ(fake::Events(), SuccessRoad(keys));
}

TEST_F(SequenceTest, EndOfKeysEndsTheRunLikeQ) {
  fake::SetKeys("ab");  // then the platform says no more keys can come
  EXPECT_EQ(exerciser::RunExercise(), 0);
  EXPECT_EQ(fake::Events(), SuccessRoad("abq"));
}

TEST_F(SequenceTest, AMonitorThatCannotStartIsReportedAndTheRunGoesOn) {
  fake::SetThreadMode(fake::ThreadMode::kFail);
  fake::SetKeys("aq");
  EXPECT_EQ(exerciser::RunExercise(), 0);
  Events expected = SuccessRoad("aq");
  expected.insert(std::find(expected.begin(), expected.end(), "start thread") + 1,
                  "err:" + Line(printed::kMonitorNotStarted));
  EXPECT_EQ(fake::Events(), expected);
}

class ProbeDisableTest : public SequenceTest, public testing::WithParamInterface<StatusCode> {};

TEST_P(ProbeDisableTest, ItsStatusIsNotExamined) {
  fake::FailCall("DisableTimer", 1, GetParam());
  fake::SetKeys("aq");
  EXPECT_EQ(exerciser::RunExercise(), 0);
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
  fake::FailCall(step.operation, step.nth, status);
  fake::SetKeys("aq");
  EXPECT_EQ(exerciser::RunExercise(), 0);

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

class MonitorTest : public SequenceTest {};

TEST_F(MonitorTest, ReadsPrintsAndSleepsASecondEachPass) {
  fake::SetReadValues({30, 29, 28});
  fake::SetMonitorPasses(3);
  EXPECT_THROW(MonitorTimerValue(nullptr), fake::StopMonitor);
  EXPECT_EQ(fake::Events(), (Events{"ReadTimerValue() -> 0", OutTimer(30), "sleep 1000",
                                    "ReadTimerValue() -> 0", OutTimer(29), "sleep 1000",
                                    "ReadTimerValue() -> 0", OutTimer(28), "sleep 1000"}));
}

TEST_F(MonitorTest, AFailedFirstReadShowsZeroAndALaterOneTheLastValue) {
  fake::FailCall("ReadTimerValue", 1, 1);
  fake::FailCall("ReadTimerValue", 3, -7);
  fake::SetReadValues({17});
  fake::SetMonitorPasses(3);
  EXPECT_THROW(MonitorTimerValue(nullptr), fake::StopMonitor);
  EXPECT_EQ(fake::Events(),
            (Events{"ReadTimerValue() -> 1", OutLine(printed::kFailedRead), OutTimer(0),
                    "sleep 1000", "ReadTimerValue() -> 0", OutTimer(17), "sleep 1000",
                    "ReadTimerValue() -> -7", OutLine(printed::kFailedRead), OutTimer(17),
                    "sleep 1000"}));
}

TEST_F(MonitorTest, ALibraryWhoseEveryReadFailsIsReportedEveryPass) {
  fake::FailCall("ReadTimerValue", 0, 3);
  fake::SetMonitorPasses(50);
  EXPECT_THROW(MonitorTimerValue(nullptr), fake::StopMonitor);
  const Events events = fake::Events();
  EXPECT_EQ(std::count(events.begin(), events.end(), OutLine(printed::kFailedRead)), 50);
  EXPECT_EQ(std::count(events.begin(), events.end(), OutTimer(0)), 50);
}

TEST_F(MonitorTest, LargestValuePrintsInPlainUnsignedDecimal) {
  fake::SetReadValues({4294967295u});
  fake::SetMonitorPasses(1);
  EXPECT_THROW(MonitorTimerValue(nullptr), fake::StopMonitor);
  EXPECT_EQ(fake::Events()[1], OutTimer(4294967295u));
}

// Waits, with a deadline, until the log holds `count` events matching `event`;
// no longer once the monitor has ended.
bool WaitForEvents(const std::string& event, long count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    const bool ended = fake::MonitorEnded();
    const Events events = fake::Events();
    if (std::count(events.begin(), events.end(), event) >= count) return true;
    if (ended) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

TEST_F(MonitorTest, RunsBesideTheKeyLoopAndReadsOnAfterTheClose) {
  fake::SetThreadMode(fake::ThreadMode::kRun);
  fake::SetReadValues({30});
  // Each key waits for two more monitor passes, so the threads overlap.
  long reads_before_key = 0;
  fake::BeforeEachKey([&] {
    reads_before_key += 2;
    ASSERT_TRUE(WaitForEvents("ReadTimerValue() -> 0", reads_before_key));
  });
  fake::SetKeys("abq");
  EXPECT_EQ(exerciser::RunExercise(), 0);
  // After the close the monitor's reads find no session and say so.
  ASSERT_TRUE(WaitForEvents("ReadTimerValue() -> 2", 1));
  fake::SetMonitorPasses(0);
  fake::JoinThread();

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
  EXPECT_GE(std::count(monitor.begin(), monitor.end(), OutTimer(30)), 6);
  const auto close = std::find(events.begin(), events.end(), "CloseSession() -> 0");
  EXPECT_NE(std::find(close, events.end(), "ReadTimerValue() -> 2"), events.end());
  EXPECT_NE(std::find(close, events.end(), OutLine(printed::kFailedRead)), events.end());
}

}  // namespace
