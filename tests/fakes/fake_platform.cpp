// The platform layer, driven by the test's script.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <set>
#include <thread>

#include "fake_clock.h"
#include "fake_state.h"
#include "fakes.h"
#include "platform.h"

namespace fake {
namespace {

struct Platform {
  std::vector<std::string> events;
  std::string keys;
  std::size_t next_key = 0;
  std::function<void()> before_key;
  int monitor_passes = 1000000;
  bool end_monitor = false;
  ThreadMode thread_mode = ThreadMode::kRecord;
  std::set<std::thread::id> timer_readers;
  bool monitor_ended = false;
};

Platform& ThePlatform() {
  static Platform platform;
  return platform;
}

std::thread& TheThread() {
  static std::thread thread;
  return thread;
}

}  // namespace

FakeClock& TheClock() {
  static FakeClock clock;
  return clock;
}

std::condition_variable& MonitorWakeUp() {
  static std::condition_variable wake_up;
  return wake_up;
}

std::mutex& StateMutex() {
  static std::mutex mutex;
  return mutex;
}

void LogLocked(std::string event) { ThePlatform().events.push_back(std::move(event)); }

void NoteTimerReaderLocked() { ThePlatform().timer_readers.insert(std::this_thread::get_id()); }

void Log(std::string event) {
  std::lock_guard lock(StateMutex());
  LogLocked(std::move(event));
}

void Reset() {
  EndMonitor();
  std::lock_guard lock(StateMutex());
  ThePlatform() = Platform{};
  TheClock().Restart();
  ResetLibrary();
}

void SetKeys(std::string keys) {
  std::lock_guard lock(StateMutex());
  ThePlatform().keys = std::move(keys);
}

void BeforeEachKey(std::function<void()> hook) {
  std::lock_guard lock(StateMutex());
  ThePlatform().before_key = std::move(hook);
}

void SetMonitorPasses(int passes) {
  std::lock_guard lock(StateMutex());
  ThePlatform().monitor_passes = passes;
}

void SetThreadMode(ThreadMode mode) {
  std::lock_guard lock(StateMutex());
  ThePlatform().thread_mode = mode;
}

void GrantMonitorPasses(int passes) {
  std::lock_guard lock(StateMutex());
  ThePlatform().monitor_passes += passes;
  MonitorWakeUp().notify_all();
}

void EndMonitor() {
  {
    std::lock_guard lock(StateMutex());
    ThePlatform().end_monitor = true;
    MonitorWakeUp().notify_all();
  }
  JoinThread();
}

void JoinThread() {
  if (TheThread().joinable()) TheThread().join();
}

bool MonitorEnded() {
  std::lock_guard lock(StateMutex());
  return ThePlatform().monitor_ended;
}

std::vector<std::string> Events() {
  std::lock_guard lock(StateMutex());
  return ThePlatform().events;
}

}  // namespace fake

namespace platform {

void Prepare() { fake::Log("prepare"); }

int ReadKey() {
  std::function<void()> hook;
  {
    std::lock_guard lock(fake::StateMutex());
    hook = fake::ThePlatform().before_key;
  }
  if (hook) hook();
  std::lock_guard lock(fake::StateMutex());
  fake::Platform& p = fake::ThePlatform();
  const int key = p.next_key < p.keys.size() ? static_cast<unsigned char>(p.keys[p.next_key++])
                                             : kNoMoreKeys;
  char text[16];
  std::snprintf(text, sizeof text, "key 0x%02x", static_cast<unsigned>(key));
  fake::LogLocked(text);
  return key;
}

void Pause() { fake::Log("pause"); }

bool StartDetachedThread(void (*routine)(void*)) {
  fake::Log("start thread");
  fake::ThreadMode mode;
  {
    std::lock_guard lock(fake::StateMutex());
    mode = fake::ThePlatform().thread_mode;
  }
  if (mode == fake::ThreadMode::kFail) return false;
  if (mode == fake::ThreadMode::kRun) {
    fake::TheThread() = std::thread([routine] {
      try {
        routine(nullptr);
      } catch (const fake::StopMonitor&) {
      }
      std::lock_guard lock(fake::StateMutex());
      fake::ThePlatform().monitor_ended = true;
    });
  }
  return true;
}

void SleepMs(unsigned milliseconds) {
  fake::TheClock().Sleep(std::chrono::milliseconds(milliseconds));
  std::unique_lock lock(fake::StateMutex());
  fake::LogLocked("sleep " + std::to_string(milliseconds));
  fake::Platform& p = fake::ThePlatform();
  if (p.timer_readers.count(std::this_thread::get_id()) == 0) return;
  // The monitor's sleep is the one-second one; another would never end it.
  if (milliseconds != 1000) {
    ADD_FAILURE() << "the monitor slept " << milliseconds << " ms instead of 1000";
    throw fake::StopMonitor{};
  }
  if (--p.monitor_passes > 0) return;
  if (p.thread_mode != fake::ThreadMode::kRun) throw fake::StopMonitor{};
  if (!fake::MonitorWakeUp().wait_for(lock, std::chrono::seconds(10),
                                      [&] { return p.monitor_passes > 0 || p.end_monitor; })) {
    ADD_FAILURE() << "the monitor waited ten seconds for more passes";
  }
  if (p.monitor_passes <= 0) throw fake::StopMonitor{};
}

void WriteOut(std::string_view text) { fake::Log("out:" + std::string(text)); }

void WriteErr(std::string_view text) { fake::Log("err:" + std::string(text)); }

void CatchStopSignals(StopSignals) { fake::Log("catch stop signals"); }

bool StopRequested() { return false; }

}  // namespace platform
