#include "run.h"

#include <algorithm>
#include <span>
#include <utility>

#include "judged.h"
#include "parse.h"
#include "steps.h"

namespace check {
namespace {

constexpr const char* kLibraryCount = "counted by the library: the driver reports no time left";

}  // namespace

Run::Run(const Settings& settings, const Seam& seam)
    : settings_(settings),
      seam_(seam),
      started_(seam.time.now()),
      plan_(settings.timeout, FoundPretimeout(settings), settings.tolerance_pct) {
  report_.watchdog = settings.watchdog;
  if (settings.mode == Mode::kExpire || settings.mode == Mode::kAfterReset) report_.covers = Covers(settings.watchdog);
}

Report Run::Go() {
  const std::span<const Step> steps = Steps(settings_.mode);
  const std::string gate =
      settings_.mode == Mode::kAfterReset ? "there is no record to judge" : "the session did not open";
  // Past the gate, each step runs whatever came before it; disarm and close
  // are also the cleanup, and run on every road.
  for (const Step& step : steps) {
    const bool runs = &step == &steps.front() || PastTheGate();
    if (step.act != nullptr) {
      if (runs) step.act(*this);
    } else {
      Judge(runs ? step.check(*this) : Skipped(step.name, gate));
    }
  }
  const bool failed = std::any_of(report_.checks.begin(), report_.checks.end(),
                                  [](const Check& c) { return c.result == Result::kFail; });
  report_.verdict = !PastTheGate() || (!failed && !report_.stopped.empty()) ? Verdict::kCannotRun
                    : failed                                                ? Verdict::kFail
                                                                            : Verdict::kPass;
  report_.duration_s = Seconds(seam_.time.now() - started_);
  return std::move(report_);
}

bool Run::PastTheGate() const {
  return !report_.checks.empty() && report_.checks.front().result == Result::kPass;
}

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
    report_.stopped = "stalled for " + wdt::Fixed(Seconds(stall_), 1) + " s";
  } else if (const std::string why = seam_.time.stop_requested(); !why.empty()) {
    report_.stopped = "stopped by " + why;
  }
  return !report_.stopped.empty();
}

Check Run::Stopped(std::string_view name) const { return Skipped(name, report_.stopped); }

void Run::End(std::string why) {
  if (report_.stopped.empty()) report_.stopped = std::move(why);
}

Clock::time_point Run::Now() {
  const Clock::time_point now = seam_.time.now();
  const bool held = armed_ == Armed::kMaybe || armed_ == Armed::kKnown;
  if (held && stall_ == Clock::duration::zero() && now - last_look_ > kSlack) stall_ = now - last_look_;
  last_look_ = now;
  return now;
}

Run::Reading Run::Read() {
  const Clock::time_point before = Now();
  std::uint32_t value = 0;
  const StatusCode status = seam_.wdt.read_timer_value(&value);
  return {status, value, before + (Now() - before) / 2};
}

void Run::Arming() {
  Now();  // the gap before the arm is no stall
  armed_ = Armed::kMaybe;
}

void Run::Release() {
  if (armed_ != Armed::kNo) armed_ = Armed::kReleased;
}

void Run::Loaded(const Reading& reading, std::uint32_t loaded) {
  expiry_ = plan_.Expiry(reading.at, reading.value, loaded);
}

bool Run::LibraryCounts() const { return settings_.device && !settings_.device->reports_timeleft; }

Evidence Run::ReadBack() const {
  switch (settings_.watchdog.kind) {
    case Watchdog::Kind::kSimulated: return Evidence::kSimulation;
    case Watchdog::Kind::kUndescribed: return Evidence::kLibrary;
    case Watchdog::Kind::kDevice: break;
  }
  return LibraryCounts() ? Evidence::kLibraryCount : Evidence::kHardware;
}

void Run::Checked(Watchdog watchdog) {
  report_.covers = Covers(watchdog);
  report_.watchdog = std::move(watchdog);
}

std::string Run::ReadBackNote() const { return LibraryCounts() ? std::string("; ") + kLibraryCount : ""; }

void Run::PutBackSaid(std::string put_back, std::string not_put_back) {
  report_.put_back = std::move(put_back);
  report_.not_put_back = std::move(not_put_back);
}

std::vector<std::string_view> CheckNames(Mode mode) {
  std::vector<std::string_view> names;
  for (const Step& step : Steps(mode)) {
    if (step.check != nullptr) names.push_back(step.name);
  }
  return names;
}

Report RunChecks(const Settings& settings, const Seam& seam) { return Run(settings, seam).Go(); }

}  // namespace check
