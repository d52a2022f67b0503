// wdt-check: an unattended verdict on a watchdog, through its driver's
// library. TAP (or JSON) on standard output; exit status 0 pass, 1 a check
// failed, 2 it could not run. Never reads standard input.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.h"
#include "durable_file.h"
#include "run.h"
#include "junit.h"
#include "kernel_crash.h"
#include "list.h"
#include "output.h"
#include "platform.h"
#include "printable.h"
#include "record.h"
#include "reset_proof/after_reset.h"
#include "reset_proof/hang.h"
#include "reset_proof/suspend.h"
#include "suspend.h"
#include "watchdog_facts.h"

namespace {

// What sysfs says of the watchdog device at path, where it knows one.
std::optional<sysfs::Facts> DeviceFacts(const sysfs::Reader& reader, const std::string& path) {
  if (path.empty()) return std::nullopt;
  const auto numbers = platform::CharacterDevice(path.c_str());
  if (!numbers) return std::nullopt;
  sysfs::Identification found = reader.Identify({numbers->first, numbers->second});
  return found.kind == sysfs::Identification::Kind::kWatchdog ? std::move(found.facts) : std::nullopt;
}

// The record, read whole; only a regular file is read.
std::string ReadRecord(const platform::FileCalls& files, const std::string& path, std::string* text) {
  const int kind = files.kind(path.c_str());
  if (kind == platform::kNoFile) return wdt::Printable(path) + " is not there";
  if (kind != platform::kRegularFile) return wdt::Printable(path) + " is not a regular file";
  std::ifstream in(path, std::ios::binary);
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return in.bad() || !in.is_open() ? "cannot read " + wdt::Printable(path) : "";
}

// Every road ends here: what the output could not take yet is waited for.
int Finish(int status) {
  platform::FinishOutput();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  platform::Prepare();
  const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  check::Arguments parsed = check::ParseArguments(arguments);
  const sysfs::Reader sysfs;
  switch (parsed.action) {
    case check::Arguments::Action::kBad:
      platform::WriteErr("wdt-check: " + parsed.error + "\n" + std::string(check::kUsage));
      if (parsed.json) platform::WriteOut(check::JsonRefusal(parsed.error));
      return Finish(2);
    case check::Arguments::Action::kHelp:
      platform::WriteOut(check::kUsage);
      return Finish(0);
    case check::Arguments::Action::kVersion:
      platform::WriteOut("wdt-check " WDT_VERSION "\n");
      return Finish(0);
    case check::Arguments::Action::kList: {
      const check::Listing listing = check::ListWatchdogs(sysfs, parsed.json);
      platform::WriteErr(listing.err);
      platform::WriteOut(listing.out);
      return Finish(listing.exit_status);
    }
    case check::Arguments::Action::kRun:
      break;
  }

  // The report's file is looked at before the watchdog is touched: only a
  // regular file, or none yet, is ever written.
  const platform::FileCalls files = platform::DurableFileCalls();
  for (const auto& [option, path] : {std::pair{"--junit", &parsed.junit}, std::pair{"--expire", &parsed.settings.record}}) {
    if (path->empty() || (option == std::string_view("--expire") && parsed.settings.mode == check::Mode::kAfterReset) ||
        files.kind(path->c_str()) != platform::kOtherFile) {
      continue;
    }
    const std::string error = std::string(option) + ": " + wdt::Printable(*path) + " is not a regular file";
    platform::WriteErr("wdt-check: " + error + "\n");
    if (parsed.json) platform::WriteOut(check::JsonRefusal(error));
    return Finish(2);
  }
  const char* device = std::getenv("WDT_DEVICE");
  parsed.settings.device_path = device != nullptr ? device : "";
  parsed.settings.device = DeviceFacts(sysfs, parsed.settings.device_path);
  const check::Seam::Sleep sleep{
      .states = platform::PowerStates,
      .mem_sleep = platform::MemSleep,
      .wake_alarm = platform::HasWakeAlarm,
      .may_sleep = platform::MaySleep,
      .set_wake_alarm = platform::SetWakeAlarm,
      .put_back_wake_alarm = platform::PutBackWakeAlarm,
      .sleep = platform::Sleep,
      .boot_clock = platform::BootClock,
  };
  const check::Seam::Crash crash{
      .refusal = platform::CrashRefusal,
      .setting = platform::KernelSetting,
      .set = platform::SetKernelSetting,
      .crash = platform::CrashKernel,
      .boot_began = platform::BootBeganByRtc,
  };
  // The pre-flight of a road that sleeps or crashes the machine: refused
  // before the watchdog is touched.
  std::string refused;
  if (parsed.settings.mode == check::Mode::kSuspend) refused = check::SuspendRefusal(parsed.settings, sleep);
  if (parsed.settings.mode == check::Mode::kHang) refused = check::HangRefusal(parsed.settings, crash.refusal());
  if (!refused.empty()) {
    platform::WriteErr("wdt-check: " + refused + "\n");
    if (parsed.json) platform::WriteOut(check::JsonRefusal(refused));
    return Finish(2);
  }
  // A stop signal ends the run early, but only after the disarm and the
  // close; so does Ctrl+Z, whose suspension waits until then.
  platform::CatchStopSignals(platform::StopSignals::kAlsoInterruptAndSuspend);
  const check::Seam::Time time{
      .now = check::Clock::now,
      .sleep =
          [](check::Clock::duration duration) {
            platform::SleepMs(static_cast<unsigned>(
                std::chrono::ceil<std::chrono::milliseconds>(duration).count()));
          },
      .stop_requested =
          []() -> std::string {
            if (!platform::StopRequested()) return {};
            const std::string_view suspension = platform::HeldSuspension();
            return suspension.empty() ? "a signal" : std::string(suspension);
          },
  };
  const check::Seam::Output output{
      .judged =
          [&](const check::Check& check, std::size_t number) {
            if (!parsed.json) platform::WriteOut(check::TapLine(check, number));
          },
      // Flushed as it comes: the machine may reset at any instant. With
      // --json, standard output keeps its one document.
      .said =
          [&](std::string_view line) {
            if (parsed.json) {
              platform::WriteErr("wdt-check: " + std::string(line) + "\n");
            } else {
              platform::WriteOut("# " + std::string(line) + "\n");
            }
          },
  };
  const check::Seam::ResetProof reset{
      .wall_now =
          [] {
            return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
          },
      .boot_id = platform::BootIdentity,
      .write_record =
          [&](std::string_view contents) { return platform::ReplaceFile(files, parsed.settings.record, contents); },
      .write_in_place =
          [&](std::string_view bytes, std::size_t offset) {
            return platform::WriteInPlace(files, parsed.settings.record, bytes, offset);
          },
      .read_record = [&](std::string* text) { return ReadRecord(files, parsed.settings.record, text); },
  };
  const check::Seam::Kernel kernel{
      .facts_of = [&](const std::string& path) { return DeviceFacts(sysfs, path); },
      .set_governor = [&](const std::string& watchdog,
                          std::string_view governor) { return sysfs.WriteGovernor(watchdog, governor); },
      .watch_log = platform::WatchKernelLog,
      .logged = platform::KernelLogged,
  };
  // Every seam of the run is assembled here, each concern above in its own block.
  const check::Seam seam{
      .wdt = platform::LibraryOperations(),
      .time = time,
      .output = output,
      .reset = reset,
      .kernel = kernel,
      .sleep = sleep,
      .crash = crash};
  parsed.settings.watchdog = check::DescribeWatchdog(seam.wdt);
  if (!parsed.json) {
    platform::WriteOut(check::TapHeader(check::CheckNames(parsed.settings.mode).size(),
                                        check::WatchdogChecked(parsed.settings, seam)));
  }
  const check::Report report = check::RunChecks(parsed.settings, seam);
  platform::SuspendIfRequested();
  platform::WriteOut(parsed.json ? check::Json(report, parsed.settings) : check::TapSummary(report));
  int status = check::ExitStatus(report.verdict);
  if (!parsed.junit.empty()) {
    if (const std::string failed = platform::ReplaceFile(files, parsed.junit, check::Junit(report, parsed.settings));
        !failed.empty()) {
      // A report that CI cannot read is no pass; a failure stays a failure.
      platform::WriteErr("wdt-check: the JUnit report was not written: " + failed + "\n");
      if (status == 0) status = 2;
    }
  }
  return Finish(status);
}
