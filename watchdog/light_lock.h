// A lock for the few instructions for which the program's two threads hold
// it. Where the other thread does not hold it, taking it is one atomic
// compare-exchange and giving it back one atomic decrement: a pthread
// mutex's own bookkeeping costs more than a whole reload of the simulated
// watchdog. A waiter sleeps (std::atomic's wait) and marks the lock, so that
// only then does giving it back wake anyone; a holder that blocks costs the
// other thread no processor time. Lockable: std::lock_guard and
// std::unique_lock take it.
#pragma once

#include <atomic>

namespace wdt {

class LightLock {
 public:
  void lock() {
    int free = kFree;
    if (!state_.compare_exchange_strong(free, kHeld, std::memory_order_acquire)) Await(free);
  }
  bool try_lock() {
    int free = kFree;
    return state_.compare_exchange_strong(free, kHeld, std::memory_order_acquire);
  }
  void unlock() {
    if (state_.fetch_sub(1, std::memory_order_release) != kHeld) {
      state_.store(kFree, std::memory_order_release);
      state_.notify_one();
    }
  }

 private:
  static constexpr int kFree = 0;
  static constexpr int kHeld = 1;
  static constexpr int kWaitedFor = 2;  // held, and someone sleeps on it

  void Await(int seen) {
    if (seen != kWaitedFor) seen = state_.exchange(kWaitedFor, std::memory_order_acquire);
    while (seen != kFree) {
      state_.wait(kWaitedFor, std::memory_order_relaxed);
      seen = state_.exchange(kWaitedFor, std::memory_order_acquire);
    }
  }

  std::atomic<int> state_{kFree};
};

}  // namespace wdt
