// A clock that moves when the code under test sleeps, and by a microsecond
// at each look, as a call takes time. Past an hour of its time, or ten
// million looks at it, it throws: a run that would never end fails its test
// instead of hanging it. Two threads may look and sleep at once.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>

namespace fake {

class FakeClock {
 public:
  using Clock = std::chrono::steady_clock;

  Clock::time_point Now() {
    if (++looks_ > 10'000'000) throw std::runtime_error("the clock was looked at ten million times");
    return start_ + Clock::duration(elapsed_ += kLook);
  }
  void Sleep(Clock::duration duration) {
    if (Clock::duration(elapsed_ += duration.count()) > std::chrono::hours(1)) {
      throw std::runtime_error("an hour went by");
    }
    if (after_sleep) after_sleep();
  }
  Clock::duration Elapsed() const { return Clock::duration(elapsed_.load()); }
  void Restart() {
    elapsed_ = 0;
    looks_ = 0;
    after_sleep = nullptr;
  }

  std::function<void()> after_sleep;  // e.g. a stop signal at a given time

 private:
  static constexpr Clock::rep kLook = Clock::duration(std::chrono::microseconds(1)).count();
  const Clock::time_point start_ = Clock::time_point(std::chrono::hours(1000));
  std::atomic<Clock::rep> elapsed_{0};
  std::atomic<long> looks_{0};
};

}  // namespace fake
