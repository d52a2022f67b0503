// A clock that moves when the code under test sleeps, and by a microsecond
// at each look, as a call takes time. Past an hour of its time, or ten
// million looks at it, it throws: a run that would never end fails its test
// instead of hanging it.
#pragma once

#include <chrono>
#include <functional>
#include <stdexcept>

namespace fake {

class FakeClock {
 public:
  using Clock = std::chrono::steady_clock;

  Clock::time_point Now() {
    if (++looks_ > 10'000'000) throw std::runtime_error("the clock was looked at ten million times");
    return now_ += std::chrono::microseconds(1);
  }
  void Sleep(Clock::duration duration) {
    now_ += duration;
    if (now_ - start_ > std::chrono::hours(1)) throw std::runtime_error("an hour went by");
    if (after_sleep) after_sleep();
  }
  Clock::duration Elapsed() const { return now_ - start_; }

  std::function<void()> after_sleep;  // e.g. a stop signal at a given time

 private:
  const Clock::time_point start_ = Clock::time_point(std::chrono::hours(1000));
  Clock::time_point now_ = start_;
  long looks_ = 0;
};

}  // namespace fake
