#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>

#include "expected_output.h"
#include "status_messages.h"

namespace {

TEST(StatusMessages, EveryRowAndEveryOtherCode) {
  const std::map<StatusCode, std::string> known = {
      {1, printed::Line(printed::kNoCommunication)},
      {2, printed::Line(printed::kNoHandle)},
      {3, printed::Line(printed::kBadParameter)},
  };
  ASSERT_EQ(wdt::kStatusMessageCount, known.size());
  for (const auto& [code, message] : wdt::kStatusMessages) {
    ASSERT_EQ(known.count(code), 1u) << code;
    EXPECT_EQ(message, known.at(code));
    EXPECT_EQ(wdt::StatusMessage(code), known.at(code));
  }
  for (const StatusCode other : {0, 4, 5, -1, -2, -3, INT_MIN, INT_MAX, 255, 256}) {
    EXPECT_EQ(wdt::StatusMessage(other), printed::Line(printed::kUnknownError)) << other;
  }
}

}  // namespace
