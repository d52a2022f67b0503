#include "open_policy.h"

#include <cerrno>
#include <utility>

#include "device_calls.h"
#include "printable.h"
#include "status_codes.h"

namespace kdev {
namespace {

constexpr const char* kNotOpened = "; not opened (WDT_ALLOW_PRETIMEOUT=1 opens it knowingly)";

OpenVerdict Refused(StatusCode status, std::string warning) {
  return {.status = status, .warning = std::move(warning)};
}

}  // namespace

OpenVerdict BeforeOpening(const Found& found, const Consent& consent) {
  if (found.stat < 0) {
    return Refused(StatusForErrno(Failed::kOpen, -found.stat), "cannot open the device: " + ErrnoText(-found.stat));
  }
  if (found.stat != 1) return Refused(wdt::kNoHandle, "not a character device");
  switch (found.sysfs.kind) {
    case sysfs::Identification::Kind::kOther:
      // A serial port, a terminal, a disk: opening it alone may do harm.
      return Refused(wdt::kNoHandle, "not a watchdog device (sysfs class: " + wdt::Printable(found.sysfs.what) + ")");
    case sysfs::Identification::Kind::kUnknown:
      return {.status = wdt::kOk, .warning = found.sysfs.what + "; the device is identified by opening it"};
    case sysfs::Identification::Kind::kWatchdog:
      break;
  }
  const std::optional<sysfs::Facts>& facts = found.sysfs.facts;
  if (facts && facts->nowayout.value_or(false) && !consent.nowayout) {
    return Refused(wdt::kNoHandle,
                   "the driver was loaded with nowayout: opening the device starts the watchdog, and then "
                   "nothing can stop it; not opened (WDT_ALLOW_NOWAYOUT=1 opens it knowingly)");
  }
  const int pretimeout = facts ? static_cast<int>(facts->pretimeout.value_or(0)) : 0;
  if (pretimeout > 0 && sysfs::PretimeoutMayPanic(facts->pretimeout_governor) && !consent.pretimeout) {
    // Each reload then ends pretimeout seconds before the time left that the
    // program shows: the kernel panics long before the operator expects.
    const std::string seconds = std::to_string(pretimeout) + " s";
    return Refused(wdt::kNoHandle,
                   facts->pretimeout_governor
                       ? "a pretimeout of " + seconds + " is set under the panic governor: the kernel panics " +
                             seconds + " before each timeout runs out, long before the time left shown reaches 0" +
                             kNotOpened
                       : "a pretimeout of " + seconds + " is set and sysfs names no governor: the driver may act " +
                             seconds + " before each timeout runs out, long before the time left shown reaches 0" +
                             kNotOpened);
  }
  return {.status = wdt::kOk, .identified = true, .facts = facts, .pretimeout = pretimeout};
}

std::vector<std::string> NodesToAskAbout(const std::optional<sysfs::Facts>& facts, const std::string& path) {
  std::vector<std::string> nodes = facts ? sysfs::Reader::Nodes(*facts) : std::vector<std::string>{};
  nodes.push_back(path);
  return nodes;
}

std::string OpenFailedText(int error, const std::vector<sysfs::Holder>& holders) {
  std::string why = "cannot open the device: " + ErrnoText(error);
  if (const std::string held = sysfs::HolderText(holders); error == EBUSY && !held.empty()) {
    why += " (held by " + wdt::Printable(held) + ")";
  }
  return why;
}

}  // namespace kdev
