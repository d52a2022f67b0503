#include "checker.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <span>
#include <variant>
#include <cstdio>
#include <tuple>
#include <utility>

#include "output.h"
#include "parse.h"
#include "printable.h"
#include "status_messages.h"

namespace check {
namespace {

constexpr std::int32_t kSeconds = 0;  // min_sec: the timeout counts seconds
constexpr const char* kNotArmed = "the watchdog was not armed with a value read back";
// How long after the latest on-time event the wait for it goes on.
constexpr Clock::duration kPretimeoutGrace = 250ms;

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

using wdt::Fixed;

// As short as it reads: 5, 2.5, 0.1.
std::string Short(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string Whole(std::uint32_t value) { return std::to_string(value); }

// Drivers round a part of a unit either way: right after a load of
// `loaded`, the counter may show loaded or loaded - 1.
bool JustLoaded(std::uint32_t shown, std::uint32_t loaded) {
  return shown == loaded || shown + 1 == loaded;
}

Check Judged(std::string_view name, bool pass, std::string detail, std::vector<Figure> figures = {},
             Evidence evidence = Evidence::kHardware) {
  return {std::string(name), pass ? Result::kPass : Result::kFail, std::move(detail), std::move(figures), 0,
          evidence};
}

Check Skipped(std::string_view name, std::string why) {
  return {std::string(name), Result::kSkip, std::move(why), {}, 0, Evidence::kNone};
}

// A call that failed, with the status line of the shared table.
Check CallFailed(std::string_view name, const std::string& call, StatusCode status) {
  std::string line = wdt::StatusMessage(status);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return Judged(name, false, call + " returned " + std::to_string(status) + ": " + line, {},
                Evidence::kCallStatus);
}

constexpr const char* kLibraryCount = "counted by the library: the driver reports no time left";

// The reset may come as late as the second expiry (a TCO-style watchdog
// resets on it), and this much after it: seconds after the last reload.
constexpr double kLateBy = 10;
double LatestReset(double timeout) { return 2 * timeout + kLateBy; }
constexpr std::string_view kLinkedLibrary = "the linked library";
// How often the machine is recorded alive while the watchdog runs out, where
// the disk keeps up: the reset is bounded to this and a write.
constexpr Clock::duration kBeat = 100ms;

// A wall-clock time as the record and the operator read it: 08:01:02 UTC.
std::string WallTime(double seconds) {
  const std::time_t whole = static_cast<std::time_t>(seconds);
  char text[32] = "?";
  if (const std::tm* utc = std::gmtime(&whole)) std::strftime(text, sizeof text, "%H:%M:%S UTC", utc);
  return text;
}

class Run {
 public:
  Run(const Settings& settings, const Seam& seam)
      : settings_(settings),
        seam_(seam),
        wdt_(seam.wdt),
        started_(seam.time.now()),
        plan_(settings.timeout, FoundPretimeout(settings), settings.tolerance_pct) {}
  Report Go();

  // The checks, each judged as it ends.
  Check Open();
  Check Arm();
  Check Countdown();
  Check Reload();
  Check Pretimeout();
  Check Disarm();
  Check Close();
  // The reset proof's: the last reload before the watchdog is left to run
  // out, the wait for the reset; and after it, the record and its verdicts.
  Check LastReload();
  Check Expire();
  Check Record();
  Check Rebooted() { return JudgeRebooted(record_, seam_.reset.boot_id ? seam_.reset.boot_id() : std::nullopt); }
  Check OnTime() { return JudgeOnTime(record_); }
  Check Cause() { return JudgeCause(record_, seam_.kernel.facts_of ? seam_.kernel.facts_of(record_.device) : std::nullopt); }

 private:
  struct Reading {
    StatusCode status;
    std::uint32_t value;
    Clock::time_point at;  // halfway through the call
  };

  void Judge(Check check);
  // A stop asked for, or a stall seen: the checks still to come are skipped.
  bool Stop();
  Check Stopped(std::string_view name) const { return Skipped(name, report_.stopped); }
  // Every look at the clock; while the watchdog may be armed, one that comes
  // more than kSlack after the last is a stall.
  Clock::time_point Now();
  Reading Read();
  // The margin from now on, after a load of `loaded` that read back as `reading`.
  void Loaded(const Reading& reading, std::uint32_t loaded) { expiry_ = plan_.Expiry(reading.at, reading.value, loaded); }
  // Puts back the device's timeout, pretimeout and governor as they were
  // found, once it is disarmed, and says what it could not.
  void PutBack();
  // The driver has no time left of its own (softdog, i6300esb): what the
  // library reads back is its own count, no measurement.
  bool LibraryCounts() const { return settings_.device && !settings_.device->reports_timeleft; }
  // What a value read back rests on, and the words that say so where it is
  // the library's own count.
  Evidence ReadBack() const { return LibraryCounts() ? Evidence::kLibraryCount : Evidence::kHardware; }
  std::string ReadBackNote() const { return LibraryCounts() ? std::string("; ") + kLibraryCount : ""; }
  Clock::time_point SafeUntil() const { return MarginPlan::SafeUntil(expiry_); }
  std::string Timeout() const { return Whole(settings_.timeout); }
  // Replaces the record on disk, or writes its next beat in place; false,
  // with the run ended, if it cannot be.
  bool Write();
  bool Beat();
  // Reads the countdown into *watch; a check only when the watch itself
  // ended in a failed call or a stop.
  std::optional<Check> WatchCountdown(Watch* watch);

  const Settings& settings_;
  const Seam& seam_;
  const wdt::Operations& wdt_;
  const Clock::time_point started_;
  Report report_;
  bool opened_ = false;
  bool known_ = false;          // armed, and a value read back: the margin is known
  bool watched_ = false;        // from the arm to the disarm: gaps are stalls
  Clock::time_point last_look_{};
  Clock::duration stall_{};     // the first stall seen, zero if none
  Clock::time_point expiry_{};  // the earliest that the armed watchdog may run out
  Clock::time_point armed_at_{};  // the end of the arm's call
  ResetRecord record_;
  bool recorded_ = false;         // the record is on disk: its end must say how the wait ended
  bool reload_took_ = false;
  Clock::time_point reloaded_at_{};  // the last reload, on this clock
  Clock::time_point judged_at_{};  // the end of the check before
  double fast_ = 1;             // seconds per unit of a counter that counts faster
  MarginPlan plan_;
  bool armed_ = false;          // armed and not disarmed since
};

void Run::Judge(Check check) {
  const Clock::time_point now = seam_.time.now();
  check.time_s = Seconds(now - (judged_at_ == Clock::time_point{} ? started_ : judged_at_));
  judged_at_ = now;
  report_.checks.push_back(std::move(check));
  if (seam_.output.judged) seam_.output.judged(report_.checks.back(), report_.checks.size());
}

bool Run::Stop() {
  if (!report_.stopped.empty()) return true;
  if (stall_ != Clock::duration::zero()) {
    report_.stopped = "stalled for " + Fixed(Seconds(stall_), 1) + " s";
  } else if (const std::string why = seam_.time.stop_requested(); !why.empty()) {
    report_.stopped = "stopped by " + why;
  }
  return !report_.stopped.empty();
}

Clock::time_point Run::Now() {
  const Clock::time_point now = seam_.time.now();
  if (watched_ && stall_ == Clock::duration::zero() && now - last_look_ > kSlack) stall_ = now - last_look_;
  last_look_ = now;
  return now;
}

Run::Reading Run::Read() {
  const Clock::time_point before = Now();
  std::uint32_t value = 0;
  const StatusCode status = wdt_.read_timer_value(&value);
  return {status, value, before + (Now() - before) / 2};
}

// The checks in the order in which they run, for each mode. Once the first
// has passed (the session open, the record read), each runs whatever came
// before it; disarm and close are also the cleanup, and run on every road.
struct CheckStep {
  std::string_view name;
  Check (Run::*run)();
};
constexpr CheckStep kChecks[] = {
    {"open", &Run::Open},     {"arm", &Run::Arm},       {"countdown", &Run::Countdown},
    {"reload", &Run::Reload}, {"disarm", &Run::Disarm}, {"close", &Run::Close},
};
constexpr CheckStep kPretimeoutChecks[] = {
    {"open", &Run::Open},     {"arm", &Run::Arm},           {"countdown", &Run::Countdown},
    {"reload", &Run::Reload}, {"pretimeout", &Run::Pretimeout}, {"disarm", &Run::Disarm},
    {"close", &Run::Close},
};
constexpr CheckStep kExpireChecks[] = {
    {"open", &Run::Open},       {"arm", &Run::Arm},       {"reload", &Run::LastReload},
    {"expire", &Run::Expire},   {"disarm", &Run::Disarm}, {"close", &Run::Close},
};
constexpr CheckStep kAfterResetChecks[] = {
    {"record", &Run::Record}, {"rebooted", &Run::Rebooted}, {"on-time", &Run::OnTime}, {"cause", &Run::Cause},
};

std::span<const CheckStep> Steps(Mode mode) {
  switch (mode) {
    case Mode::kCheck: return kChecks;
    case Mode::kPretimeout: return kPretimeoutChecks;
    case Mode::kExpire: return kExpireChecks;
    case Mode::kAfterReset: return kAfterResetChecks;
  }
  return kChecks;
}

Report Run::Go() {
  const std::span<const CheckStep> steps = Steps(settings_.mode);
  const std::string_view gate =
      settings_.mode == Mode::kAfterReset ? "there is no record to judge" : "the session did not open";
  for (const CheckStep& step : steps) {
    Judge(&step == &steps.front() || opened_ ? (this->*step.run)() : Skipped(step.name, std::string(gate)));
  }
  // A wait that a stop, a stall or a failure ended says so in the record.
  if (recorded_ && record_.state == ResetRecord::State::kWaiting) {
    record_.state = ResetRecord::State::kAbandoned;
    Write();
  }
  const bool failed = std::any_of(report_.checks.begin(), report_.checks.end(),
                                  [](const Check& c) { return c.result == Result::kFail; });
  report_.verdict = !opened_ || (!failed && !report_.stopped.empty()) ? Verdict::kCannotRun
                    : failed                                          ? Verdict::kFail
                                                                      : Verdict::kPass;
  report_.duration_s = Seconds(seam_.time.now() - started_);
  return std::move(report_);
}

Check Run::Open() {
  if (Stop()) return Stopped("open");
  // The checks plan every margin against a pretimeout that sysfs shows: the
  // library need not refuse it.
  if (FoundPretimeout(settings_) > 0 && wdt_.accept_pretimeout != nullptr) {
    if (const StatusCode status = wdt_.accept_pretimeout(); status != 0) {
      return CallFailed("open", WDT_ACCEPT_PRETIMEOUT_NAME "()", status);
    }
  }
  if (const StatusCode status = wdt_.initialize_session(); status != 0) {
    return CallFailed("open", "InitializeSession()", status);
  }
  opened_ = true;
  return Judged("open", true, "InitializeSession() returned 0", {}, Evidence::kCallStatus);
}

Check Run::Arm() {
  if (Stop()) return Stopped("arm");
  if (std::string crowded = plan_.Crowded(settings_.timeout); !crowded.empty()) return Skipped("arm", std::move(crowded));
  Now();
  watched_ = true;
  armed_ = true;  // may be, whatever the call returns
  if (const StatusCode status = wdt_.enable_timer(settings_.timeout, kSeconds); status != 0) {
    return CallFailed("arm", "EnableTimer(" + Timeout() + ", 0)", status);
  }
  armed_at_ = Now();
  const Reading read = Read();
  if (Stop()) return Stopped("arm");
  if (read.status != 0) return CallFailed("arm", "ReadTimerValue()", read.status);
  known_ = true;
  Loaded(read, settings_.timeout);
  return Judged("arm", JustLoaded(read.value, settings_.timeout),
                "asked " + Timeout() + ", read " + Whole(read.value) + ReadBackNote(),
                {{"asked", Timeout()}, {"read", Whole(read.value)}}, ReadBack());
}

Check Run::Countdown() {
  if (Stop()) return Stopped("countdown");
  if (!known_) return Skipped("countdown", kNotArmed);
  if (LibraryCounts()) return Skipped("countdown", "the driver reports no time left: the value is counted by the library");
  Watch watch;
  watch.pretimeout = plan_.Before(settings_.timeout);
  if (std::optional<Check> ended = WatchCountdown(&watch)) return *std::move(ended);
  return JudgeCountdown(watch, settings_);
}

std::optional<Check> Run::WatchCountdown(Watch* watch) {
  Reading last = Read();
  if (Stop()) return Stopped("countdown");
  if (last.status != 0) return CallFailed("countdown", "ReadTimerValue()", last.status);
  const Reading first = last;
  const Clock::time_point end = first.at + kCountdownWindow;
  // A counter that has not moved for kStillFor since the arm or its last
  // change is judged at once: it may be one that shows a value while it runs
  // out unseen.
  Clock::time_point moved = armed_at_;
  // A counter faster than one unit a second runs out sooner than its value says.
  std::optional<Clock::time_point> fast_expiry;
  for (;;) {
    const Clock::time_point now = Now();
    if (Stop()) return Stopped("countdown");
    if (now >= end || now - moved >= kStillFor) break;
    if (now >= SafeUntil() || (fast_expiry && now >= MarginPlan::SafeUntil(*fast_expiry))) {
      watch->cut = true;
      break;
    }
    seam_.time.sleep(kCountdownPoll);
    const Reading read = Read();
    if (Stop()) return Stopped("countdown");
    if (read.status != 0) return CallFailed("countdown", "ReadTimerValue()", read.status);
    if (read.value != last.value) {
      // Somewhere between the two reads: halfway, give or take half the time between them.
      watch->edges.push_back({Seconds(last.at - first.at + (read.at - last.at) / 2), read.value,
                              Seconds(read.at - last.at) / 2});
      moved = read.at;
      if (const auto spu = SecondsPerUnit(watch->edges); spu && *spu > 0 && *spu < 1 && read.value > 0) {
        fast_ = *spu;
        fast_expiry = MarginPlan::FastExpiry(read.at, read.value, fast_);
      }
    }
    last = read;
    if (plan_.NearEnd(last.value)) {
      watch->cut = true;
      break;
    }
  }
  watch->first = first.value;
  watch->last = last.value;
  watch->observed_s = Seconds(last.at - first.at);
  watch->since_arm_s = Seconds(first.at - armed_at_);
  return std::nullopt;
}

Check Run::Reload() {
  if (Stop()) return Stopped("reload");
  if (!known_) return Skipped("reload", kNotArmed);
  std::string detail;
  std::vector<Figure> figures;
  bool pass = true;
  // Another value first, then the timeout: both must read back as written.
  const std::uint32_t other = ReloadValue(settings_.timeout);
  if (!MarginPlan::ReloadKeepsMargin(other, fast_)) {
    return Skipped("reload", "the counter counts too fast for a reload to " + Whole(other) +
                                 " to keep the margin");
  }
  for (const std::uint32_t value : {other, settings_.timeout}) {
    if (std::string crowded = plan_.Crowded(value); !crowded.empty()) return Skipped("reload", std::move(crowded));
  }
  for (const auto& [value, wrote, read_name] :
       {std::tuple{other, "wrote", "read"}, std::tuple{settings_.timeout, "wrote_timeout", "read_timeout"}}) {
    if (const StatusCode status = wdt_.write_timer_value(value); status != 0) {
      return CallFailed("reload", "WriteTimerValue(" + Whole(value) + ")", status);
    }
    const Reading read = Read();
    if (Stop()) return Stopped("reload");
    if (read.status != 0) return CallFailed("reload", "ReadTimerValue()", read.status);
    Loaded(read, value);
    pass = pass && JustLoaded(read.value, value);
    detail += (detail.empty() ? "wrote " : "; wrote ") + Whole(value) + ", read " + Whole(read.value);
    figures.push_back({wrote, Whole(value)});
    figures.push_back({read_name, Whole(read.value)});
  }
  return Judged("reload", pass, detail + ReadBackNote(), figures, ReadBack());
}

Check Run::Disarm() {
  watched_ = false;
  if (const StatusCode status = wdt_.disable_timer(); status != 0) {
    if (settings_.device && settings_.device->nowayout.value_or(false)) {
      // The driver cannot stop it: the report says when it resets the machine.
      if (const Reading read = Read(); read.status == 0) report_.left_running_s = read.value;
    }
    return CallFailed("disarm", "DisableTimer()", status);
  }
  known_ = false;
  armed_ = false;
  if (Stop()) return Skipped("disarm", "DisableTimer() returned 0; not watched: " + report_.stopped);
  if (LibraryCounts()) {
    // The library's own count stops where it stood whatever the hardware
    // does: the kernel's state is the evidence.
    const std::optional<sysfs::Facts> now = seam_.kernel.facts_of ? seam_.kernel.facts_of(settings_.device_path) : std::nullopt;
    if (!now || !now->state) {
      return Skipped("disarm", "DisableTimer() returned 0; nothing to judge it on: the driver reports no time "
                               "left and the kernel no state");
    }
    return Judged("disarm", *now->state == "inactive",
                  "DisableTimer() returned 0; the kernel reports the watchdog " + *now->state, {},
                  Evidence::kKernelState);
  }
  const Reading first = Read();
  if (first.status != 0) return CallFailed("disarm", "ReadTimerValue()", first.status);
  Reading last = first;
  while (last.at - first.at < kStillFor) {
    if (Stop()) return Skipped("disarm", "DisableTimer() returned 0; watch cut short: " + report_.stopped);
    seam_.time.sleep(kStillPoll);
    last = Read();
    if (last.status != 0) return CallFailed("disarm", "ReadTimerValue()", last.status);
    if (last.value != first.value) {
      return Judged("disarm", false,
                    "counted on from " + Whole(first.value) + " to " + Whole(last.value) + " within " +
                        Fixed(Seconds(last.at - first.at), 1) + " s after the disarm",
                    {{"value", Whole(first.value)}, {"then", Whole(last.value)}});
    }
  }
  const double still = Seconds(last.at - first.at);
  return Judged("disarm", true, "stayed at " + Whole(first.value) + " for " + Fixed(still, 1) + " s",
                {{"value", Whole(first.value)}, {"still_s", Fixed(still, 3)}});
}

bool Run::Write() {
  const std::string failed = seam_.reset.write_record(FormatRecord(record_));
  if (failed.empty()) return true;
  if (report_.stopped.empty()) report_.stopped = "the record was not written: " + failed;
  return false;
}

bool Run::Beat() {
  ++record_.beat;
  const Slot slot = BeatSlot(record_);
  const std::string failed = seam_.reset.write_in_place(slot.bytes, slot.offset);
  if (failed.empty()) return true;
  if (report_.stopped.empty()) report_.stopped = "the record was not written: " + failed;
  return false;
}

Check Run::LastReload() {
  if (Stop()) return Stopped("reload");
  if (!known_) return Skipped("reload", kNotArmed);
  // A reload that reads back shows that it took only once the counter has
  // fallen: the watch waits for that, as long as the disarm check waits.
  Reading fallen = Read();
  while (fallen.status == 0 && fallen.value + 1 >= settings_.timeout && fallen.at - armed_at_ < kStillFor) {
    if (Stop()) return Stopped("reload");
    seam_.time.sleep(kStillPoll);
    fallen = Read();
  }
  if (Stop()) return Stopped("reload");
  if (fallen.status != 0) return CallFailed("reload", "ReadTimerValue()", fallen.status);
  if (const std::uint32_t before = plan_.Before(settings_.timeout); before > 0) {
    // It would fire before the watchdog runs out: cleared for the wait.
    if (wdt_.set_pretimeout == nullptr) {
      report_.stopped = "a pretimeout of " + Whole(before) +
                        " s is set and the library cannot clear it: it would fire before the watchdog runs out";
      return Stopped("reload");
    }
    if (const StatusCode status = wdt_.set_pretimeout(0); status != 0) {
      return CallFailed("reload", "SetPretimeout(0)", status);
    }
    plan_.PretimeoutGone();
  }
  const std::optional<std::string> boot = seam_.reset.boot_id();
  if (!boot) {
    report_.stopped = "this system gives no boot identity to tell the next boot by";
    return Stopped("reload");
  }
  // The record is on disk before the last reload: from it on, the machine
  // may reset at any instant.
  const double timeout = settings_.timeout;
  record_ = {};
  record_.device = settings_.device_path.empty() ? std::string(kLinkedLibrary) : settings_.device_path;
  record_.identity = settings_.device && settings_.device->identity ? *settings_.device->identity : "";
  record_.timeout_s = settings_.timeout;
  record_.boot_id = *boot;
  record_.reloaded_at = record_.alive_at = seam_.reset.wall_now();
  record_.window_from_s = timeout - 1;
  record_.window_until_s = LatestReset(timeout);
  record_.next_by_s = Seconds(kBeat);
  if (!Write()) return Stopped("reload");
  recorded_ = true;
  reloaded_at_ = Now();
  if (const StatusCode status = wdt_.write_timer_value(settings_.timeout); status != 0) {
    return CallFailed("reload", "WriteTimerValue(" + Timeout() + ")", status);
  }
  const Reading read = Read();
  if (Stop()) return Stopped("reload");
  if (read.status != 0) return CallFailed("reload", "ReadTimerValue()", read.status);
  Loaded(read, settings_.timeout);
  // A watchdog that ignores reloads is not worth letting run out.
  const bool took = JustLoaded(read.value, settings_.timeout) && read.value > fallen.value;
  reload_took_ = took;
  return Judged("reload", took,
                "fell to " + Whole(fallen.value) + ", wrote " + Timeout() + ", read " + Whole(read.value) +
                    ReadBackNote(),
                {{"fell_to", Whole(fallen.value)}, {"wrote", Timeout()}, {"read", Whole(read.value)}}, ReadBack());
}

Check Run::Expire() {
  if (Stop()) return Stopped("expire");
  if (!reload_took_) return Skipped("expire", "the last reload did not read back: not worth letting run out");
  // Left to run out on purpose: no gap is a stall from here on.
  watched_ = false;
  const double latest = LatestReset(settings_.timeout);
  const Clock::time_point end =
      reloaded_at_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(latest));
  seam_.output.said("waiting until " + WallTime(record_.reloaded_at + record_.window_until_s) +
             " for the watchdog to reset the machine: armed " + Timeout() + " s, last reload at " +
             WallTime(record_.reloaded_at) + ", the reset is due from " +
             WallTime(record_.reloaded_at + record_.window_from_s));
  // Each beat is a record on disk that says when the machine was last alive.
  // The pace follows the slowest of the last ten writes: a slow disk slows
  // the beats and widens the bound that they give the reset; a write that a
  // busy moment held up does so for a second or so.
  std::array<Clock::duration, 10> recent{};
  std::size_t beats = 0;
  Clock::duration slowest{};  // of all the writes, for the figures
  Clock::time_point next = reloaded_at_ + kBeat;
  Clock::time_point progress = reloaded_at_ + 5s;
  for (;;) {
    if (Stop()) return Stopped("expire");
    Clock::time_point now = seam_.time.now();
    if (now >= end) break;
    if (now >= next) {
      const Clock::duration slow = *std::max_element(recent.begin(), recent.end());
      const Clock::duration pace = std::max(kBeat, slow);
      record_.alive_at = seam_.reset.wall_now();
      record_.alive_s = Seconds(now - reloaded_at_);
      record_.next_by_s = record_.alive_s + Seconds(pace + slow);
      // The wall clock against the monotonic one: a step is said and kept,
      // and judges nothing.
      const double step = record_.alive_at - record_.reloaded_at - record_.alive_s;
      if (std::abs(step - record_.wall_step_s) > 1) {
        const double by = step - record_.wall_step_s;
        seam_.output.said("the wall clock was set " + std::string(by < 0 ? "back " : "forward ") + Fixed(std::abs(by), 0) +
                   " s while waiting");
        record_.wall_step_s = step;
      }
      if (!Beat()) return Stopped("expire");
      const Clock::time_point written = seam_.time.now();
      recent[beats++ % recent.size()] = written - now;
      slowest = std::max(slowest, written - now);
      if (now >= progress) {
        seam_.output.said("alive at " + WallTime(record_.alive_at) + ", " + Fixed(record_.alive_s, 1) +
                   " s after the last reload");
        progress += 5s;
      }
      next = std::max(now + pace, written);
      now = written;
      if (now >= end) break;
    }
    seam_.time.sleep(std::min<Clock::duration>(std::min(next, end) - now, 100ms));
  }
  record_.state = ResetRecord::State::kNoReset;
  Write();
  return Judged("expire", false,
                "armed " + Timeout() + " s, still alive after " + Short(latest) +
                    " s: the watchdog did not reset the machine",
                {{"armed_s", Timeout()},
                 {"alive_s", Short(latest)},
                 {"beats", std::to_string(beats)},
                 {"slowest_beat_s", Fixed(Seconds(slowest), 4)}});
}

Check Run::Record() {
  std::string text;
  if (const std::string failed = seam_.reset.read_record(&text); !failed.empty()) {
    report_.stopped = "the record cannot be read: " + failed;
    return Judged("record", false, report_.stopped, {}, Evidence::kNone);
  }
  auto parsed = ParseRecord(text);
  if (const std::string* why = std::get_if<std::string>(&parsed)) {
    report_.stopped = "the record is " + *why;
    return Judged("record", false, report_.stopped, {}, Evidence::kNone);
  }
  record_ = std::get<ResetRecord>(std::move(parsed));
  if (record_.state == ResetRecord::State::kAbandoned) {
    report_.stopped = "the wait for the reset was abandoned (a signal, a stop or a failure ended it)";
    return Judged("record", false, report_.stopped, {}, Evidence::kNone);
  }
  opened_ = true;
  return Judged("record", true,
                wdt::Printable(record_.device) + (record_.identity.empty() ? "" : " (" + wdt::Printable(record_.identity) + ")") +
                    ", armed " + Whole(record_.timeout_s) + " s, last reload at " + WallTime(record_.reloaded_at),
                {{"timeout_s", Whole(record_.timeout_s)}, {"reloaded_at", Fixed(record_.reloaded_at, 3)}},
                Evidence::kNone);
}

// The bark: the pretimeout set as asked under a governor that only reports,
// one reload, and the kernel's own record of the event, timed on the
// kernel's monotonic clock against the reload; the watchdog is disarmed well
// before it runs out (the disarm check follows at once).
Check Run::Pretimeout() {
  constexpr std::string_view kName = "pretimeout";
  if (Stop()) return Stopped(kName);
  if (!known_) return Skipped(kName, kNotArmed);
  if (!settings_.device) return Skipped(kName, "sysfs knows no pretimeout of this watchdog");
  const sysfs::Facts& device = *settings_.device;
  if (!device.pretimeout) return Skipped(kName, "the driver has no pretimeout");
  if (wdt_.set_pretimeout == nullptr) {
    return Skipped(kName, "the library has no " WDT_SET_PRETIMEOUT_NAME " operation to set one with");
  }
  const std::vector<std::string> governors = device.pretimeout_governors.value_or(std::vector<std::string>{});
  if (std::find(governors.begin(), governors.end(), "noop") == governors.end()) {
    std::string available;
    for (const std::string& g : governors) available += (available.empty() ? "" : ", ") + wdt::Printable(g);
    return Skipped(kName, "no governor that only reports (noop) is available (available: " +
                              (available.empty() ? "none" : available) + "); modprobe pretimeout_noop gives one");
  }
  const std::uint32_t pretimeout = settings_.pretimeout;
  const double due = settings_.timeout - pretimeout;
  const double tolerance = due * settings_.tolerance_pct / 100;
  // The wait ends a little after the latest on-time event; the watchdog must
  // still be that far from running out.
  const double wait = due + tolerance + Seconds(kPretimeoutGrace);
  if (!plan_.KeepsMarginFor(wait)) {
    return Skipped(kName, "the pretimeout of " + Whole(pretimeout) + " s is too close to the timeout of " + Timeout() +
                              " s to wait for its event and keep the margin; a longer pretimeout gives room");
  }
  if (const std::string why = seam_.kernel.watch_log(); !why.empty()) {
    report_.stopped = "the kernel log cannot be read: " + why;
    return Stopped(kName);
  }
  if (device.pretimeout_governor != "noop") {
    if (const std::string why = seam_.kernel.set_governor(device.name, "noop"); !why.empty()) {
      report_.stopped = "the pretimeout governor cannot be set: " + why;
      return Stopped(kName);
    }
  }
  if (const StatusCode status = wdt_.set_pretimeout(pretimeout); status != 0) {
    return CallFailed(kName, "SetPretimeout(" + Whole(pretimeout) + ")", status);
  }
  plan_.PretimeoutGone();
  const Clock::time_point before = Now();
  if (const StatusCode status = wdt_.write_timer_value(settings_.timeout); status != 0) {
    return CallFailed(kName, "WriteTimerValue(" + Timeout() + ")", status);
  }
  const Clock::time_point reloaded = before + (Now() - before) / 2;
  const Reading read = Read();
  if (Stop()) return Stopped(kName);
  if (read.status != 0) return CallFailed(kName, "ReadTimerValue()", read.status);
  Loaded(read, settings_.timeout);
  const std::string event = device.name + ": pretimeout event";
  const Clock::time_point end = reloaded + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(wait));
  std::optional<double> came;
  for (Clock::time_point now = Now(); !came && now < end && now < SafeUntil(); now = Now()) {
    if (Stop()) return Stopped(kName);
    if (const std::optional<Clock::time_point> at = seam_.kernel.logged(event)) came = Seconds(*at - reloaded);
    if (!came) seam_.time.sleep(kStillPoll);
  }
  return JudgePretimeout(came, settings_.timeout, pretimeout, tolerance);
}

void Run::PutBack() {
  if (!settings_.device || !seam_.kernel.facts_of) return;
  const sysfs::Facts& found = *settings_.device;
  // Timeout, pretimeout and governor as sysfs shows them, in the order in
  // which they go back: the pretimeout must be below the timeout, and a
  // governor acts only on a pretimeout.
  constexpr const char* kNames[] = {"timeout", "pretimeout", "governor"};
  using Values = std::array<std::optional<std::string>, 3>;
  const auto values = [](const std::optional<sysfs::Facts>& facts) {
    const auto seconds = [](const std::optional<long>& value) {
      return value ? std::optional<std::string>(std::to_string(*value) + " s") : std::nullopt;
    };
    return facts ? Values{seconds(facts->timeout), seconds(facts->pretimeout), facts->pretimeout_governor}
                 : Values{};
  };
  // Each puts one back; empty, or why it could not.
  const std::function<std::string()> put[] = {
      [&]() -> std::string {
        const auto timeout = static_cast<std::uint32_t>(*found.timeout);
        const StatusCode status = wdt_.write_timer_value(timeout);
        return status == 0 ? "" : "WriteTimerValue(" + Whole(timeout) + ") returned " + std::to_string(status);
      },
      [&]() -> std::string {
        const auto pretimeout = static_cast<std::uint32_t>(*found.pretimeout);
        if (wdt_.set_pretimeout == nullptr) return "the library has no " WDT_SET_PRETIMEOUT_NAME;
        const StatusCode status = wdt_.set_pretimeout(pretimeout);
        return status == 0 ? "" : "SetPretimeout(" + Whole(pretimeout) + ") returned " + std::to_string(status);
      },
      [&]() -> std::string {
        if (found.pretimeout_governor->empty()) return "a governor cannot be unset";
        if (!seam_.kernel.set_governor) return "no way to set it";
        return seam_.kernel.set_governor(found.name, *found.pretimeout_governor);
      },
  };
  const std::optional<sysfs::Facts> now_facts = seam_.kernel.facts_of(settings_.device_path);
  if (!now_facts) return;
  const Values was = values(found);
  const Values now = values(now_facts);
  std::string why[3];
  for (std::size_t i = 0; i < 3; ++i) {
    if (was[i] && was[i] != now[i]) why[i] = armed_ ? "the watchdog is still running" : put[i]();
  }
  const Values after = values(seam_.kernel.facts_of(settings_.device_path));
  for (std::size_t i = 0; i < 3; ++i) {
    if (!was[i] || was[i] == now[i]) continue;
    const std::string setting = std::string(kNames[i]) + " " + wdt::Printable(*was[i]);
    if (after[i] == was[i]) {
      report_.put_back += (report_.put_back.empty() ? "" : ", ") + setting;
    } else {
      report_.not_put_back += (report_.not_put_back.empty() ? "" : "; ") + setting + " (it is " +
                              wdt::Printable(after[i].value_or("unknown")) + (why[i].empty() ? "" : ": " + why[i]) +
                              ")";
    }
  }
}

Check Run::Close() {
  PutBack();
  if (const StatusCode status = wdt_.close_session(); status != 0) {
    return CallFailed("close", "CloseSession()", status);
  }
  return Judged("close", true, "CloseSession() returned 0", {}, Evidence::kCallStatus);
}

}  // namespace

