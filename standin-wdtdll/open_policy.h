// Whether a device path may be opened, decided from what is known before the
// open: opening a watchdog starts it, and opening anything else may do harm
// of its own. A pure function of what stat and sysfs said and of the consent
// given, so that each road is a row of a table; the backend makes the calls
// and says the warning.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "watchdog_facts.h"
#include "wdtDLL.h"

namespace kdev {

// What was found at the path.
struct Found {
  // What stat said: 1 a character device, 0 anything else, or the negated
  // errno.
  int stat = 1;
  // What sysfs says of the character device's numbers; read only where stat
  // is 1.
  sysfs::Identification sysfs{};
};

// What the user, or the program, knowingly accepts.
struct Consent {
  bool nowayout = false;    // WDT_ALLOW_NOWAYOUT=1
  bool pretimeout = false;  // WDT_ALLOW_PRETIMEOUT=1, or AcceptPretimeout() before the open
};

struct OpenVerdict {
  StatusCode status = 0;  // 0: open it; else refused with this status
  // One line for standard error without its prefix or line end, or empty.
  // An open may come with one (sysfs cannot tell what the device is).
  std::string warning{};
  bool identified = false;  // sysfs knows it: the opened device must have the same numbers
  std::optional<sysfs::Facts> facts{};  // what sysfs says of the watchdog
  int pretimeout = 0;                   // seconds, as sysfs shows it
};

OpenVerdict BeforeOpening(const Found& found, const Consent& consent);

// The device nodes whose holders an open refused as busy names: the
// watchdog's own nodes where sysfs knows them, and the path.
std::vector<std::string> NodesToAskAbout(const std::optional<sysfs::Facts>& facts, const std::string& path);

// "cannot open the device: Device or resource busy (held by systemd, pid 1)":
// why the open failed with this errno, and who holds the device.
std::string OpenFailedText(int error, const std::vector<sysfs::Holder>& holders);

}  // namespace kdev
