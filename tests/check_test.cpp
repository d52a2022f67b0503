// wdt-check's checks against the simulated watchdog on a fake clock: the
// countdown's judging over recorded edges, the 2-second margin, the cleanup
// after every failure, after a stop and after a stall; its output and its
// command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "arguments.h"
#include "countdown.h"
#include "fake_sysfs.h"
#include "fakes.h"
#include "junit.h"
#include "list.h"
#include "output.h"
#include "pretimeout_bark.h"
#include "reset_proof/after_reset.h"
#include "reset_proof/suspend.h"
#include "reset_proof/hang.h"
#include "run.h"
#include "simulated_library.h"

namespace {

using check::Result;
using check::Verdict;

class CheckTest : public testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    g_pretimeout_set_at.reset();
  }

  // The simulated watchdog stands in for a kernel device here, unless a
  // test says how the library describes its watchdog (watchdog_).
  check::Report Run(check::Settings settings = {}) {
    if (settings.watchdog == check::Watchdog{}) settings.watchdog = watchdog_;
    wdt::Operations wdt = fake::Simulated();
    wdt.set_pretimeout = SetPretimeout;
    wdt.accept_pretimeout = AcceptPretimeout;
    const check::Seam seam{
        .wdt = wdt,
        .time = {.now = [] { return fake::TheClock().Now(); },
                 .sleep = [](check::Clock::duration d) { fake::TheClock().Sleep(d); },
                 .stop_requested = [this] { return stop_; }},
        .output = {.judged = nullptr, .said = [](std::string_view line) { fake::Log("said " + std::string(line)); }},
        .reset = {
            .wall_now =
                [this] {
                  return 1.7e9 + wall_step_ + std::chrono::duration<double>(fake::TheClock().Elapsed()).count();
                },
            .boot_id = [] { return std::optional<std::string>("boot-1"); },
            .write_record = [this](std::string_view text) {
              if (write_takes_ > check::Clock::duration::zero()) fake::TheClock().Sleep(write_takes_);
              records_.emplace_back(text);
              return std::string();
            },
            .write_in_place = [this](std::string_view bytes, std::size_t offset) {
              if (write_takes_ > check::Clock::duration::zero()) fake::TheClock().Sleep(write_takes_);
              if (records_.empty() || offset + bytes.size() > records_.back().size()) {
                return std::string("no such place");
              }
              records_.push_back(records_.back());
              records_.back().replace(offset, bytes.size(), bytes);
              return std::string();
            },
            .read_record = [this](std::string* text) {
              *text = records_.empty() ? "" : records_.back();
              return std::string();
            }},
        .kernel = {
            .facts_of = [this](const std::string&) { return device_; },
            .set_governor = [](const std::string& watchdog, std::string_view governor) {
              fake::Log("governor " + watchdog + " " + std::string(governor));
              return std::string();
            },
            .watch_log = [this] { return kernel_log_error_; },
            .logged = [this](std::string_view message) -> std::optional<check::Clock::time_point> {
              if (!bark_after_ || !g_pretimeout_set_at || message != "watchdog0: pretimeout event") return std::nullopt;
              const auto at = *g_pretimeout_set_at + std::chrono::duration_cast<check::Clock::duration>(
                                                         std::chrono::duration<double>(*bark_after_));
              return fake::TheClock().Now() >= at ? std::optional(at) : std::nullopt;
            }},
        .sleep = sleep_,
        .crash = {
            .setting = [this](const char* name) { return std::optional(kernel_[name]); },
            .set = [this](const char* name, const std::string& value) {
              fake::Log(std::string(name) + " " + value);
              kernel_[name] = value;
              return std::string();
            },
            .crash = [] {
              fake::Log("crash");
              return std::string("the crash came back");
            },
            .boot_began = [] { return std::variant<double, std::string>(std::string("no RTC")); }}};
    return check::RunChecks(settings, seam);
  }

  // The library's optional operation, on the fake clock: the bark is timed
  // from the reload that follows it at once.
  static StatusCode AcceptPretimeout() {
    fake::Log("AcceptPretimeout()");
    return 0;
  }
  static StatusCode SetPretimeout(std::uint32_t seconds) {
    fake::Log("SetPretimeout(" + std::to_string(seconds) + ")");
    if (seconds > 0) g_pretimeout_set_at = fake::TheClock().Now();
    return 0;
  }
  static inline std::optional<check::Clock::time_point> g_pretimeout_set_at;
  std::optional<double> bark_after_;  // when the kernel logs the event after the pretimeout is set
  std::string kernel_log_error_;

  // The calls other than reads, without their statuses.
  static std::vector<std::string> Calls() {
    std::vector<std::string> calls;
    for (const std::string& event : fake::Events()) {
      if (event.rfind("ReadTimerValue", 0) != 0) calls.push_back(event.substr(0, event.find(" -> ")));
    }
    return calls;
  }

  // The whole report as TAP, for failure messages.
  static std::string Tap(const check::Report& report) {
    std::string tap;
    for (std::size_t i = 0; i < report.checks.size(); ++i) tap += check::TapLine(report.checks[i], i + 1);
    return tap;
  }

  static std::string Figure(const check::Check& check, const std::string& name) {
    for (const auto& figure : check.figures) {
      if (figure.name == name) return figure.value;
    }
    return "";
  }

  std::string stop_;  // what asked the run to stop, empty while nothing did
  std::optional<sysfs::Facts> device_;  // what sysfs says of the device now
  check::Watchdog watchdog_{.kind = check::Watchdog::Kind::kDevice, .node = "/dev/watchdog0"};
  check::Seam::Sleep sleep_{};          // the machine's sleep, for --suspend
  std::vector<std::string> records_;     // the reset record, as each write left it
  double wall_step_ = 0;                 // the wall clock set forward (back) by so much
  check::Clock::duration write_takes_{}; // each write of the record
  std::map<std::string, std::string> kernel_{{"panic", "10"}, {"sysrq", "0"}};  // its settings
};

class HonestTest : public CheckTest, public testing::WithParamInterface<bool> {};

TEST_P(HonestTest, PassesEveryCheckWithinTenSeconds) {
  const bool round_down = GetParam();
  fake::UseSimulator("", round_down ? "round=down" : "");
  const check::Report report = Run();
  ASSERT_EQ(report.verdict, Verdict::kPass) << Tap(report);
  EXPECT_EQ(report.checks[1].detail, round_down ? "asked 30, read 29" : "asked 30, read 30");
  EXPECT_NEAR(std::stod(Figure(report.checks[2], "seconds_per_unit")), 1.0, 0.005);
  EXPECT_EQ(report.checks[3].detail, round_down ? "wrote 20, read 19; wrote 30, read 29"
                                                : "wrote 20, read 20; wrote 30, read 30");
  EXPECT_EQ(Calls(), (std::vector<std::string>{"InitializeSession()", "EnableTimer(30, 0)", "WriteTimerValue(20)",
                                               "WriteTimerValue(30)", "DisableTimer()", "CloseSession()"}));
  EXPECT_LE(fake::TheClock().Elapsed(), std::chrono::seconds(10));
  EXPECT_EQ(check::ExitStatus(report.verdict), 0);
}

