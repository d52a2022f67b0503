// wdt-check: an unattended verdict on a watchdog, through its driver's
// library. TAP (or JSON) on standard output; exit status 0 pass, 1 a check
// failed, 2 it could not run. Never reads standard input.
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.h"
#include "checker.h"
#include "junit.h"
#include "list.h"
#include "output.h"
#include "platform.h"
#include "printable.h"
#include "record.h"
#include "watchdog_facts.h"

namespace {

// What sysfs says of the device that WDT_DEVICE names for the library.
std::optional<sysfs::Facts> DeviceFacts(const sysfs::Reader& reader) {
  const char* device = std::getenv("WDT_DEVICE");
  if (device == nullptr || *device == '\0') return std::nullopt;
  const auto numbers = platform::CharacterDevice(device);
  if (!numbers) return std::nullopt;
  sysfs::Identification found = reader.Identify({numbers->first, numbers->second});
  return found.kind == sysfs::Identification::Kind::kWatchdog ? std::move(found.facts) : std::nullopt;
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
  if (!parsed.junit.empty() && files.kind(parsed.junit.c_str()) == platform::kOtherFile) {
    const std::string error = "--junit: " + wdt::Printable(parsed.junit) + " is not a regular file";
    platform::WriteErr("wdt-check: " + error + "\n");
    if (parsed.json) platform::WriteOut(check::JsonRefusal(error));
    return Finish(2);
  }
  parsed.settings.device = DeviceFacts(sysfs);
  // A stop signal ends the run early, but only after the disarm and the
  // close; so does Ctrl+Z, whose suspension waits until then.
  platform::CatchStopSignals(platform::StopSignals::kAlsoInterruptAndSuspend);
  const check::Seam seam{
      .wdt = wdt::LinkedOperations(),
      .device_facts = [&] { return DeviceFacts(sysfs); },
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
      .judged =
          [&](const check::Check& check, std::size_t number) {
            if (!parsed.json) platform::WriteOut(check::TapLine(check, number));
          },
  };
  if (!parsed.json) platform::WriteOut(check::TapHeader(check::CheckNames().size()));
  const check::Report report = check::RunChecks(parsed.settings, seam);
  platform::SuspendIfRequested();
  platform::WriteOut(parsed.json ? check::Json(report, parsed.settings) : check::TapSummary(report));
  int status = check::ExitStatus(report.verdict);
  if (!parsed.junit.empty()) {
    if (const std::string failed = check::ReplaceFile(files, parsed.junit, check::Junit(report, parsed.settings));
        !failed.empty()) {
      // A report that CI cannot read is no pass; a failure stays a failure.
      platform::WriteErr("wdt-check: the JUnit report was not written: " + failed + "\n");
      if (status == 0) status = 2;
    }
  }
  return Finish(status);
}