std::vector<std::string_view> CheckNames(Mode mode) {
  std::vector<std::string_view> names;
  for (const CheckStep& step : Steps(mode)) names.push_back(step.name);
  return names;
}

Check JudgeRebooted(const ResetRecord& record, const std::optional<std::string>& boot_id) {
  if (!boot_id) return Skipped("rebooted", "this system gives no boot identity to compare");
  const std::vector<Figure> figures = {{"boot_before", JsonString(wdt::Printable(record.boot_id))},
                                       {"boot_now", JsonString(wdt::Printable(*boot_id))}};
  if (*boot_id == record.boot_id) {
    return Judged("rebooted", false, "the same boot (" + wdt::Printable(*boot_id) + "): the machine did not restart",
                  figures, Evidence::kNone);
  }
  return Judged("rebooted", true,
                "booted anew: " + wdt::Printable(record.boot_id) + ", then " + wdt::Printable(*boot_id), figures,
                Evidence::kNone);
}

Check JudgeOnTime(const ResetRecord& record) {
  const double alive = record.alive_s;
  const double from = record.window_from_s;
  const double until = record.window_until_s;
  const double bound = record.next_by_s - alive;
  const std::vector<Figure> figures = {{"last_alive_s", Fixed(alive, 3)},
                                       {"window_from_s", Fixed(from, 3)},
                                       {"window_until_s", Fixed(until, 3)},
                                       {"delay_s", Fixed(alive + bound / 2, 3)},
                                       {"delay_from_s", Fixed(alive, 3)},
                                       {"delay_until_s", Fixed(record.next_by_s, 3)},
                                       {"bound_s", Fixed(bound, 3)}};
  std::string notes;
  if (record.version == 1) {
    notes += "; a version 1 record, judged on what it holds: wall-clock times, a beat a second";
  } else if (std::abs(record.wall_step_s) > 1) {
    notes += "; the wall clock was set " + std::string(record.wall_step_s < 0 ? "back " : "forward ") +
             Fixed(std::abs(record.wall_step_s), 0) + " s while waiting, which judges nothing";
  }
  const std::string window = " (the reset was due from " + Short(from) + " s to " + Short(until) + " s)";
  if (record.state == ResetRecord::State::kNoReset) {
    return Judged("on-time", false, "still alive when the window closed, " + Short(until) +
                                        " s after the last reload: the watchdog did not reset the machine" + notes,
                  figures, Evidence::kNone);
  }
  if (alive < from) {
    return Judged("on-time", false, "reset early: last seen alive " + Fixed(alive, 1) +
                                        " s after the last reload" + window + notes, figures, Evidence::kNone);
  }
  if (alive > until) {
    return Judged("on-time", false, "reset late: seen alive " + Fixed(alive, 1) +
                                        " s after the last reload, after the window closed" + window + notes,
                  figures, Evidence::kNone);
  }
  return Judged("on-time", true,
                "reset between " + Fixed(alive, 2) + " s and " + Fixed(record.next_by_s, 2) +
                    " s after the last reload (bound " + Fixed(bound, 2) + " s; the reset was due from " + Short(from) +
                    " s to " + Short(until) + " s)" + notes,
                figures, Evidence::kNone);
}