INSTANTIATE_TEST_SUITE_P(Roundings, HonestTest, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Down" : "Up"; });

// The countdown's judging, on what a watch recorded: the changes from
// `first` one unit every `seconds_per_unit` from `offset` on.
check::Watch Recorded(std::uint32_t first, double seconds_per_unit, std::size_t changes, double offset,
                      double observed, bool cut = false) {
  check::Watch watch{first, first, observed, {}, cut};
  for (std::size_t i = 0; i < changes; ++i) {
    watch.edges.push_back({offset + static_cast<double>(i) * seconds_per_unit, --watch.last});
  }
  return watch;
}

struct Judging {
  const char* name;
  check::Watch watch;
  double tolerance_pct;
  Result result;
  const char* detail;
  friend void PrintTo(const Judging& judging, std::ostream* os) { *os << judging.name; }
};

class JudgingTest : public testing::TestWithParam<Judging> {};

TEST_P(JudgingTest, TheCountdownIsJudgedOnWhatWasWatched) {
  const Judging& row = GetParam();
  const check::Check judged = check::JudgeCountdown(row.watch, {.tolerance_pct = row.tolerance_pct});
  EXPECT_EQ(judged.result, row.result);
  EXPECT_EQ(judged.detail, row.detail);
}

INSTANTIATE_TEST_SUITE_P(
    Watches, JudgingTest,
    testing::Values(
        Judging{"Honest", Recorded(30, 1, 5, 0.5, 5), 5, Result::kPass, "1.000 s per unit over 5 edges (tolerance 5 %)"},
        Judging{"RoundedDown", Recorded(29, 1, 5, 0.001, 5), 5, Result::kPass,
                "1.000 s per unit over 5 edges (tolerance 5 %)"},
        Judging{"SlowWithin", Recorded(30, 1.04, 5, 0.5, 5), 5, Result::kPass,
                "1.040 s per unit over 5 edges (tolerance 5 %)"},
        Judging{"SlowBeyond", Recorded(30, 1.06, 5, 0.5, 5), 5, Result::kFail,
                "1.060 s per unit over 5 edges (tolerance 5 %)"},
        Judging{"SlowWithinAWiderTolerance", Recorded(30, 1.06, 5, 0.5, 5), 7, Result::kPass,
                "1.060 s per unit over 5 edges (tolerance 7 %)"},
        Judging{"FastBeyond", Recorded(30, 0.94, 5, 0.5, 5), 5, Result::kFail,
                "0.940 s per unit over 5 edges (tolerance 5 %)"},
        Judging{"Frozen", Recorded(30, 1, 0, 0, 1.5), 5, Result::kFail, "stayed at 30 for 1.5 s after the arm"},
        Judging{"Rose", check::Watch{29, 30, 2, {{0.5, 28}, {1.5, 30}}, false}, 5, Result::kFail,
                "rose from 28 while armed, in 2.0 s"},
        Judging{"OneChangeBeforeTheMargin", Recorded(5, 1, 1, 0.5, 1.2, true), 5, Result::kSkip,
                "1 edge in 1.2 s before the 2 s margin: too short to measure; a longer --timeout gives room"},
        Judging{"LateFirstChange", Recorded(30, 1, 4, 1.3, 5), 5, Result::kFail,
                "stayed at 30 for 1.3 s after the arm: a unit takes at most 1.05 s"},
        // The lies that a fit through the changes alone would pass.
        Judging{"Stalled", Recorded(30, 1, 2, 0.5, 3), 5, Result::kFail,
                "stayed at 28 for 1.5 s: a unit takes at most 1.05 s"},
        Judging{"Jumped", check::Watch{30, 21, 5, {{0.5, 25}, {1.5, 24}, {2.5, 23}, {3.5, 22}, {4.5, 21}}}, 5,
                Result::kFail, "from 30 to 21 in 5.0 s: not one unit a second (tolerance 5 %)"},
        // Steps of 0.6 s, shown rounded down, as some chipsets count.
        Judging{"Stepped", check::Watch{30, 25, 5, {{0.6, 29}, {1.2, 28}, {2.4, 27}, {3.6, 26}, {4.2, 25}}}, 5,
                Result::kPass, "rate not judged: 5 edges in 3.6 s cannot resolve 5 %; from 30 to 25 in 5.0 s"},
        // A counter of 0.6-s ticks shown rounded down, cut short ahead of a
        // pretimeout: its few edges cannot resolve the rate, which is not
        // judged; the rest still is.
        Judging{"TicksCutAtTwo", check::Watch{9, 7, 1.85, {{1.2, 8, 0.0025}, {1.8, 7, 0.0025}}, true, 0.001}, 5,
                Result::kPass, "rate not judged: 2 edges in 0.6 s cannot resolve 5 %; from 9 to 7 in 1.9 s"},
        Judging{"TicksCutAtThree",
                check::Watch{9, 6, 3.05, {{1.2, 8, 0.0025}, {1.8, 7, 0.0025}, {3.0, 6, 0.0025}}, true, 0.001}, 5,
                Result::kPass, "rate not judged: 3 edges in 1.8 s cannot resolve 5 %; from 9 to 6 in 3.0 s"},
        Judging{"TicksCutAtFour",
                check::Watch{9, 5, 4.25, {{1.2, 8, 0.0025}, {1.8, 7, 0.0025}, {3.0, 6, 0.0025}, {4.2, 5, 0.0025}},
                             true, 0.001},
                5, Result::kPass, "rate not judged: 4 edges in 3.0 s cannot resolve 5 %; from 9 to 5 in 4.2 s"},
        Judging{"FastByTenPercent", Recorded(30, 0.909, 5, 0.5, 5), 5, Result::kFail,
                "0.909 s per unit over 5 edges (tolerance 5 %)"}),
    [](const auto& info) { return std::string(info.param.name); });

// The same on the simulated watchdog, end to end.
struct Rate {
  const char* behaviour;
  Result expected;
};

class RateTest : public CheckTest, public testing::WithParamInterface<Rate> {};

TEST_P(RateTest, TheCountdownIsJudgedBetweenItsEdges) {
  fake::UseSimulator("", GetParam().behaviour);
  const check::Report report = Run();
  EXPECT_EQ(report.checks[2].result, GetParam().expected) << report.checks[2].detail;
  EXPECT_GE(fake::LeastSecondsLeft(), 2.0);
}

INSTANTIATE_TEST_SUITE_P(Rates, RateTest,
                         testing::Values(Rate{"rate=0.961538", Result::kPass}, Rate{"rate=1.06383", Result::kFail},
                                         Rate{"rate=2", Result::kFail}, Rate{"rate=0.5", Result::kFail},
                                         Rate{"frozen", Result::kFail}, Rate{"stall=2.5", Result::kFail},
                                         Rate{"jump=5", Result::kFail}, Rate{"frozen,rate=6", Result::kFail},
                                         // Steps of 0.6 s, shown rounded down, as some chipsets count.
                                         Rate{"step=0.6,round=down", Result::kPass},
                                         Rate{"rate=0.909091,step=0.6,round=down", Result::kFail}));

struct Margin {
  std::uint32_t timeout;
  const char* behaviour;
  Result countdown;
};

class MarginTest : public CheckTest, public testing::WithParamInterface<Margin> {};

TEST_P(MarginTest, AnArmedWatchdogNeverComesWithinTwoSecondsOfRunningOut) {
  fake::UseSimulator("", GetParam().behaviour);
  const check::Report report = Run({.timeout = GetParam().timeout});
  EXPECT_GE(fake::LeastSecondsLeft(), 2.0);
  EXPECT_FALSE(fake::Armed());
  EXPECT_EQ(report.checks[2].result, GetParam().countdown) << report.checks[2].detail;
}

// A pretimeout that the run did not ask to fire is the earlier expiry: every
// margin is kept from it, a load too close to it is not made.
struct PretimeoutMargin {
  std::uint32_t timeout, pretimeout;
  Result arm, countdown, reload;
  const char* detail;  // of the first check that is not passed
};

class PretimeoutMarginTest : public CheckTest, public testing::WithParamInterface<PretimeoutMargin> {};

TEST_P(PretimeoutMarginTest, IsKeptFromThePretimeout) {
  const PretimeoutMargin& row = GetParam();
  check::Settings settings{.timeout = row.timeout};
  settings.device = sysfs::Facts{.name = "watchdog0", .reports_timeleft = true, .pretimeout = row.pretimeout};
  const check::Report report = Run(settings);
  EXPECT_GE(fake::LeastSecondsLeft() - row.pretimeout, 2.0);
  EXPECT_FALSE(fake::Armed());
  EXPECT_EQ(std::vector<Result>({report.checks[1].result, report.checks[2].result, report.checks[3].result}),
            std::vector<Result>({row.arm, row.countdown, row.reload}))
      << Tap(report);
  const auto first = std::find_if(report.checks.begin(), report.checks.end(),
                                  [](const auto& c) { return c.result != Result::kPass; });
  EXPECT_EQ(first == report.checks.end() ? "" : first->detail, row.detail);
}

INSTANTIATE_TEST_SUITE_P(
    Pretimeouts, PretimeoutMarginTest,
    testing::Values(PretimeoutMargin{30, 5, Result::kPass, Result::kPass, Result::kPass, ""},
                    PretimeoutMargin{30, 27, Result::kSkip, Result::kSkip, Result::kSkip,
                                     "the pretimeout of 27 s fires 3 s after a load of 30, too soon to keep 2.5 s "
                                     "from it; a longer --timeout gives room"},
                    PretimeoutMargin{10, 5, Result::kPass, Result::kSkip, Result::kPass,
                                     "1 edge in 1.3 s before the 2 s margin ahead of the pretimeout (5 s): too "
                                     "short to measure; a longer --timeout gives room"},
                    PretimeoutMargin{25, 12, Result::kPass, Result::kPass, Result::kSkip,
                                     "the pretimeout of 12 s fires 3 s after a load of 15, too soon to keep 2.5 s "
                                     "from it; a longer --timeout gives room"}));

INSTANTIATE_TEST_SUITE_P(Margins, MarginTest,
                         testing::Values(Margin{5, "", Result::kSkip}, Margin{7, "", Result::kPass},
                                         Margin{30, "grant=12", Result::kPass}, Margin{30, "grant=4", Result::kSkip},
                                         Margin{30, "rate=5", Result::kFail}, Margin{10, "rate=2", Result::kFail}));

struct Failure {
  const char* fault;  // in WDT_SIM_FAULTS's grammar
  const char* check;  // the check that fails, with its detail
  const char* detail;
};

class FailureTest : public CheckTest, public testing::WithParamInterface<Failure> {};

TEST_P(FailureTest, IsReportedWithItsStatusLineAndTheSessionIsStillDisarmedAndClosed) {
  fake::UseSimulator(GetParam().fault);
  const check::Report report = Run();
  const auto failed = std::find_if(report.checks.begin(), report.checks.end(),
                                   [](const auto& c) { return c.result == Result::kFail; });
  ASSERT_NE(failed, report.checks.end());
  EXPECT_EQ(failed->name + ": " + failed->detail, std::string(GetParam().check) + ": " + GetParam().detail);
  EXPECT_EQ(report.verdict, Verdict::kFail);
  const std::vector<std::string> calls = Calls();
  EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
            (std::vector<std::string>{"DisableTimer()", "CloseSession()"}));
  EXPECT_GE(fake::LeastSecondsLeft(), 2.0);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, FailureTest,
    testing::Values(Failure{"EnableTimer#1=3", "arm", "EnableTimer(30, 0) returned 3: Bad parameter"},
                    Failure{"ReadTimerValue#1=1", "arm", "ReadTimerValue() returned 1: Failed to communicate with driver"},
                    Failure{"ReadTimerValue#40=-4", "countdown", "ReadTimerValue() returned -4: Unkown error!"},
                    Failure{"WriteTimerValue#1=2", "reload", "WriteTimerValue(20) returned 2: Failed to obtain handle to driver"},
                    Failure{"WriteTimerValue#2=3", "reload", "WriteTimerValue(30) returned 3: Bad parameter"},
                    Failure{"DisableTimer#1=1", "disarm", "DisableTimer() returned 1: Failed to communicate with driver"},
                    Failure{"CloseSession#1=7", "close", "CloseSession() returned 7: Unkown error!"}));

