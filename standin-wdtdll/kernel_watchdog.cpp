#include "kernel_watchdog.h"

#include <cerrno>
#include <limits>
#include <thread>
#include <utility>
#include <vector>

#include "open_policy.h"
#include "printable.h"
#include "status_codes.h"
#include "trace.h"

namespace kdev {
namespace {

using wdt::kBadParameter;
using wdt::kNoCommunication;
using wdt::kNoHandle;
using wdt::kOk;

// Seconds for `value` units, or -1 where the kernel's int cannot hold them.
int ToSeconds(std::uint32_t value, std::int64_t unit_seconds) {
  const std::int64_t seconds = static_cast<std::int64_t>(value) * unit_seconds;
  return seconds > std::numeric_limits<int>::max() ? -1 : static_cast<int>(seconds);
}

constexpr const char* kMagicNotWritten =
    "cannot write the magic close character; the watchdog stays armed";

}  // namespace

KernelWatchdog::KernelWatchdog(std::string path, SystemCalls calls, Settings settings,
                               std::function<void(std::string_view)> diagnostics)
    : path_(std::move(path)),
      calls_(calls),
      settings_(std::move(settings)),
      diagnostics_(std::move(diagnostics)) {}

template <typename Arguments, typename Act>
StatusCode KernelWatchdog::Call(std::string_view operation, Arguments arguments, bool needs_session,
                                Act act) {
  const std::lock_guard lock(mutex_);
  std::string result;
  const StatusCode status = needs_session && fd_ < 0 ? kNoHandle : act(result);
  if (settings_.trace) diagnostics_(standin::TraceLine(operation, arguments(), status, result));
  return status;
}

void KernelWatchdog::Warn(const std::string& text) {
  diagnostics_("wdtDLL (" + wdt::Printable(path_) + "): " + text + "\n");
}

bool KernelWatchdog::WriteByte(char byte) {
  long written = 0;
  do {
    written = calls_.write(fd_, &byte, 1);
  } while (written == -EINTR);
  return written == 1;
}

StatusCode KernelWatchdog::Ioctl(Request request, int* argument, Failed what) {
  const int result = calls_.ioctl(fd_, request, argument);
  return result < 0 ? StatusForErrno(what, -result) : kOk;
}

std::uint32_t KernelWatchdog::OwnTimeLeft(Clock::time_point now) const {
  const Clock::time_point deadline = last_ping_ + std::chrono::seconds(timeout_);
  if (now >= deadline) return 0;
  // Whole seconds, rounded up: the full timeout right after a reload.
  const auto left = std::chrono::ceil<std::chrono::seconds>(deadline - now).count();
  return static_cast<std::uint32_t>(left);
}

StatusCode KernelWatchdog::Open() {
  if (fd_ >= 0) return kNoHandle;  // one session at a time
  // Like wdctl: no signal may end the process between the open, which starts
  // a watchdog, and the disarm.
  calls_.hold_signals(true);
  const StatusCode status = OpenHeld();
  calls_.hold_signals(false);
  return status;
}

std::string KernelWatchdog::Describe() const {
  std::string text = "kind=device\nnode=" + wdt::Printable(path_) + "\n";
  sysfs::DeviceNumbers numbers;
  if (calls_.stat_device(path_.c_str(), &numbers) != 1) return text;
  const sysfs::Identification found = settings_.sysfs.Identify(numbers);
  if (found.kind != sysfs::Identification::Kind::kWatchdog || !found.facts) return text;
  if (found.facts->identity) text += "identity=" + wdt::Printable(*found.facts->identity) + "\n";
  if (found.facts->driver) text += "driver=" + wdt::Printable(*found.facts->driver) + "\n";
  if (found.facts->software) text += "software=1\n";
  return text;
}

StatusCode KernelWatchdog::LookBeforeOpening(sysfs::DeviceNumbers* numbers, bool* identified) {
  Found found{.stat = calls_.stat_device(path_.c_str(), numbers)};
  if (found.stat == 1) found.sysfs = settings_.sysfs.Identify(*numbers);
  OpenVerdict verdict = BeforeOpening(
      found, {.nowayout = settings_.allow_nowayout, .pretimeout = settings_.allow_pretimeout || pretimeout_accepted_});
  if (!verdict.warning.empty()) Warn(verdict.warning);
  *identified = verdict.identified;
  facts_ = std::move(verdict.facts);
  pretimeout_ = verdict.pretimeout;
  return verdict.status;
}

StatusCode KernelWatchdog::OpenHeld() {
  sysfs::DeviceNumbers numbers;
  bool identified = false;
  if (const StatusCode status = LookBeforeOpening(&numbers, &identified); status != kOk) return status;
  const int fd = calls_.open(path_.c_str());
  if (fd < 0) {
    // Who holds it is looked up only for a busy device.
    Warn(OpenFailedText(-fd, -fd == EBUSY ? settings_.sysfs.Holders(NodesToAskAbout(facts_, path_))
                                          : std::vector<sysfs::Holder>{}));
    return StatusForErrno(Failed::kOpen, -fd);
  }
  // Nothing is written to, or asked of, what is not a watchdog; and what was
  // opened must be what was looked at (the path may have changed since).
  sysfs::DeviceNumbers opened;
  const int character_device = calls_.fstat_device(fd, &opened);
  std::string identity;
  const char* refused = character_device != 1                 ? "not a character device"
                        : identified && !(opened == numbers)  ? "the path changed while it was opened"
                        : calls_.identify(fd, &identity) != 0 ? "not a watchdog device"
                                                              : nullptr;
  if (refused != nullptr) {
    calls_.close(fd);
    Warn(refused);
    return kNoHandle;
  }
  fd_ = fd;
  identity_ = identity;
  // Opening has started the watchdog with the driver's last timeout: the
  // session starts disarmed, so stop it at once.
  armed_ = true;
  last_ping_ = calls_.now();
  int option = kDisableCard;
  const int disarmed = calls_.ioctl(fd_, Request::kSetOptions, &option);
  if (disarmed == 0) {
    armed_ = false;
  } else if (-disarmed != EBUSY) {
    // A watchdog that cannot be stopped this way: let the close stop it
    // where it can.
    if (!WriteByte(kMagicClose)) Warn(kMagicNotWritten);
    calls_.close(fd_);
    fd_ = -1;
    armed_ = false;
    Warn("cannot disarm the device: " + ErrnoText(-disarmed));
    return StatusForErrno(Failed::kOther, -disarmed);
  }
  int timeout = 0;
  timeout_ = Ioctl(Request::kGetTimeout, &timeout) == kOk ? timeout : 0;
  // A magic character that an earlier user wrote while the watchdog stood
  // still stays set and would make a crash of this process stop the
  // watchdog on close instead of letting it fire. Any other byte clears it
  // (and pings, which does nothing to a stopped watchdog).
  if (!WriteByte('\n')) Warn("cannot clear a stale magic close");
  nowayout_ = armed_;
  if (armed_) {
    last_ping_ = calls_.now();
    Warn("the driver refuses to disarm (nowayout); the session goes on armed with its " +
         std::to_string(timeout_) + "-second timeout");
  }
  stopped_value_ = 0;
  native_time_left_ = true;
  return kOk;
}

StatusCode KernelWatchdog::InitializeSession() {
  return Call("InitializeSession", standin::kNoArguments, false, [&](std::string& result) {
    const StatusCode status = Open();
    if (status == kOk && settings_.trace) result = " (" + wdt::Printable(identity_) + ")";
    return status;
  });
}

StatusCode KernelWatchdog::EnableTimer(std::uint32_t timeout, std::int32_t min_sec) {
  return Call("EnableTimer", [&] { return std::to_string(timeout) + ", " + std::to_string(min_sec); },
              true, [&](std::string&) {
                if (min_sec != 0 && min_sec != 1) return kBadParameter;
                const std::int64_t unit_seconds = min_sec == 0 ? 1 : 60;
                int seconds = ToSeconds(timeout, unit_seconds);
                if (seconds < 0) return kBadParameter;
                if (const StatusCode s = SetTimeout(seconds); s != kOk) return s;
                unit_seconds_ = unit_seconds;
                // Enabling does not ping a watchdog that already runs.
                int option = kEnableCard;
                if (const StatusCode s = Ioctl(Request::kSetOptions, &option); s != kOk) return s;
                armed_ = true;
                last_ping_ = calls_.now();
                if (const StatusCode s = Ioctl(Request::kKeepAlive, nullptr); s != kOk) return s;
                last_ping_ = calls_.now();
                SayPretimeout();
                return kOk;
              });
}

void KernelWatchdog::SayPretimeout() {
  if (pretimeout_ <= 0) return;
  int now = 0;
  if (Ioctl(Request::kGetPretimeout, &now) != kOk) return;
  if (now == 0) {
    Warn("the kernel dropped the pretimeout of " + std::to_string(pretimeout_) + " s: the timeout of " +
         std::to_string(timeout_) + " s is not above it");
  } else if (const std::string text = sysfs::PretimeoutText(now, timeout_, facts_ ? facts_->pretimeout_governor
                                                                                  : std::nullopt);
             !text.empty()) {
    Warn(text);
  }
  pretimeout_ = now;
}

StatusCode KernelWatchdog::SetPretimeout(std::uint32_t seconds) {
  return Call("SetPretimeout", [&] { return std::to_string(seconds); }, true, [&](std::string&) {
    int value = seconds > static_cast<std::uint32_t>(std::numeric_limits<int>::max()) ? -1 : static_cast<int>(seconds);
    if (value < 0) return kBadParameter;
    if (const StatusCode s = Ioctl(Request::kSetPretimeout, &value, Failed::kSetValue); s != kOk) return s;
    pretimeout_ = value;
    return kOk;
  });
}

StatusCode KernelWatchdog::AcceptPretimeout() {
  return Call("AcceptPretimeout", standin::kNoArguments, false, [&](std::string&) {
    pretimeout_accepted_ = true;
    return kOk;
  });
}

StatusCode KernelWatchdog::DisableTimer() {
  return Call("DisableTimer", standin::kNoArguments, true, [&](std::string&) {
    int option = kDisableCard;
    if (const int refused = calls_.ioctl(fd_, Request::kSetOptions, &option); refused < 0) {
      if (-refused == EBUSY) {
        nowayout_ = true;
        Warn("the driver refuses to stop the watchdog (nowayout)");
      }
      return StatusForErrno(Failed::kOther, -refused);
    }
    if (armed_) {
      // A disarmed counter stops where it stood.
      stopped_value_ = OwnTimeLeft(calls_.now());
      armed_ = false;
    }
    return kOk;
  });
}

StatusCode KernelWatchdog::WriteTimerValue(std::uint32_t value) {
  return Call("WriteTimerValue", [&] { return std::to_string(value); }, true, [&](std::string&) {
    int seconds = ToSeconds(value, unit_seconds_);
    if (seconds < 0) return kBadParameter;
    // Neither call arms a disarmed watchdog; a new timeout also pings.
    if (seconds != timeout_) {
      if (const StatusCode s = SetTimeout(seconds); s != kOk) return s;
    } else if (const StatusCode s = Ioctl(Request::kKeepAlive, nullptr); s != kOk) {
      return s;
    }
    if (armed_) last_ping_ = calls_.now();
    return kOk;
  });
}

StatusCode KernelWatchdog::ReadTimerValue(std::uint32_t* value) {
  return Call("ReadTimerValue", standin::kNoArguments, true, [&](std::string& result) {
    if (value == nullptr) return kBadParameter;
    std::uint32_t seconds = 0;
    int left = 0;
    const int native = native_time_left_ ? calls_.ioctl(fd_, Request::kGetTimeLeft, &left) : -1;
    if (native_time_left_ && native == 0) {
      seconds = left > 0 ? static_cast<std::uint32_t>(left) : 0;
    } else if (native_time_left_ && -native != EOPNOTSUPP && -native != ENOTTY) {
      return StatusForErrno(Failed::kOther, -native);
    } else {
      // The driver cannot tell (softdog, i6300esb): count from the last arm
      // or reload.
      native_time_left_ = false;
      seconds = armed_ ? OwnTimeLeft(calls_.now()) : stopped_value_;
    }
    // In the unit of the timeout: whole minutes left, rounded up.
    *value = unit_seconds_ == 1
                 ? seconds
                 : static_cast<std::uint32_t>((seconds + unit_seconds_ - 1) / unit_seconds_);
    if (settings_.trace) result = " (value " + std::to_string(*value) + ")";
    return kOk;
  });
}

StatusCode KernelWatchdog::CloseSession() {
  return Call("CloseSession", standin::kNoArguments, true, [&](std::string&) {
    // The device stays as the program left it. An armed one gets the magic
    // close, so the driver disarms it where it may. A disarmed one never
    // does: the magic written to a stopped watchdog outlives the close and
    // would make the next user's crash stop the watchdog.
    if (armed_ && !WriteByte(kMagicClose)) Warn(kMagicNotWritten);
    if (armed_ && nowayout_) Warn("the watchdog is left running (nowayout) and " + WhenItResets());
    const int closed = calls_.close(fd_);
    fd_ = -1;
    armed_ = false;
    return closed < 0 ? StatusForErrno(Failed::kOther, -closed) : kOk;
  });
}

void KernelWatchdog::AtExit() {
  // The monitor thread may be inside a call: wait for it a little, never for
  // good (a driver stuck in an ioctl must not keep the process alive).
  std::unique_lock lock(mutex_, std::defer_lock);
  for (int tries = 0; tries < 50 && !lock.try_lock(); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!lock.owns_lock()) return;
  if (fd_ >= 0 && armed_) Warn("the process ends with the watchdog armed: it " + WhenItResets());
}

std::string KernelWatchdog::WhenItResets() {
  int left = 0;
  const std::uint32_t seconds =
      native_time_left_ && calls_.ioctl(fd_, Request::kGetTimeLeft, &left) == 0 && left >= 0
          ? static_cast<std::uint32_t>(left)
          : OwnTimeLeft(calls_.now());
  return "resets the machine in " + std::to_string(seconds) + " seconds unless something feeds it";
}

StatusCode KernelWatchdog::SetTimeout(int seconds) {
  if (const StatusCode s = InRange(seconds); s != kOk) return s;
  if (const StatusCode s = Ioctl(Request::kSetTimeout, &seconds, Failed::kSetValue); s != kOk) return s;
  timeout_ = seconds;  // the driver may have rounded it
  return kOk;
}

StatusCode KernelWatchdog::InRange(int seconds) {
  if (!facts_) return kOk;
  // A maximum of 0 is none: the watchdog core then pings the hardware itself.
  const std::optional<long> low = facts_->min_timeout;
  const std::optional<long> high = facts_->max_timeout.value_or(0) > 0 ? facts_->max_timeout : std::nullopt;
  if ((!low || seconds >= *low) && (!high || seconds <= *high)) return kOk;
  const std::string range = low && high ? "from " + std::to_string(*low) + " to " + std::to_string(*high)
                            : low       ? "at least " + std::to_string(*low)
                                        : "at most " + std::to_string(*high);
  Warn("a timeout of " + std::to_string(seconds) + " seconds is outside the driver's range: it takes " + range +
       " seconds");
  return kBadParameter;
}

}  // namespace kdev
