// The margin plan on its own, without the simulated watchdog: for each load
// the pretimeout that fires first, whether the load is made, the earliest
// expiry, and where the countdown's watch and the bark's wait must end.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "margin_plan.h"

namespace {

using check::Clock;
using check::MarginPlan;

double SecondsAfter(Clock::time_point at, Clock::time_point then) {
  return std::chrono::duration<double>(then - at).count();
}

struct Load {
  const char* name;
  std::uint32_t timeout, pretimeout;
  double tolerance_pct;
  bool gone;  // the pretimeout was cleared or asked to fire
  std::uint32_t loaded, shown;
  std::uint32_t before;    // the pretimeout that fires first
  const char* crowded;     // why the load is not made; empty: it is
  double expiry_s;         // after the read
  std::uint32_t near_end;  // the highest value at which the countdown's watch stops
  friend void PrintTo(const Load& row, std::ostream* os) { *os << row.name; }
};

class MarginPlanTest : public testing::TestWithParam<Load> {};

TEST_P(MarginPlanTest, AnswersForALoad) {
  const Load& row = GetParam();
  MarginPlan plan(row.timeout, row.pretimeout, row.tolerance_pct);
  if (row.gone) plan.PretimeoutGone();
  EXPECT_EQ(plan.Before(row.loaded), row.before);
  EXPECT_EQ(plan.Crowded(row.loaded), row.crowded);
  const Clock::time_point at{std::chrono::seconds(100)};
  EXPECT_NEAR(SecondsAfter(at, plan.Expiry(at, row.shown, row.loaded)), row.expiry_s, 1e-6);
  EXPECT_TRUE(plan.NearEnd(row.near_end));
  EXPECT_FALSE(plan.NearEnd(row.near_end + 1));
}

constexpr const char* kKept = "";

INSTANTIATE_TEST_SUITE_P(
    Loads, MarginPlanTest,
    testing::Values(
        Load{"NoPretimeout", 30, 0, 5, false, 30, 30, 0, kKept, 29 * 0.95, 3},
        Load{"ReadBackRoundedDown", 30, 0, 5, false, 30, 29, 0, kKept, 28 * 0.95, 3},
        Load{"AWiderTolerance", 30, 0, 50, false, 30, 30, 0, kKept, 29 * 0.5, 3},
        Load{"ThePretimeoutFiresFirst", 30, 5, 5, false, 30, 30, 5, kKept, 24 * 0.95, 8},
        Load{"APretimeoutAtTheLoadNeverFires", 10, 10, 5, false, 10, 10, 0, kKept, 9 * 0.95, 3},
        Load{"APretimeoutAboveTheLoadNeverFires", 10, 12, 5, false, 10, 10, 0, kKept, 9 * 0.95, 3},
        Load{"JustRoomEnough", 10, 4, 50, false, 10, 10, 4, kKept, 5 * 0.5, 7},
        Load{"JustTooLittleRoom", 10, 5, 50, false, 10, 10, 5,
             "the pretimeout of 5 s fires 5 s after a load of 10, too soon to keep 2.5 s from it; a longer --timeout "
             "gives room",
             4 * 0.5, 8},
        Load{"ArmCrowded", 30, 27, 5, false, 30, 30, 27,
             "the pretimeout of 27 s fires 3 s after a load of 30, too soon to keep 2.5 s from it; a longer --timeout "
             "gives room",
             2 * 0.95, 30},
        Load{"ReloadCrowded", 25, 12, 5, false, 15, 15, 12,
             "the pretimeout of 12 s fires 3 s after a load of 15, too soon to keep 2.5 s from it; a longer --timeout "
             "gives room",
             2 * 0.95, 15},
        Load{"ThePretimeoutGone", 30, 27, 5, true, 30, 30, 0, kKept, 29 * 0.95, 3},
        Load{"ShownBelowThePretimeout", 30, 5, 5, false, 30, 3, 5, kKept, 0, 8}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MarginPlan, KeepsTheMarginThroughTheBarksWait) {
  const MarginPlan plan(10, 0, 5);  // 9 units at 0.95 s: 8.55 s
  EXPECT_TRUE(plan.KeepsMarginFor(5.5));
  EXPECT_TRUE(plan.KeepsMarginFor(6.0));
  EXPECT_FALSE(plan.KeepsMarginFor(6.1));
  EXPECT_DOUBLE_EQ(plan.Fastest(), 0.95);
}

TEST(MarginPlan, ACounterSeenCountingFasterRunsOutSooner) {
  const Clock::time_point at{std::chrono::seconds(100)};
  EXPECT_DOUBLE_EQ(SecondsAfter(at, MarginPlan::FastExpiry(at, 11, 0.5)), 5.0);
  EXPECT_DOUBLE_EQ(SecondsAfter(at, MarginPlan::SafeUntil(at)), -2.5);
  MarginPlan plan(30, 0, 5);
  EXPECT_TRUE(plan.ReloadKeepsMargin(20));
  plan.SeenCounting(0.97);  // within the tolerance: the plan already allows for it
  EXPECT_DOUBLE_EQ(plan.Fastest(), 0.95);
  plan.SeenCounting(0.4);
  plan.SeenCounting(0.5);  // the latest fit counts
  EXPECT_DOUBLE_EQ(plan.Fastest(), 0.5);
  EXPECT_TRUE(plan.ReloadKeepsMargin(6));  // 5 units of 0.5 s: the margin and no more
  EXPECT_FALSE(plan.ReloadKeepsMargin(5));
  // Every later load and wait keeps the margin at the rate seen.
  const Clock::time_point read_at{std::chrono::seconds(100)};
  EXPECT_DOUBLE_EQ(SecondsAfter(read_at, plan.Expiry(read_at, 30, 30)), 29 * 0.5);
  EXPECT_FALSE(plan.KeepsMarginFor(12.1));
}

TEST(MarginPlan, ThePretimeoutFoundIsWhatSysfsShowsWithinTheTimeoutsRange) {
  check::Settings settings;
  EXPECT_EQ(check::FoundPretimeout(settings), 0u);  // no device
  for (const auto& [shown, found] : std::vector<std::pair<std::optional<long>, std::uint32_t>>{
           {std::nullopt, 0}, {-3, 0}, {0, 0}, {5, 5}, {1000, check::kMaxTimeout}}) {
    settings.device = sysfs::Facts{.pretimeout = shown};
    EXPECT_EQ(check::FoundPretimeout(settings), found);
  }
}

}  // namespace