// The consent to a pretimeout comes before the open, and only where sysfs
// shows one that the margins are planned against.
struct Consent {
  std::optional<long> pretimeout;  // as sysfs shows it; none: no device facts
  bool given;
};

class ConsentTest : public CheckTest, public testing::WithParamInterface<Consent> {};

TEST_P(ConsentTest, IsGivenBeforeTheOpenWhereSysfsShowsAPretimeout) {
  check::Settings settings;
  if (GetParam().pretimeout) {
    settings.device = sysfs::Facts{.name = "watchdog0", .reports_timeleft = true, .pretimeout = GetParam().pretimeout};
  }
  const check::Report report = Run(settings);
  EXPECT_EQ(report.verdict, Verdict::kPass) << Tap(report);
  const std::vector<std::string> calls = Calls();
  const std::vector<std::string> opening =
      GetParam().given ? std::vector<std::string>{"AcceptPretimeout()", "InitializeSession()", "EnableTimer(30, 0)"}
                       : std::vector<std::string>{"InitializeSession()", "EnableTimer(30, 0)"};
  ASSERT_GE(calls.size(), opening.size());
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + opening.size()), opening);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "AcceptPretimeout()"), GetParam().given ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Pretimeouts, ConsentTest,
                         testing::Values(Consent{std::nullopt, false}, Consent{0, false}, Consent{5, true},
                                         Consent{-1, false}));

TEST_F(CheckTest, ASessionThatDoesNotOpenCannotRunAndCallsNothingElse) {
  fake::UseSimulator("InitializeSession#1=2");
  const check::Report report = Run();
  EXPECT_EQ(report.verdict, Verdict::kCannotRun);
  EXPECT_EQ(check::ExitStatus(report.verdict), 2);
  EXPECT_EQ(Calls(), std::vector<std::string>{"InitializeSession()"});
  EXPECT_EQ(report.checks.size(), 6u);
  EXPECT_EQ(report.checks[5].result, Result::kSkip);
}

// At a time of the run, a stop signal comes (no stall) or the clock jumps.
struct Halt {
  const char* name;
  std::chrono::seconds at;
  check::Clock::duration stall;
  const char* why;  // what ended the run early; empty: nothing did, it passes
};

class HaltTest : public CheckTest, public testing::WithParamInterface<Halt> {};

TEST_P(HaltTest, WhileArmedSkipsTheRestAndDisarmsAtOnce) {
  const Halt& halt = GetParam();
  fake::FakeClock& clock = fake::TheClock();
  clock.after_sleep = [&, halted = false]() mutable {
    if (halted || clock.Elapsed() < halt.at) return;
    halted = true;
    if (halt.stall == check::Clock::duration::zero()) stop_ = "a signal";
    clock.Sleep(halt.stall);
  };
  const check::Report report = Run();
  EXPECT_FALSE(fake::Armed());
  EXPECT_GE(fake::LeastSecondsLeft(), 2.0);
  EXPECT_EQ(report.stopped, halt.why);
  EXPECT_EQ(report.verdict, *halt.why ? Verdict::kCannotRun : Verdict::kPass) << Tap(report);
  if (*halt.why == '\0') return;
  EXPECT_EQ(report.checks[2].detail, halt.why);
  EXPECT_EQ(report.checks[4].detail, "DisableTimer() returned 0; not watched: " + std::string(halt.why));
  EXPECT_EQ(Calls(), (std::vector<std::string>{"InitializeSession()", "EnableTimer(30, 0)",
                                               "DisableTimer()", "CloseSession()"}));
  EXPECT_LT(clock.Elapsed(), halt.at + halt.stall + std::chrono::milliseconds(100));
}

