// The built stand-in library, as the program loads it: what it exports and
// many calls from many threads at once; and the switches that it reads from
// the environment.
#include <gtest/gtest.h>

#include "environment.h"
#include "status_codes.h"

#include <atomic>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "wdtDLL.h"

namespace {

TEST(Library, ExportsTheSixOperationsAndTheOptionalPretimeout) {
  FILE* nm = popen("nm -D --defined-only '" WDT_LIBRARY_PATH "'", "r");
  ASSERT_NE(nm, nullptr);
  std::set<std::string> names;
  char line[512];
  while (std::fgets(line, sizeof line, nm) != nullptr) {
    std::string text(line);
    text.erase(text.find_last_not_of("\r\n") + 1);
    names.insert(text.substr(text.rfind(' ') + 1));
  }
  ASSERT_EQ(pclose(nm), 0);
  EXPECT_EQ(names, (std::set<std::string>{"InitializeSession", "EnableTimer", "DisableTimer",
                                          "WriteTimerValue", "ReadTimerValue", "CloseSession",
                                          WDT_SET_PRETIMEOUT_NAME, WDT_ACCEPT_PRETIMEOUT_NAME,
                                          WDT_DESCRIBE_WATCHDOG_NAME}));
}

TEST(Library, ManyThreadsCallAtOnceWhileTheSessionOpensAndCloses) {
  ASSERT_EQ(InitializeSession(), wdt::kOk);
  ASSERT_EQ(EnableTimer(30, 0), wdt::kOk);
  std::atomic<bool> stop{false};
  std::atomic<long> unexpected{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      while (!stop) {
        std::uint32_t value = 1000;
        const StatusCode status = ReadTimerValue(&value);
        // Open: a value the watchdog can hold; closed: no handle.
        if (!((status == 0 && value <= 30) || status == 2)) ++unexpected;
      }
    });
  }
  for (int round = 0; round < 2000; ++round) {
    const StatusCode write = WriteTimerValue(30);
    const StatusCode disable = DisableTimer();
    const StatusCode enable = EnableTimer(30, 0);
    if (write != 0 || disable != 0 || enable != 0) ++unexpected;
    if (round % 100 == 99) {
      if (CloseSession() != 0 || InitializeSession() != 0) ++unexpected;
    }
  }
  stop = true;
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(unexpected, 0);
  EXPECT_EQ(DisableTimer(), wdt::kOk);
  EXPECT_EQ(CloseSession(), wdt::kOk);
  EXPECT_EQ(CloseSession(), wdt::kNoHandle);
}

// The trace switch under its name and its older one: the older is read only
// where the new one is unset or empty, and a bad value is named as given.
struct TraceRow {
  const char* name;
  std::map<std::string, std::string> environment;
  bool trace;
  std::string diagnostics{};
  friend void PrintTo(const TraceRow& row, std::ostream* os) { *os << row.name; }
};

class TraceSwitchTest : public testing::TestWithParam<TraceRow> {};

TEST_P(TraceSwitchTest, TracesAsTheEnvironmentSays) {
  const TraceRow& row = GetParam();
  std::string said;
  const bool trace = standin::TraceSwitch(
      [&](const char* name) {
        const auto found = row.environment.find(name);
        return found == row.environment.end() ? nullptr : found->second.c_str();
      },
      [&](std::string_view line) { said += line; });
  EXPECT_EQ(trace, row.trace);
  EXPECT_EQ(said, row.diagnostics);
}

INSTANTIATE_TEST_SUITE_P(
    Names, TraceSwitchTest,
    testing::Values(
        TraceRow{.name = "Unset", .environment = {}, .trace = false},
        TraceRow{.name = "On", .environment = {{"WDT_TRACE", "1"}}, .trace = true},
        TraceRow{.name = "Off", .environment = {{"WDT_TRACE", "0"}}, .trace = false},
        TraceRow{.name = "OlderNameOn", .environment = {{"WDT_SIM_TRACE", "1"}}, .trace = true},
        TraceRow{.name = "OlderNameOff", .environment = {{"WDT_SIM_TRACE", "0"}}, .trace = false},
        TraceRow{.name = "EmptyLeavesItToTheOlderName",
                 .environment = {{"WDT_TRACE", ""}, {"WDT_SIM_TRACE", "1"}},
                 .trace = true},
        TraceRow{.name = "NewNameWinsOff", .environment = {{"WDT_TRACE", "0"}, {"WDT_SIM_TRACE", "1"}}, .trace = false},
        TraceRow{.name = "NewNameWinsOn", .environment = {{"WDT_TRACE", "1"}, {"WDT_SIM_TRACE", "x"}}, .trace = true},
        TraceRow{.name = "Bad",
                 .environment = {{"WDT_TRACE", "yes"}, {"WDT_SIM_TRACE", "1"}},
                 .trace = false,
                 .diagnostics = "wdtDLL: WDT_TRACE='yes' is neither 1 (trace) nor 0 (no trace); tracing stays off\n"},
        TraceRow{.name = "OlderNameBad",
                 .environment = {{"WDT_SIM_TRACE", "\x1b[2J"}},
                 .trace = false,
                 .diagnostics = "wdtDLL: WDT_SIM_TRACE='\\x1b[2J' is neither 1 (trace) nor 0 (no trace); tracing "
                                "stays off\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SwitchTest, OnlyOneIsOn) {
  std::string said;
  const auto with = [&](const char* value) {
    return standin::Switch([&](const char*) { return value; }, [&](std::string_view line) { said += line; },
                           "WDT_ALLOW_NOWAYOUT", "open", "refuse", "refused");
  };
  EXPECT_TRUE(with("1"));
  EXPECT_FALSE(with(nullptr));
  EXPECT_FALSE(with(""));
  EXPECT_FALSE(with("0"));
  EXPECT_EQ(said, "");
  EXPECT_FALSE(with("1 "));
  EXPECT_EQ(said, "wdtDLL: WDT_ALLOW_NOWAYOUT='1 ' is neither 1 (open) nor 0 (refuse); refused\n");
}

}  // namespace
