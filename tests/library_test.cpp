// The built stand-in library, as the program loads it: what it exports and
// many calls from many threads at once.
#include <gtest/gtest.h>

#include "status_codes.h"

#include <atomic>
#include <cstdio>
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
                                          WDT_SET_PRETIMEOUT_NAME, WDT_ACCEPT_PRETIMEOUT_NAME}));
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

}  // namespace