INSTANTIATE_TEST_SUITE_P(
    Halts, HaltTest,
    testing::Values(Halt{"StopSignal", std::chrono::seconds(2), {}, "stopped by a signal"},
                    Halt{"Stall", std::chrono::seconds(2), std::chrono::seconds(3), "stalled for 3.0 s"},
                    Halt{"GapWithinTheSlack", std::chrono::seconds(2), check::kSlack - std::chrono::milliseconds(10), ""},
                    Halt{"StallOnceDisarmed", std::chrono::seconds(6), std::chrono::seconds(3), ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A driver without time left of its own (softdog, i6300esb): what reads back
// is the library's count, so the countdown is not measured and the disarm is
// judged on the kernel's state.
TEST_F(CheckTest, WhereTheDriverReportsNoTimeLeftTheKernelsStateJudgesTheDisarm) {
  check::Settings settings;
  settings.device = sysfs::Facts{.name = "watchdog0", .reports_timeleft = false};
  for (const auto& [state, result, detail] : std::vector<std::tuple<std::optional<std::string>, Result, std::string>>{
           {"inactive", Result::kPass, "DisableTimer() returned 0; the kernel reports the watchdog inactive"},
           {"active", Result::kFail, "DisableTimer() returned 0; the kernel reports the watchdog active"},
           {std::nullopt, Result::kSkip,
            "DisableTimer() returned 0; nothing to judge it on: the driver reports no time left and the kernel "
            "no state"}}) {
    fake::Reset();
    device_ = sysfs::Facts{.name = "watchdog0", .state = state};
    const check::Report report = Run(settings);
    EXPECT_EQ(report.checks[1].detail, "asked 30, read 30; counted by the library: the driver reports no time left");
    EXPECT_EQ(report.checks[2].detail, "the driver reports no time left: the value is counted by the library");
    EXPECT_EQ(report.checks[4].result, result);
    EXPECT_EQ(report.checks[4].detail, detail);
    EXPECT_EQ(check::TapSummary(report).substr(0, check::TapSummary(report).find('\n')),
              "# measured on the hardware: 0 of 6 checks; the library's own count: arm, reload" +
                  std::string(state ? "; the kernel's state: disarm" : ""));
  }
}

TEST_F(CheckTest, ADisarmThatANowayoutDriverRefusesSaysWhenTheMachineResets) {
  fake::UseSimulator("DisableTimer#1=1");
  check::Settings settings;
  settings.device = sysfs::Facts{.name = "watchdog0", .nowayout = true};
  const check::Report report = Run(settings);
  ASSERT_TRUE(report.left_running_s.has_value());
  EXPECT_GE(*report.left_running_s, 25u);
  const std::string warning = "the driver was loaded with nowayout: the watchdog is left running and resets the "
                              "machine in " + std::to_string(*report.left_running_s) + " s unless something feeds it";
  EXPECT_EQ(check::TapSummary(report).rfind("# warning: " + warning + "\n# measured on the hardware: ", 0), 0u);
  EXPECT_NE(check::Json(report, settings).find("\"left_running_s\": " + std::to_string(*report.left_running_s) +
                                                ", \"warning\": \"" + warning + "\"}"),
            std::string::npos);
}

// The reset proof's first half on the simulation, which cannot reset: the
// record on disk before the last reload, alive a beat at a time, and how the
// wait ended; the watchdog disarmed and closed on every road.
struct Expiry {
  const char* name;
  const char* behaviour;
  std::chrono::seconds stop_at;  // a stop signal then; 0: none
  const char* reload;            // the reload check's result and the expire check's detail
  const char* expire;
  check::ResetRecord::State state;
  double wall_step = 0;  // the wall clock set so far forward 8 s into the run
  std::chrono::milliseconds write{};  // each write of the record takes so long
  double bound = 0.1;    // the last beat's bound on the reset
  const char* said = nullptr;
};

class ExpireTest : public CheckTest, public testing::WithParamInterface<Expiry> {};

TEST_P(ExpireTest, TheRecordSaysHowTheWaitEnded) {
  const Expiry& row = GetParam();
  fake::UseSimulator("", row.behaviour);
  fake::TheClock().after_sleep = [&] {
    if (row.stop_at.count() > 0 && fake::TheClock().Elapsed() >= row.stop_at) stop_ = "a signal";
    if (fake::TheClock().Elapsed() >= std::chrono::seconds(8)) wall_step_ = row.wall_step;
  };
  write_takes_ = row.write;
  const check::Report report = Run({.mode = check::Mode::kExpire, .timeout = 5});
  ASSERT_EQ(report.checks.size(), 6u);
  EXPECT_EQ(report.checks[2].detail.substr(0, std::string_view(row.reload).size()), row.reload) << Tap(report);
  EXPECT_EQ(report.checks[3].detail, row.expire);
  const std::vector<std::string> calls = Calls();
  EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
            (std::vector<std::string>{"DisableTimer()", "CloseSession()"}));
  ASSERT_GE(records_.size(), 2u);
  const auto first = std::get<check::ResetRecord>(check::ParseRecord(records_.front()));
  const auto last = std::get<check::ResetRecord>(check::ParseRecord(records_.back()));
  EXPECT_EQ(first.state, check::ResetRecord::State::kWaiting);
  EXPECT_EQ(last.state, row.state);
  EXPECT_EQ(std::tuple(last.window_from_s, last.window_until_s), std::tuple(4.0, 20.0));
  EXPECT_LE(last.alive_s, last.window_until_s);
  if (last.state == check::ResetRecord::State::kAbandoned) return;
  EXPECT_GE(last.alive_s, 19.5);
  EXPECT_NEAR(last.next_by_s - last.alive_s, row.bound, 0.002);
  EXPECT_NEAR(last.wall_step_s, row.wall_step, 0.01);
  if (row.said) {
    const std::vector<std::string> events = fake::Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), std::string("said ") + row.said), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Roads, ExpireTest,
    testing::Values(Expiry{"NoReset", "", {}, "fell to 4, wrote 5, read 5",
                           "armed 5 s, still alive after 20 s: the watchdog did not reset the machine",
                           check::ResetRecord::State::kNoReset},
                    Expiry{"ReloadIgnored", "ignore-reload", {}, "fell to 4, wrote 5, read 4",
                           "the last reload did not read back: not worth letting run out",
                           check::ResetRecord::State::kAbandoned},
                    Expiry{"StoppedWhileWaiting", "", std::chrono::seconds(8), "fell to 4, wrote 5, read 5",
                           "stopped by a signal", check::ResetRecord::State::kAbandoned},
                    Expiry{"WallClockSetForward", "", {}, "fell to 4, wrote 5, read 5",
                           "armed 5 s, still alive after 20 s: the watchdog did not reset the machine",
                           check::ResetRecord::State::kNoReset, 3600, {}, 0.1,
                           "the wall clock was set forward 3600 s while waiting"},
                    Expiry{"WallClockSetBack", "", {}, "fell to 4, wrote 5, read 5",
                           "armed 5 s, still alive after 20 s: the watchdog did not reset the machine",
                           check::ResetRecord::State::kNoReset, -3600, {}, 0.1,
                           "the wall clock was set back 3600 s while waiting"},
                    Expiry{"SlowDisk", "", {}, "fell to 4, wrote 5, read 5",
                           "armed 5 s, still alive after 20 s: the watchdog did not reset the machine",
                           check::ResetRecord::State::kNoReset, 0, std::chrono::milliseconds(300), 0.6}),
    [](const auto& info) { return std::string(info.param.name); });

// Across a sleep on the simulation, which neither sleeps nor resets: the
// record says the sleep's state, length and entry, its last beat, before the
// machine sleeps; the wake alarm is set and put back; the sleep's length is
// the boot clock's lead on the monotonic one; the reload after the resume
// counts down; the expire says that the driver lost the watchdog.
TEST_F(CheckTest, ASleepIsOnDiskBeforeItAndJudgedAfterIt) {
  double boot = 100;
  std::vector<std::string> before_sleep;
  sleep_ = {.mem_sleep = [] { return std::string("deep"); },
            .set_wake_alarm = [](unsigned seconds, std::string* previous) {
              fake::Log("wake alarm +" + std::to_string(seconds));
              *previous = "1700000999";
              return std::string();
            },
            .put_back_wake_alarm = [](const std::string& previous) {
              fake::Log("wake alarm " + previous);
              return std::string();
            },
            .sleep = [&](std::string_view state) {
              before_sleep = records_;
              boot += 25.5;
              fake::Log("sleep " + std::string(state));
              return std::string();
            },
            .boot_clock = [&] { return boot + std::chrono::duration<double>(fake::TheClock().Elapsed()).count(); }};
  const check::Report report = Run({.mode = check::Mode::kSuspend, .timeout = 5, .suspend = "mem", .suspend_for = 25});
  ASSERT_EQ(report.checks.size(), 8u) << Tap(report);
  EXPECT_EQ(report.checks[3].detail,
            "slept 25.5 s in mem (deep) (the boot clock against the monotonic one), armed 5 s: no reset meanwhile");
  EXPECT_EQ(report.checks[4].result, Result::kPass) << report.checks[4].detail;
  EXPECT_EQ(report.checks[4].detail.substr(0, 28), "wrote 5 after the resume, re");
  EXPECT_EQ(report.checks[5].detail, "armed 5 s, still alive after 20 s: the watchdog did not reset the machine after "
                                     "a suspend (mem): the driver lost it on the resume");
  ASSERT_FALSE(before_sleep.empty());
  const auto entry = std::get<check::ResetRecord>(check::ParseRecord(before_sleep.back()));
  EXPECT_EQ(std::tuple(entry.suspend, entry.suspend_for_s, entry.slept_s), std::tuple("mem", 25.0, 0.0));
  EXPECT_EQ(entry.alive_s, entry.suspend_at_s);
  EXPECT_EQ(entry.next_by_s, entry.alive_s + 25);
  const auto last = std::get<check::ResetRecord>(check::ParseRecord(records_.back()));
  EXPECT_NEAR(last.slept_s, 25.5, 0.001);
  std::vector<std::string> sleep;
  for (const std::string& event : fake::Events()) {
    if (event.starts_with("wake alarm") || event.starts_with("sleep ")) sleep.push_back(event);
  }
  EXPECT_EQ(sleep, (std::vector<std::string>{"wake alarm +25", "sleep mem", "wake alarm 1700000999"}));
}

// The second half's verdicts on records: the reset's time against the
// window, the boot, the driver's word on the cause.
check::ResetRecord Reset(double alive_after, check::ResetRecord::State state = check::ResetRecord::State::kWaiting,
                         double wall_step = 0, int version = 2) {
  check::ResetRecord record;
  record.version = version;
  record.device = "/dev/watchdog1";
  record.identity = "i6300ESB timer";
  record.timeout_s = 10;
  record.boot_id = "boot-1";
  record.reloaded_at = 1000;
  record.alive_at = 1000 + alive_after + wall_step;
  record.window_from_s = 9;
  record.window_until_s = 30;
  record.alive_s = alive_after;
  record.next_by_s = alive_after + (version == 1 ? 1 : 0.18);
  record.wall_step_s = wall_step;
  record.state = state;
  return record;
}

// A dead kernel's record: the kernel died 0.2 s after the last reload.
check::ResetRecord Crashed() {
  check::ResetRecord record = Reset(0.2);
  record.hang = "panic";
  record.crashed_s = 0.2;
  record.crashed_at = 1000.2;
  return record;
}
// The dead kernel's on-time verdict where the next boot began so long after
// the last reload, by the RTC.
check::Check HangOnTime(double booted) { return check::JudgeOnTimeAfterHang(Crashed(), 1000 + booted); }
constexpr const char* kOnTheRtc =
    " after the last reload (the reset was due from 9 s to 30 s); this bound rests on the real-time clock: a "
    "wall-clock step between the two boots cannot be seen from one machine";

struct Afterwards {
  const char* name;
  check::Check judged;
  Result result;
  std::string detail;
  friend void PrintTo(const Afterwards& row, std::ostream* os) { *os << row.name; }
};

class AfterResetTest : public testing::TestWithParam<Afterwards> {};

TEST_P(AfterResetTest, IsJudgedOnTheRecord) {
  EXPECT_EQ(GetParam().judged.result, GetParam().result);
  EXPECT_EQ(GetParam().judged.detail, GetParam().detail);
}

// A verdict on the record rests on it and on the boot's identity, a kind of
// its own, which the reports still name "none" as they always did.
TEST(AfterReset, VerdictsOnTheRecordRestOnItAndAreNamedAsBefore) {
  for (const check::Check& judged : {check::JudgeOnTime(Reset(9.93)), check::JudgeOnTime(Reset(3.5)),
                                     check::JudgeRebooted(Reset(9.5), "boot-2")}) {
    EXPECT_EQ(judged.evidence, check::Evidence::kRecord) << judged.name;
  }
  EXPECT_EQ(check::JudgeRebooted(Reset(9.5), std::nullopt).evidence, check::Evidence::kNone);
  EXPECT_EQ(check::EvidenceName(check::Evidence::kRecord), "none");
}

TEST(AfterReset, TheResetsDelayIsAFigure) {
  EXPECT_EQ(check::JudgeOnTime(Reset(9.93)).figures,
            (std::vector<check::Figure>{{"last_alive_s", "9.930"}, {"window_from_s", "9.000"},
                                        {"window_until_s", "30.000"}, {"delay_s", "10.020"},
                                        {"delay_from_s", "9.930"}, {"delay_until_s", "10.110"},
                                        {"bound_s", "0.180"}}));
}

// A record of a run with --suspend: the sleep began 4.2 s after the first
// reload; slept 0: the reset came before the machine woke.
check::ResetRecord Slept(check::ResetRecord record, const char* state, double slept) {
  record.suspend = state;
  record.suspend_for_s = 25;
  record.suspend_at_s = 4.2;
  record.slept_s = slept;
  if (slept == 0) {
    record.alive_s = 4.2;
    record.next_by_s = 29.2;
  }
  return record;
}

TEST(AfterReset, TheSleepsLengthIsAFigureBesideTheDelay) {
  const std::vector<check::Figure> figures = check::JudgeOnTime(Slept(Reset(9.93), "mem", 25.1)).figures;
  EXPECT_EQ(std::vector<check::Figure>(figures.end() - 3, figures.end()),
            (std::vector<check::Figure>{{"bound_s", "0.180"}, {"slept_s", "25.100"}, {"suspend_for_s", "25.000"}}));
  EXPECT_EQ(figures[3], (check::Figure{"delay_s", "10.020"}));
}

sysfs::Facts Booted(std::uint32_t status, const char* identity = "i6300ESB timer") {
  return {.name = "watchdog1", .identity = identity, .bootstatus = status};
}

INSTANTIATE_TEST_SUITE_P(
    Records, AfterResetTest,
    testing::Values(
        Afterwards{"OnTime", check::JudgeOnTime(Reset(9.93)), Result::kPass,
                   "reset between 9.93 s and 10.11 s after the last reload (bound 0.18 s; the reset was due from 9 s "
                   "to 30 s)"},
        Afterwards{"OnTheSecondExpiry", check::JudgeOnTime(Reset(19.5)), Result::kPass,
                   "reset between 19.50 s and 19.68 s after the last reload (bound 0.18 s; the reset was due from 9 "
                   "s to 30 s)"},
        Afterwards{"Early", check::JudgeOnTime(Reset(3.5), std::string("no real-time clock")), Result::kFail,
                   "reset early: last seen alive 3.5 s after the last reload (the reset was due from 9 s to 30 s)"},
        Afterwards{"EarlyByTheRtcToo", check::JudgeOnTime(Reset(3.5), 1000 + 5.0), Result::kFail,
                   "reset early: last seen alive 3.5 s after the last reload (the reset was due from 9 s to 30 s), and "
                   "the next boot began 5.0 s after the last reload by the real-time clock (to within 1 s), which "
                   "confirms it"},
        Afterwards{"EarlyByTheBeatsAlone", check::JudgeOnTime(Reset(7.4), 1000 + 8.6), Result::kFail,
                   "reset early: last seen alive 7.4 s after the last reload (the reset was due from 9 s to 30 s); the "
                   "next boot began 8.6 s after the last reload by the real-time clock (to within 1 s), which cannot "
                   "confirm it: a checker held up that long before the reset would look the same"},
        Afterwards{"EarlyWithTheWallClockStepped", check::JudgeOnTime(Reset(3.5, {}, 3600), 1000 + 10.6),
                   Result::kFail,
                   "reset early: last seen alive 3.5 s after the last reload (the reset was due from 9 s to 30 s); the "
                   "wall clock was set forward 3600 s while waiting, which judges nothing"},
        Afterwards{"AfterTheWindow", check::JudgeOnTime(Reset(30.5)), Result::kFail,
                   "reset late: seen alive 30.5 s after the last reload, after the window closed (the reset was due "
                   "from 9 s to 30 s)"},
        Afterwards{"WallClockSetBack", check::JudgeOnTime(Reset(9.93, {}, -3600)), Result::kPass,
                   "reset between 9.93 s and 10.11 s after the last reload (bound 0.18 s; the reset was due from 9 s "
                   "to 30 s); the wall clock was set back 3600 s while waiting, which judges nothing"},
        Afterwards{"Version1", check::JudgeOnTime(Reset(9.5, {}, 0, 1)), Result::kPass,
                   "reset between 9.50 s and 10.50 s after the last reload (bound 1.00 s; the reset was due from 9 s "
                   "to 30 s); a version 1 record, judged on what it holds: wall-clock times, a beat a second"},
        Afterwards{"Version1WallClockSetForward", check::JudgeOnTime(Reset(3608.7, {}, 0, 1)), Result::kFail,
                   "reset late: seen alive 3608.7 s after the last reload, after the window closed (the reset was "
                   "due from 9 s to 30 s); a version 1 record, judged on what it holds: wall-clock times, a beat a "
                   "second"},
        Afterwards{"NoReset", check::JudgeOnTime(Reset(29.5, check::ResetRecord::State::kNoReset)), Result::kFail,
                   "still alive when the window closed, 30 s after the last reload: the watchdog did not reset the "
                   "machine"},
        Afterwards{"ResetDuringTheSleep", check::JudgeOnTime(Slept(Reset(9.93), "freeze", 0)), Result::kFail,
                   "the watchdog reset the machine during a suspend (freeze) of 25 s: it came after the sleep began, "
                   "4.2 s after the last reload (bound 25.00 s, the sleep's length)"},
        Afterwards{"ResetAfterTheResume", check::JudgeOnTime(Slept(Reset(9.93), "mem", 25.1)), Result::kPass,
                   "reset between 9.93 s and 10.11 s after the last reload (bound 0.18 s; the reset was due from 9 s "
                   "to 30 s); after a suspend (mem) of 25.1 s"},
        Afterwards{"NoResetAfterTheResume",
                   check::JudgeOnTime(Slept(Reset(29.5, check::ResetRecord::State::kNoReset), "mem", 25.1)),
                   Result::kFail,
                   "still alive when the window closed, 30 s after the last reload: the watchdog did not reset the "
                   "machine; after a suspend (mem) of 25.1 s"},
        Afterwards{"DeadKernelOnTime", HangOnTime(10.4), Result::kPass,
                   std::string("the reset came between 0.20 s (the kernel died) and 10.4 s (the next boot began, by the "
                               "real-time clock, to within 1 s)") + kOnTheRtc},
        Afterwards{"DeadKernelWithinTheRtcsSecond", HangOnTime(8.2), Result::kPass,
                   std::string("the reset came between 0.20 s (the kernel died) and 8.2 s (the next boot began, by the "
                               "real-time clock, to within 1 s)") + kOnTheRtc},
        Afterwards{"DeadKernelRebootedTooEarly", HangOnTime(7.9), Result::kFail,
                   std::string("reset early, not the watchdog's: the kernel died 0.20 s and the next boot began 7.9 s "
                               "after the last reload (by the real-time clock, to within 1 s) (the reset was due from 9 "
                               "s to 30 s); this bound rests on the real-time clock: a wall-clock step between the two "
                               "boots cannot be seen from one machine")},
        Afterwards{"DeadKernelResetLate", HangOnTime(51.5), Result::kFail,
                   std::string("reset late: the next boot began 51.5 s after the last reload (by the real-time clock, "
                               "to within 1 s), after the window closed and 20 s more for the firmware (the reset was "
                               "due from 9 s to 30 s); this bound rests on the real-time clock: a wall-clock step "
                               "between the two boots cannot be seen from one machine")},
        Afterwards{"DeadKernelSlowFirmware", HangOnTime(44), Result::kPass,
                   std::string("the reset came between 0.20 s (the kernel died) and 44.0 s (the next boot began, by the "
                               "real-time clock, to within 1 s)") + kOnTheRtc +
                       "; it began after the window closed: the firmware's time before the kernel is allowed"},
        Afterwards{"DeadKernelNoRtc", check::JudgeOnTimeAfterHang(Crashed(), std::string("no real-time clock")),
                   Result::kSkip, "not judged: no real-time clock, and no other clock keeps time across a reset"},
        Afterwards{"Rebooted", check::JudgeRebooted(Reset(9.5), "boot-2"), Result::kPass,
                   "booted anew: boot-1, then boot-2"},
        Afterwards{"SameBoot", check::JudgeRebooted(Reset(9.5), "boot-1"), Result::kFail,
                   "the same boot (boot-1): the machine did not restart"},
        Afterwards{"CardReset", check::JudgeCause(Reset(9.5), Booted(0x20)), Result::kPass,
                   "the watchdog reset the machine (boot status: card reset)"},
        Afterwards{"PowerUnder", check::JudgeCause(Reset(9.5), Booted(0x10)), Result::kFail,
                   "the machine started for another reason: power under"},
        Afterwards{"NoCauseKept", check::JudgeCause(Reset(9.5), Booted(0)), Result::kSkip,
                   "the driver keeps no cause (boot status 0), as softdog and iTCO_wdt do"},
        Afterwards{"AnotherWatchdog", check::JudgeCause(Reset(9.5), Booted(0x20, "iTCO_wdt")), Result::kSkip,
                   "no boot status: /dev/watchdog1 is now another watchdog (iTCO_wdt)"},
        Afterwards{"NoSysfs", check::JudgeCause(Reset(9.5), std::nullopt), Result::kSkip,
                   "no boot status: sysfs knows no watchdog at /dev/watchdog1"}),
    [](const auto& info) { return std::string(info.param.name); });

// The bark on the fake clock: the kernel logs the event when the row says,
// or never; the watchdog is disarmed well before it runs out on every road.
struct Bark {
  const char* name;
  std::optional<double> after;  // seconds after the pretimeout is set
  std::optional<long> pretimeout;  // as sysfs shows it; none: the driver has no pretimeout
  std::vector<std::string> governors;
  const char* kernel_log_error;
  Result result;
  const char* detail;
  friend void PrintTo(const Bark& row, std::ostream* os) { *os << row.name; }
};

class BarkTest : public CheckTest, public testing::WithParamInterface<Bark> {};

TEST_P(BarkTest, IsTimedOnTheKernelsRecordOfIt) {
  const Bark& row = GetParam();
  bark_after_ = row.after;
  kernel_log_error_ = row.kernel_log_error;
  check::Settings settings{.mode = check::Mode::kPretimeout, .timeout = 10, .pretimeout = 5};
  settings.device = sysfs::Facts{.name = "watchdog0", .reports_timeleft = true, .pretimeout = row.pretimeout,
                                 .pretimeout_governor = "panic", .pretimeout_governors = row.governors};
  device_ = settings.device;
  const check::Report report = Run(settings);
  ASSERT_EQ(report.checks.size(), 7u);
  EXPECT_EQ(report.checks[4].result, row.result) << Tap(report);
  EXPECT_EQ(report.checks[4].detail, row.detail);
  EXPECT_EQ(report.verdict, *row.kernel_log_error ? Verdict::kCannotRun
                            : row.result == Result::kFail ? Verdict::kFail : Verdict::kPass);
  EXPECT_GE(fake::LeastSecondsLeft(), 2.0);
  EXPECT_FALSE(fake::Armed());
}

const std::vector<std::string> kBothGovernors = {"noop", "panic"};

INSTANTIATE_TEST_SUITE_P(
    Barks, BarkTest,
    testing::Values(
        Bark{"OnTime", 5.02, 0, kBothGovernors, "", Result::kPass,
             "the event came 5.02 s after the last reload, due at 5 s"},
        Bark{"Early", 4.6, 0, kBothGovernors, "", Result::kFail,
             "the event came 4.60 s after the last reload, due at 5 s: early by more than 0.25 s"},
        Bark{"Late", 5.4, 0, kBothGovernors, "", Result::kFail,
             "the event came 5.40 s after the last reload, due at 5 s: late by more than 0.25 s"},
        Bark{"Missing", std::nullopt, 0, kBothGovernors, "", Result::kFail,
             "no pretimeout event in the kernel log within 5.50 s after the last reload, due at 5 s"},
        Bark{"NoPretimeout", 5, std::nullopt, kBothGovernors, "", Result::kSkip, "the driver has no pretimeout"},
        Bark{"NoNoopGovernor", 5, 0, {"panic"}, "", Result::kSkip,
             "no governor that only reports (noop) is available (available: panic); modprobe pretimeout_noop gives "
             "one"},
        Bark{"NoKernelLog", 5, 0, kBothGovernors, "/dev/kmsg: Permission denied", Result::kSkip,
             "the kernel log cannot be read: /dev/kmsg: Permission denied"}),
    [](const auto& info) { return std::string(info.param.name); });

// A counter seen counting faster in the countdown runs out sooner after
// every later load too: the bark's wait keeps the margin by its rate, not by
// the tolerance's.
TEST_F(CheckTest, TheBarksWaitKeepsTheMarginOnACounterSeenCountingFaster) {
  fake::UseSimulator("", "rate=2");
  check::Settings settings{.mode = check::Mode::kPretimeout, .timeout = 10, .pretimeout = 5};
  settings.device = sysfs::Facts{.name = "watchdog0", .reports_timeleft = true, .pretimeout = 0,
                                 .pretimeout_governor = "noop", .pretimeout_governors = kBothGovernors};
  device_ = settings.device;
  const check::Report report = Run(settings);
  EXPECT_EQ(report.checks[2].result, Result::kFail) << Tap(report);
  EXPECT_EQ(report.checks[4].detail, "the pretimeout of 5 s is too close to the timeout of 10 s to wait for its "
                                     "event and keep the margin; a longer pretimeout gives room");
  EXPECT_GE(fake::LeastSecondsLeft(), 2.0) << Tap(report);
  EXPECT_FALSE(fake::Armed());
}

// What the run changed is put back before the close, and said.
TEST_F(CheckTest, TheDeviceIsLeftAsFound) {
  check::Settings settings{.mode = check::Mode::kPretimeout, .timeout = 10, .pretimeout = 5};
  settings.device = sysfs::Facts{.name = "watchdog0", .timeout = 60, .reports_timeleft = true, .pretimeout = 0,
                                 .pretimeout_governor = "panic", .pretimeout_governors = kBothGovernors};
  device_ = sysfs::Facts{.name = "watchdog0", .timeout = 10, .pretimeout = 5, .pretimeout_governor = "noop"};
  bark_after_ = 5;
  const check::Report report = Run(settings);
  // The fake sysfs does not follow the calls: none of them shows, and each is said.
  EXPECT_EQ(report.not_put_back, "timeout 60 s (it is 10 s); pretimeout 0 s (it is 5 s); governor panic (it is noop)");
  const std::vector<std::string> calls = Calls();
  EXPECT_EQ(std::vector<std::string>(calls.end() - 5, calls.end()),
            (std::vector<std::string>{"DisableTimer()", "WriteTimerValue(60)", "SetPretimeout(0)",
                                      "governor watchdog0 panic", "CloseSession()"}));
  EXPECT_NE(check::TapSummary(report).find("# warning: not put back as found: timeout 60 s"), std::string::npos);
}

TEST_F(CheckTest, ADamagedOrAbandonedRecordCannotBeJudged) {
  for (const auto& [text, why] : std::vector<std::pair<std::string, std::string>>{
           {"garbage\n", "the record is not a reset record of wdt-check"},
           {check::FormatRecord(Reset(9.5, check::ResetRecord::State::kAbandoned)),
            "the wait for the reset was abandoned (a signal, a stop or a failure ended it)"}}) {
    records_ = {text};
    const check::Report report = Run({.mode = check::Mode::kAfterReset});
    EXPECT_EQ(report.verdict, Verdict::kCannotRun);
    EXPECT_EQ(report.checks[0].detail, why);
    EXPECT_EQ(report.checks[3].detail, "there is no record to judge");
    EXPECT_TRUE(Calls().empty());  // the watchdog is not touched
  }
}

// A dead kernel cannot fire softdog; Debian 12's i6300esb names no parent
// device and sits under devices/virtual as softdog does, yet is hardware.
TEST(CheckSysfs, OnlySoftdogIsASoftwareWatchdogWhereverItSits) {
  fake::FakeSysfs sysfs;
  sysfs.AddWatchdog("watchdog0", {250, 0}, {{"identity", "Software Watchdog"}});
  sysfs.AddWatchdog("watchdog1", {250, 1}, {{"identity", "i6300ESB timer"}});
  const sysfs::Reader reader = sysfs.Reader();
  EXPECT_TRUE(reader.Read("watchdog0")->software);
  EXPECT_FALSE(reader.Read("watchdog1")->software);
}

// Every watchdog of the class, none opened; the fields that a driver lacks
// say so.
TEST(CheckList, ListsEveryWatchdogWithWhatSysfsSaysAndWhoHoldsIt) {
  fake::FakeSysfs sysfs;
  EXPECT_EQ(check::ListWatchdogs(sysfs.Reader(), true).exit_status, 2);  // no class at all
  sysfs.AddWatchdog("watchdog1", {250, 1}, {{"identity", "i6300ESB timer"}, {"state", "inactive"},
                                            {"timeout", "30"}, {"min_timeout", "1"}, {"max_timeout", "2046"},
                                            {"nowayout", "0"}, {"bootstatus", "32"}, {"pretimeout", "5"},
                                            {"pretimeout_governor", "panic"},
                                            {"pretimeout_available_governors", "noop\npanic"}},
                      "i6300esb");
  sysfs.AddWatchdog("watchdog0", {250, 0}, {{"identity", "Software\x1bWatchdog"}, {"state", "active"},
                                            {"timeout", "60"}, {"timeleft", "42"}, {"nowayout", "1"},
                                            {"bootstatus", "17"}});
  sysfs.AddHolder(1, "systemd", "/dev/watchdog");
  const check::Listing text = check::ListWatchdogs(sysfs.Reader(), false);
  EXPECT_EQ(text.exit_status, 0);
  EXPECT_EQ(text.err, "");
  EXPECT_EQ(text.out,
            "watchdog0: /dev/watchdog0 (also /dev/watchdog)\n"
            "  identity     Software\\x1bWatchdog\n"
            "  kind         a device of its own\n"
            "  state        active\n"
            "  timeout      60 s\n"
            "  time left    42 s\n"
            "  nowayout     yes: once started, it cannot be stopped\n"
            "  pretimeout   not in sysfs: the driver has none\n"
            "  boot status  overheat, power under (17)\n"
            "  held by      systemd, pid 1\n"
            "watchdog1: /dev/watchdog1\n"
            "  identity     i6300ESB timer\n"
            "  kind         a device of its own, driven by i6300esb\n"
            "  state        inactive\n"
            "  timeout      30 s (the driver takes 1 s to 2046 s)\n"
            "  time left    not reported by the driver\n"
            "  nowayout     no\n"
            "  pretimeout   5 s before the timeout runs out\n"
            "  governor     panic\n"
            "  governors    noop, panic\n"
            "  boot status  card reset (32)\n"
            "  held by      no process found\n");
  EXPECT_EQ(check::ListWatchdogs(sysfs.Reader(), true).out,
            "{\"watchdogs\": [\n"
            "  {\"name\": \"watchdog0\", \"nodes\": [\"/dev/watchdog0\", \"/dev/watchdog\"], \"identity\": "
            "\"Software\\\\x1bWatchdog\", \"driver\": null, \"software\": false, \"state\": \"active\", \"timeout_s\": 60, \"min_timeout_s\": null, "
            "\"max_timeout_s\": null, \"timeleft_s\": 42, \"nowayout\": true, \"pretimeout_s\": null, \"pretimeout_governor\": null, "
            "\"pretimeout_governors\": null, \"bootstatus\": 17, \"boot_cause\": "
            "\"overheat, power under\", \"held_by\": [{\"pid\": 1, \"name\": \"systemd\"}]},\n"
            "  {\"name\": \"watchdog1\", \"nodes\": [\"/dev/watchdog1\"], \"identity\": \"i6300ESB timer\", "
            "\"driver\": \"i6300esb\", \"software\": false, \"state\": \"inactive\", \"timeout_s\": 30, \"min_timeout_s\": 1, \"max_timeout_s\": 2046, "
            "\"timeleft_s\": null, \"nowayout\": false, \"pretimeout_s\": 5, \"pretimeout_governor\": \"panic\", "
            "\"pretimeout_governors\": [\"noop\", \"panic\"], \"bootstatus\": 32, \"boot_cause\": \"card reset\", "
            "\"held_by\": []}\n"
            "]}\n");
}

TEST(CheckOutput, TapEscapesItsDirectiveCharacterAndJsonItsQuotes) {
  const check::Check reload{"reload", Result::kFail, "read \"25\" #\\", {{"read", "25"}}};
  EXPECT_EQ(check::TapLine(reload, 4), "not ok 4 - reload: read \"25\" \\#\\\\\n  ---\n  read: 25\n  ...\n");
  EXPECT_EQ(check::TapLine({"rebooted", Result::kPass, "anew", {{"boot_now", "\"b\\u001b\""}, {"edges", "4"}}}, 2),
            "ok 2 - rebooted: anew\n  ---\n  boot_now: \"b\\u001b\"\n  edges: 4\n  ...\n");
  EXPECT_EQ(check::TapLine({"disarm", Result::kSkip, "why", {}}, 5), "ok 5 - disarm # SKIP why\n");
  const std::string json = check::Json({Verdict::kFail, {reload}, "stopped by SIGTSTP", 1.5}, {});
  EXPECT_EQ(json, "{\"verdict\": \"fail\", \"checks\": [\n  {\"name\": \"reload\", \"result\": \"fail\", "
                  "\"detail\": \"read \\\"25\\\" #\\\\\", \"evidence\": \"none\", \"read\": 25}\n], \"timeout\": 30, "
                  "\"duration_s\": 1.500, \"measured_on_hardware\": 0, \"watchdog\": {\"kind\": \"undescribed\", \"node\": null, "
                  "\"identity\": null, \"driver\": null, \"software\": false, \"text\": \"the driver's library (it does "
                  "not describe its watchdog)\"}, \"ended_early\": \"stopped by SIGTSTP\"}\n");
}

TEST(CheckArguments, TheUsageNamesTheChecksOfEveryModeInOrder) {
  for (const check::Mode mode :
       {check::Mode::kCheck, check::Mode::kPretimeout, check::Mode::kExpire, check::Mode::kAfterReset,
        check::Mode::kSuspend, check::Mode::kHang}) {
    std::string names;
    for (const std::string_view name : check::CheckNames(mode)) names += (names.empty() ? "" : ", ") + std::string(name);
    EXPECT_NE(check::kUsage.find(" " + names + "\n"), std::string::npos) << names;
  }
}

TEST(CheckArguments, GoodOnesAreTakenAndTheFirstBadOneIsNamed) {
  const auto good = check::ParseArguments({"--json", "--timeout", "255", "--tolerance", "2.5"});
  EXPECT_TRUE(good.action == check::Arguments::Action::kRun && good.json);
  EXPECT_EQ(good.settings.timeout + good.settings.tolerance_pct, 257.5);
  EXPECT_EQ(check::ParseArguments({"--json", "--help"}).action, check::Arguments::Action::kHelp);
  const auto sleep = check::ParseArguments({"--suspend", "freeze", "--expire", "r", "--timeout", "10"});
  EXPECT_TRUE(sleep.settings.mode == check::Mode::kSuspend && sleep.settings.suspend == "freeze");
  EXPECT_EQ(check::SleepFor(sleep.settings), 20u);
  const auto hang = check::ParseArguments({"--hang", "panic", "--expire", "r"});
  EXPECT_TRUE(hang.settings.mode == check::Mode::kHang && hang.settings.hang == "panic");
  const auto bark = check::ParseArguments({"--pretimeout", "5", "--timeout", "10"});
  EXPECT_TRUE(bark.settings.mode == check::Mode::kPretimeout && bark.settings.pretimeout == 5);
  for (const auto& [arguments, error] : std::vector<std::pair<std::vector<std::string_view>, std::string>>{
           {{"--timeout", "4"}, "--timeout takes a whole number of seconds from 5 to 255, not '4'"},
           {{"--timeout", "256"}, "--timeout takes a whole number of seconds from 5 to 255, not '256'"},
           {{"--tolerance", "50.01"}, "--tolerance takes a percentage above 0 and at most 50, not '50.01'"},
           {{"--tolerance"}, "--tolerance needs a value"},
           {{"--help", "-x\x1b"}, "unknown argument '-x\\x1b'"},
           {{"--timeout=30"}, "unknown argument '--timeout=30'"},
           {{"--pretimeout", "0"}, "--pretimeout takes a whole number of seconds below the timeout, not '0'"},
           {{"--pretimeout", "10", "--timeout", "10"}, "--pretimeout 10 is not below the timeout of 10 s"},
           {{"--pretimeout", "5", "--expire", "r"},
            "--pretimeout checks the bark among the checks: not with the reset proof"},
           {{"--suspend", "mem"}, "--suspend sleeps within the reset proof: give it with --expire FILE"},
           {{"--after-reset", "r", "--suspend", "freeze"},
            "--suspend sleeps within the reset proof: give it with --expire FILE"},
           {{"--expire", "r", "--suspend", "disk"},
            "--suspend takes freeze or mem, as /sys/power/state names them, not 'disk'"},
           {{"--expire", "r", "--suspend-for", "20"}, "--suspend-for is the length of --suspend's sleep"},
           {{"--expire", "r", "--suspend", "mem", "--suspend-for", "10", "--timeout", "10"},
            "--suspend-for 10 is not above the timeout of 10 s: the watchdog would not run out while the machine "
            "sleeps"},
           {{"--expire", "r", "--hang", "reboot"}, "--hang takes panic, not 'reboot'"},
           {{"--expire", "r", "--hang"}, "--hang needs a value"},
           {{"--hang", "panic"}, "--hang crashes the kernel after --expire's last reload: give --expire FILE"},
           {{"--after-reset", "r", "--hang", "panic"},
            "--hang crashes the kernel after --expire's last reload: give --expire FILE"},
           {{"--expire", "r", "--hang", "panic", "--suspend", "mem"},
            "--suspend and --hang are two roads to the reset: give one of them"}}) {
    const auto bad = check::ParseArguments(arguments);
    EXPECT_EQ(bad.action, check::Arguments::Action::kBad);
    EXPECT_EQ(bad.error, error);
  }
}

}  // namespace

