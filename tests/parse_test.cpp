// The one reading of numbers and lists behind WDT_SIM_FAULTS, WDT_SIM_BEHAVIOUR
// and wdt-check's options: each text read as a call number, a status and a rate.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "parse.h"

namespace {

struct Reading {
  std::string_view text;
  std::optional<std::uint32_t> call;  // whole, 1 to 4294967295
  std::optional<std::int32_t> status;  // whole, signed 32 bits
  std::optional<double> rate;         // up to 3 digits, '.' and up to 6
};

class ParseTable : public testing::TestWithParam<Reading> {};

TEST_P(ParseTable, ReadsWhatTheGrammarAllowsAndNothingElse) {
  const Reading& row = GetParam();
  EXPECT_EQ(wdt::WholeNumber<std::uint32_t>(row.text, 1, UINT32_MAX), row.call);
  EXPECT_EQ(wdt::WholeNumber<std::int32_t>(row.text, INT32_MIN, INT32_MAX), row.status);
  const auto rate = wdt::DecimalNumber(row.text, 3, 6);
  ASSERT_EQ(rate.has_value(), row.rate.has_value());
  if (rate) {
    EXPECT_DOUBLE_EQ(*rate, *row.rate);
  }
}

constexpr std::nullopt_t no = std::nullopt;
INSTANTIATE_TEST_SUITE_P(
    Texts, ParseTable,
    testing::Values(Reading{"7", 7, 7, 7}, Reading{"007", 7, 7, 7}, Reading{"0", no, 0, 0},
                    Reading{"1000", 1000, 1000, no}, Reading{"2147483647", 2147483647, INT32_MAX, no},
                    Reading{"4294967295", UINT32_MAX, no, no}, Reading{"4294967296", no, no, no},
                    Reading{"99999999999999999999999", no, no, no}, Reading{"-0", no, 0, no},
                    Reading{"-2147483648", no, INT32_MIN, no}, Reading{"-2147483649", no, no, no},
                    Reading{"0.5", no, no, 0.5}, Reading{"001.250000", no, no, 1.25},
                    Reading{"100.000001", no, no, 100.000001}, Reading{"1.0000001", no, no, no},
                    Reading{"", no, no, no}, Reading{"-", no, no, no}, Reading{"+3", no, no, no},
                    Reading{"--3", no, no, no}, Reading{" 3", no, no, no}, Reading{"3 ", no, no, no},
                    Reading{"0x3", no, no, no}, Reading{"3e1", no, no, no}, Reading{".5", no, no, no},
                    Reading{"5.", no, no, no}, Reading{"1.2.3", no, no, no}, Reading{"-0.5", no, no, no},
                    Reading{std::string_view("3\0", 2), no, no, no}));

TEST(ParseList, EveryEntryBetweenCommasEmptyOnesIncluded) {
  using List = std::vector<std::string_view>;
  EXPECT_EQ(wdt::SplitList(""), List{});
  EXPECT_EQ(wdt::SplitList("a"), List{"a"});
  EXPECT_EQ(wdt::SplitList("a,,bc"), (List{"a", "", "bc"}));
  EXPECT_EQ(wdt::SplitList(","), (List{"", ""}));
}

TEST(ParseLimits, AreQuotedAsWritten) {
  EXPECT_EQ(wdt::FromTo(5u, 255u), "from 5 to 255");
  EXPECT_EQ(wdt::FromTo(0.01, 100.0), "from 0.01 to 100");
  EXPECT_EQ(wdt::FromTo(-1, INT32_MAX), "from -1 to 2147483647");
}

}  // namespace
