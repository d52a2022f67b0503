// A kernel watchdog device (/dev/watchdogN) behind the six operations. The
// mapping is plain C++ over a small seam of system calls (device_calls.h),
// so tests can put a fake device behind it; the platform's file provides the
// real calls. Whether a path is opened at all is open_policy.h's to say.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "backend.h"
#include "device_calls.h"
#include "light_lock.h"
#include "watchdog_facts.h"
#include "wdtDLL.h"

namespace kdev {

struct Settings {
  bool trace = false;           // WDT_TRACE=1
  bool allow_nowayout = false;  // WDT_ALLOW_NOWAYOUT=1: a nowayout driver is opened knowingly
  sysfs::Reader sysfs{};
  // WDT_ALLOW_PRETIMEOUT=1: a pretimeout that may panic the kernel is
  // accepted knowingly.
  bool allow_pretimeout = false;
};

class KernelWatchdog final : public standin::Backend {
 public:
  // diagnostics receives whole lines (trace, warnings) for standard error.
  KernelWatchdog(std::string path, SystemCalls calls, Settings settings,
                 std::function<void(std::string_view)> diagnostics);

  StatusCode InitializeSession() override;
  StatusCode EnableTimer(std::uint32_t timeout, std::int32_t min_sec) override;
  StatusCode DisableTimer() override;
  StatusCode WriteTimerValue(std::uint32_t value) override;
  StatusCode ReadTimerValue(std::uint32_t* value) override;
  StatusCode CloseSession() override;
  // The node, and what sysfs says of it (read, never opened).
  std::string Describe() const override;
  // Sets the pretimeout of the open session's watchdog (0 clears it).
  StatusCode SetPretimeout(std::uint32_t seconds) override;
  // The caller plans for a pretimeout that sysfs shows, so every
  // InitializeSession after it opens it under any governor.
  StatusCode AcceptPretimeout() override;

  // A session still open and armed is left to the watchdog, and standard
  // error says when it will reset the machine.
  void AtExit() override;

 private:
  // arguments() formats the call's arguments, only for a trace line.
  template <typename Arguments, typename Act>
  StatusCode Call(std::string_view operation, Arguments arguments, bool needs_session, Act act);
  // The ioctl, with its failure mapped to a status (0 on success).
  StatusCode Ioctl(Request request, int* argument, Failed what = Failed::kOther);
  StatusCode Open();
  StatusCode OpenHeld();  // with the ending signals held back
  // What can be known before the open, and whether the policy opens it.
  StatusCode LookBeforeOpening(sysfs::DeviceNumbers* numbers, bool* identified);
  // Sets a timeout within the driver's range, for the arm and the reload.
  StatusCode SetTimeout(int seconds);
  // A timeout within the driver's range, where sysfs gives it.
  StatusCode InRange(int seconds);
  // "resets the machine in 28 seconds unless something feeds it".
  std::string WhenItResets();
  // Writes one byte, again after an interrupted write; false if it could not.
  bool WriteByte(char byte);
  std::uint32_t OwnTimeLeft(Clock::time_point now) const;
  // After an arm: what the pretimeout in force does, on standard error.
  void SayPretimeout();
  void Warn(const std::string& text);

  wdt::LightLock mutex_;  // the program's two threads call in at once
  const std::string path_;
  const SystemCalls calls_;
  const Settings settings_;
  const std::function<void(std::string_view)> diagnostics_;

  int fd_ = -1;
  std::string identity_;              // the driver's own name for the watchdog
  bool armed_ = false;
  int timeout_ = 0;                   // seconds in force, as the driver reports it
  std::int64_t unit_seconds_ = 1;     // of the values passed in: 1 or 60
  Clock::time_point last_ping_{};     // the last arm or reload
  std::uint32_t stopped_value_ = 0;   // what the own record shows while disarmed
  bool native_time_left_ = true;      // until the driver says it has none
  std::optional<sysfs::Facts> facts_;  // what sysfs said before the open
  bool nowayout_ = false;             // the driver refuses to stop it
  int pretimeout_ = 0;                // seconds, as far as the library knows
  bool pretimeout_accepted_ = false;  // AcceptPretimeout() was called
};

}  // namespace kdev