// The watchdog that a run checked, in the library's words, and what its
// figures rest on: a simulation is never the hardware, and a library that
// does not describe its watchdog is not taken for it either.
struct Described {
  const char* name;
  const char* description;  // DescribeWatchdog's text
  const char* line;         // TAP's, before the plan
  const char* summary;      // the summary's first line
  const char* evidence;     // of arm, countdown, reload and disarm
};

class DescribedTest : public CheckTest, public testing::WithParamInterface<Described> {};

TEST_P(DescribedTest, NamesTheWatchdogAndWhatItsFiguresRestOn) {
  const Described& row = GetParam();
  const check::Watchdog watchdog = check::ParseWatchdogDescription(row.description);
  watchdog_ = watchdog;
  const check::Report report = Run();
  EXPECT_EQ(report.verdict, Verdict::kPass) << Tap(report);
  const std::string header = check::TapHeader(6, report.watchdog);
  EXPECT_EQ(header, "TAP version 14\n# watchdog: " + std::string(row.line) + "\n1..6\n");
  const std::string summary = check::TapSummary(report);
  EXPECT_EQ(summary.substr(0, summary.find('\n')), row.summary);
  for (const std::size_t i : {1, 2, 3, 4}) EXPECT_EQ(check::EvidenceName(report.checks[i].evidence), row.evidence);
  const std::string json = check::Json(report, {});
  EXPECT_NE(json.find("\"watchdog\": " + check::WatchdogJson(watchdog)), std::string::npos) << json;
  const std::string junit = check::Junit(report, {});
  std::string in_xml = row.line;
  if (const std::size_t quote = in_xml.find('\''); quote != std::string::npos) in_xml.replace(quote, 1, "&apos;");
  EXPECT_NE(junit.find("<property name=\"watchdog\" value=\"" + in_xml + "\"/>"), std::string::npos) << junit;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DescribedTest,
    testing::Values(
        Described{"Simulated", "kind=simulated\n", "simulated (the stand-in library)",
                  "# on the simulated watchdog: nothing was measured on hardware (the simulation: arm, countdown, "
                  "reload, disarm)",
                  "simulation"},
        Described{"Undescribed", "", "the driver's library (it does not describe its watchdog)",
                  "# measured on the hardware: 0 of 6 checks; the library's word, which does not describe its "
                  "watchdog: arm, countdown, reload, disarm",
                  "library"},
        Described{"UnknownKind", "kind=teapot\nnode=/dev/x\n", "the driver's library (it does not describe its watchdog)",
                  "# measured on the hardware: 0 of 6 checks; the library's word, which does not describe its "
                  "watchdog: arm, countdown, reload, disarm",
                  "library"},
        Described{"Device", "kind=device\nnode=/dev/watchdog0\nidentity=iTCO_wdt\ndriver=iTCO_wdt\n",
                  "/dev/watchdog0, iTCO_wdt",
                  "# measured on the hardware: 4 of 6 checks (arm, countdown, reload, disarm)", "hardware"},
        Described{"DeviceWithADriverOfAnotherName",
                  "kind=device\nnode=/dev/watchdog1\nidentity=i6300ESB timer\ndriver=i6300esb\n",
                  "/dev/watchdog1, i6300ESB timer (driver i6300esb)",
                  "# measured on the hardware: 4 of 6 checks (arm, countdown, reload, disarm)", "hardware"}),
    [](const auto& info) { return std::string(info.param.name); });

