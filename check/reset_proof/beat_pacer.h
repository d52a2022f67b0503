// The pace of the beats while the reset is awaited, each a record on disk
// that says when the machine was last alive. Every kBeat where the disk keeps
// up; the pace follows the slowest of the last ten writes, so a slow disk
// slows the beats and widens the bound that they give the reset, and a write
// that a busy moment held up does so for a second or so.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>

#include "reset_proof/reset_proof.h"
#include "settings.h"

namespace check {

class BeatPacer {
 public:
  explicit BeatPacer(Clock::time_point first) : next_(first) {}

  // When the next beat is due.
  Clock::time_point next() const { return next_; }
  // How long after a beat written now the next one is on disk at the
  // latest: the pace and the slowest recent write.
  Clock::duration Bound() const { return Pace() + Slow(); }
  // A beat's write, from `started` until it was on disk.
  void Wrote(Clock::time_point started, Clock::time_point written) {
    const Clock::duration pace = Pace();
    recent_[beats_++ % recent_.size()] = written - started;
    slowest_ = std::max(slowest_, written - started);
    next_ = std::max(started + pace, written);
  }
  std::size_t beats() const { return beats_; }
  // Of all the writes, for the figures.
  Clock::duration slowest() const { return slowest_; }

 private:
  Clock::duration Slow() const { return *std::max_element(recent_.begin(), recent_.end()); }
  Clock::duration Pace() const { return std::max(kBeat, Slow()); }

  std::array<Clock::duration, 10> recent_{};
  std::size_t beats_ = 0;
  Clock::duration slowest_{};
  Clock::time_point next_;
};

}  // namespace check