Check JudgeCause(const ResetRecord& record, const std::optional<sysfs::Facts>& device) {
  if (!device) return Skipped("cause", "no boot status: sysfs knows no watchdog at " + wdt::Printable(record.device));
  if (!record.identity.empty() && device->identity && *device->identity != record.identity) {
    return Skipped("cause", "no boot status: " + wdt::Printable(record.device) + " is now another watchdog (" +
                                wdt::Printable(*device->identity) + ")");
  }
  if (!device->bootstatus) return Skipped("cause", "no boot status: the driver reports none");
  const std::uint32_t status = *device->bootstatus;
  const std::vector<Figure> figures = {{"bootstatus", Whole(status)}};
  if ((status & sysfs::kCardReset) != 0) {
    return Judged("cause", true, "the watchdog reset the machine (boot status: " + sysfs::BootStatusText(status) + ")",
                  figures);
  }
  if (status == 0) {
    return Skipped("cause", "the driver keeps no cause (boot status 0), as softdog and iTCO_wdt do");
  }
  return Judged("cause", false, "the machine started for another reason: " + sysfs::BootStatusText(status), figures);
}

Check JudgeCountdown(const Watch& watch, const Settings& settings) {
  const std::vector<Edge>& edges = watch.edges;
  const auto spu = SecondsPerUnit(edges);
  const double tolerance = settings.tolerance_pct / 100;
  std::vector<Figure> figures = {{"edges", std::to_string(edges.size())},
                                 {"observed_s", Fixed(watch.observed_s, 3)},
                                 {"from", Whole(watch.first)},
                                 {"to", Whole(watch.last)},
                                 {"tolerance_pct", Short(settings.tolerance_pct)}};
  if (spu) figures.insert(figures.begin(), {"seconds_per_unit", Fixed(*spu, 6)});
  const auto failed = [&](std::string why) { return Judged("countdown", false, std::move(why), figures); };
  const std::string edge_count = std::to_string(edges.size()) + (edges.size() == 1 ? " edge" : " edges");
  const std::string in_time = " in " + Fixed(watch.observed_s, 1) + " s";
  for (std::uint32_t before = watch.first; const Edge& edge : edges) {
    if (edge.value > before) return failed("rose from " + Whole(before) + " while armed," + in_time);
    before = edge.value;
  }
  const double since_arm = watch.since_arm_s + watch.observed_s;
  if (edges.empty() && since_arm >= Seconds(kStillFor)) {
    return failed("stayed at " + Whole(watch.first) + " for " + Fixed(since_arm, 1) + " s after the arm");
  }

  // A fitted rate beyond the tolerance says most about a counter off its pace.
  const bool within = spu && std::abs(*spu - 1) <= tolerance;
  const std::string rate = spu ? Fixed(*spu, 3) + " s per unit over " + edge_count + " (tolerance " +
                                     Short(settings.tolerance_pct) + " %)"
                               : "";
  if (spu && !within) return failed(rate);

  // Every stretch without a change, from the arm to the last read, is at
  // most one unit at the slowest rate that the tolerance allows, plus a step
  // for a counter that moves in steps (its changes come at multiples of the
  // step: the shortest time between two of them) and the time between two
  // reads. Each stretch is taken at its shortest, as the reads bound it.
  double step = 0;
  for (std::size_t i = 1; i < edges.size(); ++i) {
    const double gap = edges[i].at_s - edges[i - 1].at_s;
    if (gap < 0.9 && (step == 0 || gap < step)) step = gap;
  }
  const double longest = 1 + tolerance + step + Seconds(kCountdownPoll);
  double from = -watch.since_arm_s;  // the arm
  std::uint32_t value = watch.first;
  for (std::size_t i = 0; i <= edges.size(); ++i) {
    const double until = i < edges.size() ? edges[i].at_s - edges[i].spread_s : watch.observed_s;
    if (until - from > longest) {
      return failed("stayed at " + Whole(value) + " for " + Fixed(until - from, 1) + " s" +
                    (i == 0 ? " after the arm" : "") + ": a unit takes at most " + Fixed(longest, 2) + " s");
    }
    if (i == edges.size()) break;
    from = edges[i].at_s + edges[i].spread_s;
    value = edges[i].value;
  }

  // The fall over the whole watch matches the time it took: each end read
  // may be a unit off (a part of a unit shows either way).
  const double fall = static_cast<double>(watch.first) - static_cast<double>(watch.last);
  if (watch.observed_s > 0 && ((fall + 1) / watch.observed_s < 1 / (1 + tolerance) ||
                               (fall - 1) / watch.observed_s > 1 / (1 - tolerance))) {
    return failed("from " + Whole(watch.first) + " to " + Whole(watch.last) + in_time + ": not one unit a second (tolerance " +
                  Short(settings.tolerance_pct) + " %)");
  }

  if (!spu && watch.cut) {
    return Skipped("countdown", edge_count + in_time + " before the " + Short(Seconds(kMargin)) + " s margin" +
                                    (watch.pretimeout > 0 ? " ahead of the pretimeout (" + Whole(watch.pretimeout) + " s)"
                                                          : "") +
                                    ": too short to measure; a longer --timeout gives room");
  }
  if (!spu) return failed(edge_count + in_time);
  return Judged("countdown", true, rate, figures);
}