// The reset proof on a software watchdog covers a process that stops
// feeding, never a kernel that hangs: after the reset, the record's watchdog
// as sysfs knows it now says which.
TEST_F(CheckTest, TheResetProofSaysWhetherItCoversAHungKernel) {
  struct Row {
    const char* identity;
    std::optional<sysfs::Facts> now;
    const char* covers;
    const char* said;
  };
  for (const Row& row :
       {Row{"Software Watchdog", std::nullopt, "process",
            "covers a process that stops feeding, not a kernel that hangs: Software Watchdog is a timer inside the "
            "kernel, which dies with it"},
        Row{"softish", sysfs::Facts{.identity = "softish", .software = true}, "process",
            "covers a process that stops feeding, not a kernel that hangs: softish is a timer inside the kernel, "
            "which dies with it"},
        Row{"i6300ESB timer", sysfs::Facts{.identity = "i6300ESB timer", .driver = "i6300esb"}, "kernel",
            "covers a process that stops feeding and a kernel that hangs"}}) {
    check::ResetRecord record = Reset(9.93);
    record.identity = row.identity;
    records_ = {check::FormatRecord(record)};
    device_ = row.now;
    const check::Report report = Run({.mode = check::Mode::kAfterReset});
    EXPECT_EQ(report.covers, row.covers) << row.identity;
    EXPECT_NE(check::TapSummary(report).find("; " + std::string(row.said) + "\n"), std::string::npos)
        << check::TapSummary(report);
    EXPECT_NE(check::Json(report, {}).find("\"covers\": \"" + std::string(row.covers) + "\""), std::string::npos);
    EXPECT_EQ(report.watchdog.node, "/dev/watchdog1");
  }
}

