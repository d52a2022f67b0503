// The simulated watchdog with a clock of the test's own: countdown and
// rounding, reload, disarm, ranges, sessions, faults, behaviours and tracing.
#include <gtest/gtest.h>

#include "status_codes.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "simulator.h"

namespace {

using namespace std::chrono_literals;
using sim::Clock;

class SimulatorTest : public testing::Test {
 protected:
  // A fresh watchdog with the given WDT_SIM_FAULTS text, tracing and
  // WDT_SIM_BEHAVIOUR text.
  void Make(const std::string& faults = "", bool trace = false, const std::string& behaviour = "") {
    watchdog_ = std::make_unique<sim::Simulator>(
        sim::Settings{sim::ParseFaultList(faults), trace, sim::ParseBehaviour(behaviour)},
        [] { return g_now; },
        [this](std::string_view line) { diagnostics_.emplace_back(line); });
  }

  std::uint32_t Read() {
    std::uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(watchdog_->ReadTimerValue(&value), wdt::kOk);
    return value;
  }

  int Expiries() const {
    int n = 0;
    for (const auto& line : diagnostics_) n += line == sim::kExpiredMessage;
    return n;
  }

  void SetUp() override { Make(); }

  // The simulator reads its clock through a plain function: the test's is
  // this fixture's time, kept where that function can see it.
  static inline Clock::time_point g_now;
  Clock::time_point& now_ = g_now = Clock::time_point(1000h);
  std::vector<std::string> diagnostics_;
  std::unique_ptr<sim::Simulator> watchdog_;
};

TEST_F(SimulatorTest, CountsDownInWholeSecondsRoundedUp) {
  ASSERT_EQ(watchdog_->InitializeSession(), wdt::kOk);
  ASSERT_EQ(watchdog_->EnableTimer(30, 0), wdt::kOk);
  EXPECT_EQ(Read(), 30u);
  now_ += 1ns;
  EXPECT_EQ(Read(), 30u);
  now_ += 1s - 1ns;
  EXPECT_EQ(Read(), 29u);  // exactly one second gone
  now_ += 1ns;
  EXPECT_EQ(Read(), 29u);
  now_ += 28s + 500ms;
  EXPECT_EQ(Read(), 1u);
  EXPECT_EQ(Expiries(), 0);
  now_ += 500ms - 2ns;
  EXPECT_EQ(Read(), 1u);  // 1 ns left still shows a whole second
  now_ += 1ns;
  EXPECT_EQ(Read(), 0u);
  EXPECT_EQ(Expiries(), 1);
  now_ += 1h;
  EXPECT_EQ(Read(), 0u);
  EXPECT_EQ(Expiries(), 1) << "one line per run-out";
}

TEST_F(SimulatorTest, MinSecOneCountsMinutes) {
  ASSERT_EQ(watchdog_->InitializeSession(), wdt::kOk);
  ASSERT_EQ(watchdog_->EnableTimer(2, 1), wdt::kOk);
  EXPECT_EQ(Read(), 2u);
  now_ += 61s;
  EXPECT_EQ(Read(), 1u);
  ASSERT_EQ(watchdog_->WriteTimerValue(3), wdt::kOk);  // in minutes too
  now_ += 179s;
  EXPECT_EQ(Read(), 1u);
  EXPECT_EQ(Expiries(), 0);
  now_ += 1s;
  EXPECT_EQ(Read(), 0u);
  EXPECT_EQ(Expiries(), 1);
}

TEST_F(SimulatorTest, ReloadStartsTheCountAgainWithTheValue) {
  ASSERT_EQ(watchdog_->InitializeSession(), wdt::kOk);
  ASSERT_EQ(watchdog_->EnableTimer(30, 0), wdt::kOk);
  now_ += 25s;
  EXPECT_EQ(Read(), 5u);
  ASSERT_EQ(watchdog_->WriteTimerValue(30), wdt::kOk);
  EXPECT_EQ(Read(), 30u);
  now_ += 29s;
  ASSERT_EQ(watchdog_->WriteTimerValue(10), wdt::kOk);
  EXPECT_EQ(Read(), 10u);
  now_ += 10s;
  EXPECT_EQ(Read(), 0u);
  EXPECT_EQ(Expiries(), 1);
}

TEST_F(SimulatorTest, DisarmStopsTheCountWhereItStoodAndNothingExpires) {
  ASSERT_EQ(watchdog_->InitializeSession(), wdt::kOk);
  EXPECT_EQ(Read(), 0u) << "never armed";
  ASSERT_EQ(watchdog_->EnableTimer(5, 0), wdt::kOk);
  now_ += 2s;
  ASSERT_EQ(watchdog_->DisableTimer(), wdt::kOk);
  now_ += 1h;
  EXPECT_EQ(Read(), 3u);
  EXPECT_EQ(watchdog_->DisableTimer(), wdt::kOk) << "disarming twice is harmless";
  // A reload does not arm a disarmed watchdog.
  EXPECT_EQ(watchdog_->WriteTimerValue(30), wdt::kOk);
  now_ += 1h;
  EXPECT_EQ(Read(), 3u);
  EXPECT_EQ(Expiries(), 0);
  ASSERT_EQ(watchdog_->EnableTimer(30, 0), wdt::kOk);
  EXPECT_EQ(Read(), 30u);
}

TEST_F(SimulatorTest, RefusesOutOfRangeArgumentsWithoutChangingTheTimer) {
  ASSERT_EQ(watchdog_->InitializeSession(), wdt::kOk);
  ASSERT_EQ(watchdog_->EnableTimer(20, 0), wdt::kOk);
  for (const auto& [timeout, min_sec] : std::vector<std::pair<std::uint32_t, std::int32_t>>{
           {0, 0}, {256, 0}, {4294967295u, 0}, {5, 2}, {5, -1}, {5, INT32_MIN}, {0, 1}}) {
    EXPECT_EQ(watchdog_->EnableTimer(timeout, min_sec), wdt::kBadParameter) << timeout << ", " << min_sec;
  }
  for (const std::uint32_t value : {0u, 256u, 4294967295u}) {
    EXPECT_EQ(watchdog_->WriteTimerValue(value), wdt::kBadParameter) << value;
  }
  EXPECT_EQ(watchdog_->ReadTimerValue(nullptr), wdt::kBadParameter);
  EXPECT_EQ(Read(), 20u);
  EXPECT_EQ(watchdog_->EnableTimer(1, 0), wdt::kOk);
  EXPECT_EQ(watchdog_->EnableTimer(255, 0), wdt::kOk);
  EXPECT_EQ(watchdog_->WriteTimerValue(1), wdt::kOk);
  EXPECT_EQ(watchdog_->WriteTimerValue(255), wdt::kOk);
  EXPECT_EQ(Read(), 255u);
}

TEST_F(SimulatorTest, EveryCallWithoutAnOpenSessionFindsNoHandle) {
  std::uint32_t holder = 77;
  const auto all_refused = [&] {
    EXPECT_EQ(watchdog_->EnableTimer(30, 0), wdt::kNoHandle);
    EXPECT_EQ(watchdog_->DisableTimer(), wdt::kNoHandle);
    EXPECT_EQ(watchdog_->WriteTimerValue(30), wdt::kNoHandle);
    EXPECT_EQ(watchdog_->ReadTimerValue(&holder), wdt::kNoHandle);
    EXPECT_EQ(watchdog_->CloseSession(), wdt::kNoHandle);
    EXPECT_EQ(holder, 77u) << "a failed read leaves the holder untouched";
  };
  all_refused();
  ASSERT_EQ(watchdog_->InitializeSession(), wdt::kOk);
  EXPECT_EQ(watchdog_->InitializeSession(), wdt::kNoHandle) << "one session at a time";
  ASSERT_EQ(watchdog_->EnableTimer(30, 0), wdt::kOk);
  ASSERT_EQ(watchdog_->CloseSession(), wdt::kOk);
  all_refused();
  // The watchdog itself runs on without a session, and still runs out.
  now_ += 30s;
  EXPECT_EQ(watchdog_->ReadTimerValue(&holder), wdt::kNoHandle);
  EXPECT_EQ(Expiries(), 1);
  ASSERT_EQ(watchdog_->InitializeSession(), wdt::kOk);
  EXPECT_EQ(Read(), 0u);
}

TEST_F(SimulatorTest, InjectedFaultsReplaceTheirCallsOnly) {
  Make("EnableTimer#2=3,ReadTimerValue=1,CloseSession#1=-9");
  ASSERT_EQ(watchdog_->InitializeSession(), wdt::kOk);
  EXPECT_EQ(watchdog_->EnableTimer(5, 0), wdt::kOk);
  EXPECT_EQ(watchdog_->DisableTimer(), wdt::kOk);
  EXPECT_EQ(watchdog_->EnableTimer(30, 0), wdt::kBadParameter);
  EXPECT_EQ(watchdog_->EnableTimer(30, 0), wdt::kOk);
  std::uint32_t holder = 55;
  EXPECT_EQ(watchdog_->ReadTimerValue(&holder), wdt::kNoCommunication);
  EXPECT_EQ(watchdog_->ReadTimerValue(&holder), wdt::kNoCommunication);
  EXPECT_EQ(holder, 55u);
  EXPECT_EQ(watchdog_->CloseSession(), -9);
  EXPECT_EQ(watchdog_->WriteTimerValue(30), wdt::kOk) << "the failed close left the session open";
  EXPECT_EQ(watchdog_->CloseSession(), wdt::kOk);
  EXPECT_EQ(watchdog_->WriteTimerValue(30), wdt::kNoHandle);
}

TEST_F(SimulatorTest, AnInjectedFailureHasNoEffect) {
  Make("EnableTimer#1=1,WriteTimerValue#1=0");
  ASSERT_EQ(watchdog_->InitializeSession(), wdt::kOk);
  EXPECT_EQ(watchdog_->EnableTimer(30, 0), wdt::kNoCommunication);
  EXPECT_EQ(Read(), 0u) << "not armed";
  ASSERT_EQ(watchdog_->EnableTimer(30, 0), wdt::kOk);
  now_ += 20s;
  EXPECT_EQ(watchdog_->WriteTimerValue(30), wdt::kOk) << "reported success, but no reload";
  EXPECT_EQ(Read(), 10u);
}

TEST_F(SimulatorTest, ABadFaultListIsReportedOnceAndEveryCallReturnsBadParameter) {
  Make("EnableTimer#0=3");
  ASSERT_EQ(diagnostics_.size(), 1u);
  EXPECT_EQ(diagnostics_[0],
            "wdtDLL (simulated): WDT_SIM_FAULTS entry 1 'EnableTimer#0=3': call number is not a whole "
            "number from 1 to 4294967295; every operation returns 3 (bad parameter)\n");
  std::uint32_t holder = 9;
  EXPECT_EQ(watchdog_->InitializeSession(), wdt::kBadParameter);
  EXPECT_EQ(watchdog_->EnableTimer(30, 0), wdt::kBadParameter);
  EXPECT_EQ(watchdog_->DisableTimer(), wdt::kBadParameter);
  EXPECT_EQ(watchdog_->WriteTimerValue(30), wdt::kBadParameter);
  EXPECT_EQ(watchdog_->ReadTimerValue(&holder), wdt::kBadParameter);
  EXPECT_EQ(watchdog_->CloseSession(), wdt::kBadParameter);
  EXPECT_EQ(holder, 9u);
  EXPECT_EQ(diagnostics_.size(), 1u);
}

TEST_F(SimulatorTest, ABadBehaviourListIsReportedOnceAndEveryCallReturnsBadParameter) {
  Make("", false, "grant=0");
  ASSERT_EQ(diagnostics_.size(), 1u);
  EXPECT_EQ(diagnostics_[0],
            "wdtDLL (simulated): WDT_SIM_BEHAVIOUR entry 1 'grant=0': grant is not a whole number "
            "from 1 to 255; every operation returns 3 (bad parameter)\n");
  EXPECT_EQ(watchdog_->InitializeSession(), wdt::kBadParameter);
  EXPECT_EQ(watchdog_->DisableTimer(), wdt::kBadParameter);
  EXPECT_EQ(diagnostics_.size(), 1u);
}

// What each behaviour shows through one script: arm 30, 1 ms later a read; at
// 4.5 s a read, a reload with 20 and, 1 ms later, a read and a disarm; 2 s
// later a read. Then how long an arm for 10 takes to run out.
struct Lie {
  const char* behaviour;
  std::uint32_t armed, counted, reloaded, disarmed;
  Clock::duration runs_out;
};

class BehaviourTest : public SimulatorTest, public testing::WithParamInterface<Lie> {};

TEST_P(BehaviourTest, ShowsItsLieAndNothingElse) {
  const Lie& lie = GetParam();
  Make("", false, lie.behaviour);
  ASSERT_EQ(watchdog_->InitializeSession(), wdt::kOk);
  ASSERT_EQ(watchdog_->EnableTimer(30, 0), wdt::kOk);
  now_ += 1ms;
  EXPECT_EQ(Read(), lie.armed);
  now_ += 4499ms;
  EXPECT_EQ(Read(), lie.counted);
  EXPECT_EQ(watchdog_->WriteTimerValue(20), wdt::kOk);
  now_ += 1ms;
  EXPECT_EQ(Read(), lie.reloaded);
  EXPECT_EQ(watchdog_->DisableTimer(), wdt::kOk);
  now_ += 2s;
  EXPECT_EQ(Read(), lie.disarmed);
  EXPECT_EQ(Expiries(), 0);

  ASSERT_EQ(watchdog_->EnableTimer(10, 0), wdt::kOk);
  now_ += lie.runs_out - 1ns;
  Read();
  EXPECT_EQ(Expiries(), 0);
  now_ += 1ns;
  Read();
  EXPECT_EQ(Expiries(), 1);
  EXPECT_EQ(diagnostics_.size(), 1u) << "no other diagnostics";
}

INSTANTIATE_TEST_SUITE_P(
    Lies, BehaviourTest,
    testing::Values(Lie{"", 30, 26, 20, 20, 10s}, Lie{"round=up", 30, 26, 20, 20, 10s},
                    Lie{"round=down", 29, 25, 19, 19, 10s}, Lie{"frozen", 30, 30, 20, 20, 10s},
                    Lie{"rate=0.5", 30, 28, 20, 20, 20s}, Lie{"rate=2", 30, 21, 20, 20, 5s},
                    Lie{"grant=12", 12, 8, 12, 12, 10s}, Lie{"grant=8", 8, 4, 8, 8, 8s},
                    Lie{"ignore-reload", 30, 26, 26, 26, 10s},
                    Lie{"ignore-disarm", 30, 26, 20, 18, 10s}));

TEST_F(SimulatorTest, TraceShowsEveryCallWithItsArgumentsAndStatus) {
  Make("DisableTimer#1=-1", true);
  std::uint32_t holder = 0;
  watchdog_->EnableTimer(5, 0);
  watchdog_->InitializeSession();
  watchdog_->EnableTimer(5, 0);
  watchdog_->DisableTimer();
  watchdog_->WriteTimerValue(300);
  watchdog_->ReadTimerValue(&holder);
  watchdog_->CloseSession();
  EXPECT_EQ(diagnostics_, (std::vector<std::string>{
                              "EnableTimer(5, 0) -> 2\n",
                              "InitializeSession() -> 0\n",
                              "EnableTimer(5, 0) -> 0\n",
                              "DisableTimer() -> -1\n",
                              "WriteTimerValue(300) -> 3\n",
                              "ReadTimerValue() -> 0 (value 5)\n",
                              "CloseSession() -> 0\n",
                          }));
}

TEST(SimulatorThreads, TwoThreadsAndMoreAtOnceSeeOneConsistentWatchdog) {
  std::mutex lines_mutex;
  std::vector<std::string> lines;
  sim::Simulator watchdog(sim::Settings{}, Clock::now, [&](std::string_view line) {
    std::lock_guard lock(lines_mutex);
    lines.emplace_back(line);
  });
  ASSERT_EQ(watchdog.InitializeSession(), wdt::kOk);
  ASSERT_EQ(watchdog.EnableTimer(30, 0), wdt::kOk);
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 5000; ++i) {
        std::uint32_t value = 0;
        if (t % 2 == 0) {
          if (watchdog.ReadTimerValue(&value) != 0 || value < 25 || value > 30) ++bad;
        } else if (watchdog.WriteTimerValue(30) != 0) {
          ++bad;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(bad, 0);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(watchdog.DisableTimer(), wdt::kOk);
  EXPECT_EQ(watchdog.CloseSession(), wdt::kOk);
}

}  // namespace
