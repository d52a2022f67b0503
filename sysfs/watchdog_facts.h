// What Linux's sysfs says about the watchdogs, read without opening any
// device: opening a watchdog starts it, and opening something else (a serial
// port raises its modem lines) may do harm of its own. The library reads it
// before it opens a device; wdt-check reads it for --list and for what the
// driver can and cannot report. Plain file reads under a root folder, so
// tests put a tree of their own in its place; where there is no such tree
// (not mounted, or Windows) it says so.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sysfs {

struct DeviceNumbers {
  unsigned major = 0;
  unsigned minor = 0;
  bool operator==(const DeviceNumbers&) const = default;
};

// The legacy /dev/watchdog, a misc device that belongs to the first watchdog.
inline constexpr DeviceNumbers kLegacyWatchdog = {10, 130};
inline constexpr std::string_view kLegacyNode = "/dev/watchdog";
inline constexpr std::string_view kFirstWatchdog = "watchdog0";
// softdog's identity.
inline constexpr std::string_view kSoftwareIdentity = "Software Watchdog";

// One watchdog of the class; a fact that the driver does not give is empty.
struct Facts {
  std::string name{};    // watchdog0
  std::string device{};  // /dev/watchdog0
  std::optional<DeviceNumbers> numbers{};
  std::optional<std::string> identity{};
  // The driver bound to the watchdog's parent device (i6300esb, iTCO_wdt),
  // where it has one: a software watchdog has no parent device.
  std::optional<std::string> driver{};
  // A timer inside the kernel (softdog, known by its identity), which dies
  // with the kernel: it proves that a process stops feeding, never that a
  // hung kernel is caught. Where a watchdog sits in sysfs says nothing of
  // it: a hardware driver that names no parent device (i6300esb) sits under
  // devices/virtual as softdog does.
  bool software = false;
  std::optional<std::string> state{};  // "active" or "inactive"
  std::optional<long> timeout{};       // seconds
  std::optional<long> min_timeout{};
  std::optional<long> max_timeout{};
  std::optional<long> timeleft{};  // only where the driver can tell
  bool reports_timeleft = false;  // the driver has time left of its own
  std::optional<bool> nowayout{};
  std::optional<std::uint32_t> bootstatus{};  // WDIOF_* bits
  // The pretimeout: seconds before the timeout runs out at which the kernel
  // acts (0 none), what acts (its governor: "panic", "noop"; empty where
  // none is registered) and the governors that the kernel has.
  std::optional<long> pretimeout{};
  std::optional<std::string> pretimeout_governor{};
  std::optional<std::vector<std::string>> pretimeout_governors{};
};

// What a character device is, by its numbers.
struct Identification {
  enum class Kind {
    kWatchdog,  // of the watchdog class, or the legacy node
    kOther,     // anything else: `what` names its class
    kUnknown,   // sysfs cannot tell: `what` says why
  } kind = Kind::kUnknown;
  std::string what;
  std::optional<Facts> facts;  // kWatchdog, where the class has it
};

// A process that holds a device open.
struct Holder {
  long pid = 0;
  std::string name;
};

class Reader {
 public:
  explicit Reader(std::filesystem::path sys = "/sys", std::filesystem::path proc = "/proc");

  Identification Identify(DeviceNumbers numbers) const;
  // Every watchdog of the class in number order; empty where the class does
  // not exist (ClassExists tells the two apart).
  std::vector<Facts> List() const;
  bool ClassExists() const;
  std::optional<Facts> Read(std::string_view name) const;
  // The processes that hold one of these device nodes open, found through
  // their open descriptors; best effort (others' are root's to see).
  std::vector<Holder> Holders(const std::vector<std::string>& nodes) const;
  // The device nodes that reach one watchdog: its own, and the legacy node
  // for the first watchdog.
  static std::vector<std::string> Nodes(const Facts& facts);
  // Makes `governor` the pretimeout governor of watchdog `name` (root's to
  // do); empty on success, else why not.
  std::string WriteGovernor(std::string_view name, std::string_view governor) const;

 private:
  std::filesystem::path sys_;
  std::filesystem::path proc_;
};

// The boot status bits that say why the machine last started, in words:
// "card reset", "overheat, power under"; "none" for 0.
std::string BootStatusText(std::uint32_t bits);
inline constexpr std::uint32_t kCardReset = 0x0020;  // the watchdog reset the machine

// What a pretimeout does and when: "the kernel panics 25 s after each
// reload: pretimeout 5 s, governor panic", for a watchdog armed for timeout
// seconds; empty where it does not fire (none, or not below the timeout).
std::string PretimeoutText(long pretimeout, long timeout, const std::optional<std::string>& governor);
// A governor that may reset the machine: panic, or one that sysfs does not
// name (the driver's own action).
bool PretimeoutMayPanic(const std::optional<std::string>& governor);

// "systemd, pid 1", "a, pid 5, and b, pid 9"; empty for none.
std::string HolderText(const std::vector<Holder>& holders);

}  // namespace sysfs
