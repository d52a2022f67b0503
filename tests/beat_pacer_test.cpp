// The reset proof's beat pacer on its own: each beat written as soon as it is
// due, taking as long as the row says; the pace follows the slowest of the
// last ten writes, and so does the bound that a beat gives the reset.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "reset_proof/beat_pacer.h"

namespace {

using std::chrono::milliseconds;

struct Pacing {
  const char* name;
  std::vector<int> writes_ms;  // each beat's write, in turn
  int next_ms;                 // when the beat after them is due
  int bound_ms;                // the bound of a beat written then
  int slowest_ms;
  friend void PrintTo(const Pacing& row, std::ostream* os) { *os << row.name; }
};

class BeatPacerTest : public testing::TestWithParam<Pacing> {};

TEST_P(BeatPacerTest, FollowsTheSlowestOfTheLastTenWrites) {
  const Pacing& row = GetParam();
  const check::Clock::time_point start{};
  check::BeatPacer pacer(start + check::kBeat);
  for (const int write : row.writes_ms) {
    const check::Clock::time_point started = pacer.next();
    pacer.Wrote(started, started + milliseconds(write));
  }
  EXPECT_EQ(pacer.next() - start, milliseconds(row.next_ms));
  EXPECT_EQ(pacer.Bound(), milliseconds(row.bound_ms));
  EXPECT_EQ(pacer.slowest(), milliseconds(row.slowest_ms));
  EXPECT_EQ(pacer.beats(), row.writes_ms.size());
}

INSTANTIATE_TEST_SUITE_P(
    Disks, BeatPacerTest,
    testing::Values(Pacing{"NoBeatYet", {}, 100, 100, 0},
                    Pacing{"AFastDisk", {10, 10, 10}, 400, 110, 10},
                    // The write's own time is waited out before the next is due.
                    Pacing{"ASlowDisk", {300, 300}, 700, 600, 300},
                    // One write held up slows the ten after it, then no more.
                    Pacing{"OneWriteHeldUp", {10, 500, 10, 10, 10, 10, 10, 10, 10, 10, 10}, 5200, 1000, 500},
                    Pacing{"HeldUpTenWritesAgo", {10, 500, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10}, 5700, 110, 500}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
