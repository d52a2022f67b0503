// The soak: the q road and a failure road run back to back as real
// processes, in the test build whose sleeps return at once (the library
// answers at once anyway). Built under ThreadSanitizer, any race in either
// road shows as a report in a run's standard error. WDT_SOAK_RUNS sets the
// number of runs of each road (20 by default; CI's soak runs 1000).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "counted_run.h"

namespace hostile {
namespace {

int Runs() {
  const char* runs = std::getenv("WDT_SOAK_RUNS");
  return runs != nullptr ? std::atoi(runs) : 20;
}

// Every run ends with the process's exit while the monitor still runs;
// ThreadSanitizer's default second of sleep at exit, kept for races at exit,
// would make a thousand runs take over half an hour. A short one still lets
// the monitor run on while the process goes down.
std::vector<std::string> WithShortExitSleep(std::vector<std::string> env) {
  const char* options = std::getenv("TSAN_OPTIONS");
  std::string value = options != nullptr ? options : "";
  if (value.find("atexit_sleep_ms") == std::string::npos) {
    value += (value.empty() ? "" : ":") + std::string("atexit_sleep_ms=10");
  }
  env.push_back("TSAN_OPTIONS=" + value);
  return env;
}

// One run: the keys all at once, then the end of input. Passes back the
// wait status so the loop can stop at the first bad run.
::testing::AssertionResult RunOnce(int run_number, const std::string& keys,
                               const std::vector<std::string>& env,
                               const std::function<bool(const ChildProcess&)>& road_taken) {
  ChildProcess run({WDT_EXERCISER_INSTANT_PATH}, Counted({.env = WithShortExitSleep(env)}));
  run.Send(keys);
  run.CloseInput();
  const int status = run.Wait(60s);
  if (status == -1) {
    return ::testing::AssertionFailure() << "run " << run_number << " hung" << run.Describe();
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || SanitizerReports(run) != 0 ||
      !road_taken(run)) {
    return ::testing::AssertionFailure()
           << "run " << run_number << ": wait status " << status << run.Describe();
  }
  return ::testing::AssertionSuccess();
}

TEST(SoakTest, TheQRoadAgainAndAgain) {
  for (int i = 1; i <= Runs(); ++i) {
    ASSERT_TRUE(RunOnce(i, "abq", {"WDT_TRACE=1"}, [](const ChildProcess& run) {
      return run.OutCount(kPrompt) == 3 && run.OutCount(kClosed) == 1 &&
             run.ErrCount(kReload) == 3 && run.ErrCount(kDisable) == 2 && run.ErrCount(kClose) == 1;
    }));
  }
}

TEST(SoakTest, AFailedReloadAgainAndAgain) {
  // The second reload fails: its line, the status line, then the pause
  // takes the next key; nothing is disarmed or closed.
  for (int i = 1; i <= Runs(); ++i) {
    ASSERT_TRUE(RunOnce(i, "ax", {"WDT_TRACE=1", "WDT_SIM_FAULTS=WriteTimerValue#2=1"},
                    [](const ChildProcess& run) {
                      return run.OutCount(kPrompt) == 1 && run.OutCount(kFailedReload) == 1 &&
                             run.OutCount(kNoCommunication) == 1 && run.OutCount(kPause) == 1 &&
                             run.OutCount(kClosed) == 0 && run.ErrCount(kDisable) == 1 &&
                             run.ErrCount(kClose) == 0;
                    }));
  }
}

}  // namespace
}  // namespace hostile