// Drivers' quirks, said by the check that catches them: a time left above
// the timeout is not this watchdog's (its disarm is judged on the kernel's
// state instead); an i.MX watchdog cannot be stopped; a reset that never
// came after the arm changed a running watchdog's timeout says so.
TEST_F(CheckTest, DriversQuirksAreSaidByTheCheckThatCatchesThem) {
  EXPECT_EQ(check::JudgeCountdown({293, 288, 5, {{0.5, 292}, {1.5, 291}, {2.5, 290}, {3.5, 289}, {4.5, 288}}}, {})
                .detail,
            "the time left reads 293, above the timeout of 30 s: the counter does not count this watchdog");

  check::Settings imx;
  imx.device = sysfs::Facts{.name = "watchdog0", .identity = "imx2+ watchdog", .state = "inactive"};
  device_ = imx.device;
  check::Report report = Run(imx);
  EXPECT_EQ(report.checks[4].detail,
            "DisableTimer() returned 0; the kernel reports the watchdog inactive; this watchdog (imx2+ watchdog) "
            "cannot be stopped: the kernel feeds it from now on");

  fake::Reset();
  fake::UseSimulator("");
  check::Settings changed{.mode = check::Mode::kExpire, .timeout = 5};
  changed.device = sysfs::Facts{.name = "watchdog0", .timeout = 60, .reports_timeleft = true};
  report = Run(changed);
  EXPECT_EQ(report.checks[3].detail,
            "armed 5 s, still alive after 20 s: the watchdog did not reset the machine; the arm changed the running "
            "watchdog's timeout from 60 s to 5 s, which stops some watchdogs (the i.MX6Q's in QEMU): with the "
            "driver's own timeout set to 5 s before the run, one that resets then has this fault")
      << Tap(report);
}

