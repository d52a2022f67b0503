// The road of the reset proof where the kernel dies after the last reload:
// the record says when (the crash is the machine's last instant alive) and
// what it found, kernel.panic is set to 0 so that the kernel cannot reboot
// itself and pass for the watchdog, and the kernel is crashed. Hazard: from
// the crash on, only a watchdog outside the kernel resets the machine; a
// watchdog that fails leaves it hung until someone resets it.
#include <string>

#include "checks.h"
#include "judged.h"
#include "parse.h"
#include "printable.h"
#include "reset_proof/reset_proof.h"
#include "run.h"

namespace check {
namespace {

constexpr const char* kPanic = "panic";
constexpr const char* kSysrq = "sysrq";

// kernel.panic and kernel.sysrq put back as found, where the crash came back.
std::string PutBackSettings(const Seam::Crash& crash, const ResetRecord& record) {
  std::string failed = crash.set(kPanic, record.kernel_panic);
  if (const auto sysrq = crash.setting(kSysrq); failed.empty() && sysrq && *sysrq != record.kernel_sysrq) {
    failed = crash.set(kSysrq, record.kernel_sysrq);
  }
  return failed.empty() ? "" : "; not put back: " + failed;
}

}  // namespace

Check Crash(Run& run) {
  if (run.Stop()) return run.Stopped("crash");
  if (!run.learned.reload_took) {
    return Skipped("crash", "the last reload did not read back: not worth crashing the kernel for");
  }
  const Seam& seam = run.seam();
  const Seam::Crash& crash = seam.crash;
  ResetRecord& record = run.learned.record;
  const std::optional<std::string> panic = crash.setting(kPanic);
  const std::optional<std::string> sysrq = crash.setting(kSysrq);
  if (!panic || !sysrq) {
    run.End(std::string("kernel.") + (panic ? kSysrq : kPanic) + " cannot be read: nothing crashed");
    return run.Stopped("crash");
  }
  // Left to the watchdog from here: no gap is a stall.
  run.Release();
  const Clock::time_point now = seam.time.now();
  record.hang = run.settings().hang;
  record.kernel_panic = *panic;
  record.kernel_sysrq = *sysrq;
  record.crashed_s = record.alive_s = Seconds(now - run.learned.reloaded_at);
  record.crashed_at = record.alive_at = seam.reset.wall_now();
  if (!WriteRecord(run)) return run.Stopped("crash");
  if (const std::string failed = crash.set(kPanic, "0"); !failed.empty()) {
    run.End("kernel.panic was not set to 0, nothing crashed: " + failed);
    return run.Stopped("crash");
  }
  seam.output.said("the kernel is crashed now: the watchdog must reset the machine within " +
                   Short(record.window_until_s) + " s");
  const std::string why = crash.crash();
  // Only a kernel that lives on comes here.
  return Judged("crash", false, why + PutBackSettings(crash, record),
                {{"crashed_s", wdt::Fixed(record.crashed_s, 3)}});
}

}  // namespace check