Check JudgePretimeout(std::optional<double> event_s, std::uint32_t timeout, std::uint32_t pretimeout,
                      double tolerance_s) {
  const double due = static_cast<double>(timeout) - pretimeout;
  std::vector<Figure> figures = {{"due_s", Short(due)}, {"pretimeout_s", Whole(pretimeout)},
                                 {"timeout_s", Whole(timeout)}, {"tolerance_s", Fixed(tolerance_s, 3)}};
  const std::string due_text = "due at " + Short(due) + " s";
  if (!event_s) {
    return Judged("pretimeout", false,
                  "no pretimeout event in the kernel log within " + Fixed(due + tolerance_s + Seconds(kPretimeoutGrace), 2) +
                      " s after the last reload, " + due_text,
                  figures, Evidence::kKernelLog);
  }
  figures.insert(figures.begin(), {"event_s", Fixed(*event_s, 3)});
  const std::string came = "the event came " + Fixed(*event_s, 2) + " s after the last reload, " + due_text;
  if (std::abs(*event_s - due) > tolerance_s) {
    return Judged("pretimeout", false,
                  came + ": " + (*event_s < due ? "early" : "late") + " by more than " + Fixed(tolerance_s, 2) + " s",
                  figures, Evidence::kKernelLog);
  }
  return Judged("pretimeout", true, came, figures, Evidence::kKernelLog);
}

std::uint32_t ReloadValue(std::uint32_t timeout) { return timeout >= 20 ? timeout - 10 : timeout + 10; }

Report RunChecks(const Settings& settings, const Seam& seam) { return Run(settings, seam).Go(); }

std::optional<double> SecondsPerUnit(const std::vector<Edge>& edges) {
  if (edges.size() < 2) return std::nullopt;
  double mean_t = 0;
  double mean_v = 0;
  for (const Edge& e : edges) {
    mean_t += e.at_s;
    mean_v += e.value;
  }
  mean_t /= static_cast<double>(edges.size());
  mean_v /= static_cast<double>(edges.size());
  double covariance = 0;
  double variance = 0;
  for (const Edge& e : edges) {
    covariance += (e.value - mean_v) * (e.at_s - mean_t);
    variance += (e.value - mean_v) * (e.value - mean_v);
  }
  if (variance == 0) return std::nullopt;
  return -covariance / variance;
}

}  // namespace check