namespace {

// The dead kernel's road: what it refuses before anything is armed, and
// what it writes and sets before the crash.
sysfs::Facts Watchdog(bool software, const char* identity = "i6300ESB timer") {
  return {.name = "watchdog0", .identity = identity, .software = software};
}

TEST(Hang, RefusesBeforeTouchingTheWatchdogWhatADeadKernelCannotProve) {
  const std::string softdog = "--hang: Software Watchdog is a software watchdog: softdog runs inside the kernel: a "
                              "dead kernel cannot fire it";
  const std::string esb = "/dev/watchdog0";
  for (const auto& [settings, kernel, why] : std::vector<std::tuple<check::Settings, std::string, std::string>>{
           {{.device_path = esb, .device = Watchdog(false)}, "", ""},
           {{.device_path = esb, .device = Watchdog(true, "Software Watchdog")}, "", softdog},
           {{.device_path = esb, .device = Watchdog(true, "Software Watchdog")}, "no sysrq", softdog},
           {{.device_path = esb, .device = Watchdog(false)}, "this kernel has no sysrq", "--hang: this kernel has no sysrq"},
           {{.device_path = esb, .device = Watchdog(false)}, "cannot write /proc/sys/kernel/panic",
            "--hang: cannot write /proc/sys/kernel/panic"},
           {{}, "", "--hang needs a kernel watchdog (WDT_DEVICE): the simulated watchdog cannot reset a dead kernel"},
           {{.device_path = "/dev/null"}, "", "--hang needs a kernel watchdog: sysfs knows no watchdog at /dev/null"}}) {
    EXPECT_EQ(check::HangRefusal(settings, kernel), why);
  }
}

TEST_F(CheckTest, TheCrashComesAfterTheRecordAndKernelPanicZero) {
  const check::Report report =
      Run({.mode = check::Mode::kHang, .hang = "panic", .timeout = 5, .device = Watchdog(false)});
  ASSERT_EQ(check::CheckNames(check::Mode::kHang),
            (std::vector<std::string_view>{"open", "arm", "reload", "crash", "disarm", "close"}));
  EXPECT_EQ(report.verdict, Verdict::kFail) << Tap(report);
  EXPECT_EQ(report.checks[3].detail, "the crash came back");
  const std::vector<std::string> calls = Calls();
  const auto crash = std::find(calls.begin(), calls.end(), "crash");
  ASSERT_GE(crash - calls.begin(), 2);
  // Said once, after kernel.panic is 0 and just before the crash.
  EXPECT_EQ(std::vector<std::string>(crash - 2, calls.end()),
            (std::vector<std::string>{"panic 0", "said the kernel is crashed now: the watchdog must reset the machine "
                                      "within 20 s", "crash", "panic 10", "DisableTimer()", "CloseSession()"}));
  // On disk before kernel.panic changed: the crash, and what the kernel had.
  ASSERT_GE(records_.size(), 2u);
  const auto crashed = std::get<check::ResetRecord>(check::ParseRecord(records_[1]));
  EXPECT_EQ(std::tuple(crashed.hang, crashed.kernel_panic, crashed.kernel_sysrq, crashed.state),
            std::tuple(std::string("panic"), std::string("10"), std::string("0"), check::ResetRecord::State::kWaiting));
  EXPECT_EQ(crashed.alive_s, crashed.crashed_s);
  // A crash that came back is no wait for a reset.
  EXPECT_EQ(std::get<check::ResetRecord>(check::ParseRecord(records_.back())).state,
            check::ResetRecord::State::kAbandoned);
}

}  // namespace
