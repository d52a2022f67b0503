#include "watchdog_facts.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <system_error>
#include <utility>

#include "parse.h"

namespace sysfs {
namespace fs = std::filesystem;
namespace {

// One attribute's text without its line end; empty where there is none.
std::optional<std::string> Attribute(const fs::path& file) {
  std::ifstream in(file);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;  // a driver's read that failed
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

template <typename Number>
std::optional<Number> Parsed(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return wdt::WholeNumber(*text, std::numeric_limits<Number>::min(), std::numeric_limits<Number>::max());
}

// "10:130" as numbers.
std::optional<DeviceNumbers> Numbers(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const std::size_t colon = text->find(':');
  if (colon == std::string::npos) return std::nullopt;
  const auto major = Parsed<unsigned>(text->substr(0, colon));
  const auto minor = Parsed<unsigned>(text->substr(colon + 1));
  if (!major || !minor) return std::nullopt;
  return DeviceNumbers{*major, *minor};
}

// watchdog12 sorts after watchdog2.
bool ByNumber(const Facts& a, const Facts& b) {
  return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
}

}  // namespace

Reader::Reader(fs::path sys, fs::path proc) : sys_(std::move(sys)), proc_(std::move(proc)) {}

bool Reader::ClassExists() const {
  std::error_code error;
  return fs::is_directory(sys_ / "class" / "watchdog", error);
}

std::optional<Facts> Reader::Read(std::string_view name) const {
  const fs::path folder = sys_ / "class" / "watchdog" / name;
  std::error_code error;
  if (name.empty() || name.find('/') != std::string_view::npos || !fs::is_directory(folder, error)) {
    return std::nullopt;
  }
  Facts facts;
  facts.name = std::string(name);
  facts.device = "/dev/" + facts.name;
  facts.numbers = Numbers(Attribute(folder / "dev"));
  facts.identity = Attribute(folder / "identity");
  if (const fs::path driver = fs::read_symlink(folder / "device" / "driver", error); !error) {
    facts.driver = driver.filename().string();
  }
  // By softdog's identity alone: a hardware driver that names no parent
  // device (Debian 12's i6300esb) sits under devices/virtual too.
  facts.software = facts.identity == kSoftwareIdentity;
  facts.state = Attribute(folder / "state");
  facts.timeout = Parsed<long>(Attribute(folder / "timeout"));
  facts.min_timeout = Parsed<long>(Attribute(folder / "min_timeout"));
  facts.max_timeout = Parsed<long>(Attribute(folder / "max_timeout"));
  facts.timeleft = Parsed<long>(Attribute(folder / "timeleft"));
  facts.reports_timeleft = fs::exists(folder / "timeleft", error);
  if (const auto nowayout = Parsed<int>(Attribute(folder / "nowayout"))) facts.nowayout = *nowayout != 0;
  facts.bootstatus = Parsed<std::uint32_t>(Attribute(folder / "bootstatus"));
  facts.pretimeout = Parsed<long>(Attribute(folder / "pretimeout"));
  facts.pretimeout_governor = Attribute(folder / "pretimeout_governor");
  if (const auto governors = Attribute(folder / "pretimeout_available_governors")) {
    facts.pretimeout_governors.emplace();
    std::istringstream names(*governors);
    for (std::string name; names >> name;) facts.pretimeout_governors->push_back(name);
  }
  return facts;
}

std::vector<Facts> Reader::List() const {
  std::vector<Facts> list;
  std::error_code error;
  for (fs::directory_iterator it(sys_ / "class" / "watchdog", error), end; !error && it != end;
       it.increment(error)) {
    if (auto facts = Read(it->path().filename().string())) list.push_back(std::move(*facts));
  }
  std::sort(list.begin(), list.end(), ByNumber);
  return list;
}

Identification Reader::Identify(DeviceNumbers numbers) const {
  std::error_code error;
  const fs::path char_devices = sys_ / "dev" / "char";
  if (!fs::is_directory(char_devices, error)) {
    return {Identification::Kind::kUnknown, "sysfs is not mounted", {}};
  }
  const fs::path entry = char_devices / (std::to_string(numbers.major) + ":" + std::to_string(numbers.minor));
  const fs::path subsystem = fs::read_symlink(entry / "subsystem", error);
  if (error) return {Identification::Kind::kOther, "none", {}};
  const std::string device_class = subsystem.filename().string();
  if (device_class == "watchdog") {
    const fs::path device = fs::canonical(entry, error);
    return {Identification::Kind::kWatchdog, device_class,
            error ? std::nullopt : Read(device.filename().string())};
  }
  if (device_class == "misc" && numbers == kLegacyWatchdog) {
    // A driver without the watchdog class may own the legacy node alone.
    return {Identification::Kind::kWatchdog, device_class, Read(kFirstWatchdog)};
  }
  return {Identification::Kind::kOther, device_class, {}};
}

std::vector<std::string> Reader::Nodes(const Facts& facts) {
  std::vector<std::string> nodes = {facts.device};
  if (facts.name == kFirstWatchdog) nodes.emplace_back(kLegacyNode);
  return nodes;
}

std::vector<Holder> Reader::Holders(const std::vector<std::string>& nodes) const {
  std::vector<Holder> holders;
  std::error_code error;
  for (fs::directory_iterator process(proc_, error), end; !error && process != end;
       process.increment(error)) {
    const std::string pid = process->path().filename().string();
    if (!wdt::AllDigits(pid)) continue;
    std::error_code unreadable;  // another user's process, or one that just ended
    for (fs::directory_iterator fd(process->path() / "fd", unreadable), fd_end; !unreadable && fd != fd_end;
         fd.increment(unreadable)) {
      std::error_code gone;
      const std::string target = fs::read_symlink(fd->path(), gone).string();
      if (gone || std::find(nodes.begin(), nodes.end(), target) == nodes.end()) continue;
      holders.push_back({std::stol(pid), Attribute(process->path() / "comm").value_or("?")});
      break;
    }
  }
  std::sort(holders.begin(), holders.end(), [](const Holder& a, const Holder& b) { return a.pid < b.pid; });
  return holders;
}

std::string Reader::WriteGovernor(std::string_view name, std::string_view governor) const {
  const fs::path file = sys_ / "class" / "watchdog" / name / "pretimeout_governor";
  std::error_code error;
  if (name.empty() || name.find('/') != std::string_view::npos || !fs::is_regular_file(file, error)) {
    return "the driver has no pretimeout governor";
  }
  std::ofstream out(file);
  out << governor << '\n';
  out.flush();
  return out ? "" : "cannot write " + file.string();
}

bool PretimeoutMayPanic(const std::optional<std::string>& governor) {
  return !governor || *governor == "panic";
}

std::string PretimeoutText(long pretimeout, long timeout, const std::optional<std::string>& governor) {
  if (pretimeout <= 0 || pretimeout >= timeout) return {};
  const std::string when = std::to_string(timeout - pretimeout) + " s after each reload: pretimeout " +
                           std::to_string(pretimeout) + " s, governor ";
  if (!governor) return "the driver acts on its pretimeout " + when + "unknown";
  if (governor->empty()) return "the pretimeout fires " + when + "none, so nothing happens";
  if (*governor == "panic") return "the kernel panics " + when + "panic";
  if (*governor == "noop") return "the kernel logs a pretimeout event " + when + "noop";
  return "the pretimeout governor acts " + when + *governor;
}

std::string BootStatusText(std::uint32_t bits) {
  static constexpr std::pair<std::uint32_t, const char*> kCauses[] = {
      {0x0001, "overheat"},         {0x0002, "fan fault"},  {0x0004, "external relay 1"},
      {0x0008, "external relay 2"}, {0x0010, "power under"}, {kCardReset, "card reset"},
      {0x0040, "power over"},
  };
  std::string text;
  std::uint32_t known = 0;
  for (const auto& [bit, cause] : kCauses) {
    known |= bit;
    if ((bits & bit) != 0) text += (text.empty() ? "" : ", ") + std::string(cause);
  }
  if ((bits & ~known) != 0) {
    char other[32];
    std::snprintf(other, sizeof other, "other bits 0x%x", static_cast<unsigned>(bits & ~known));
    text += (text.empty() ? "" : ", ") + std::string(other);
  }
  return text.empty() ? "none" : text;
}

std::string HolderText(const std::vector<Holder>& holders) {
  std::string text;
  for (std::size_t i = 0; i < holders.size(); ++i) {
    text += (i == 0 ? "" : ", and ") + holders[i].name + ", pid " + std::to_string(holders[i].pid);
  }
  return text;
}

}  // namespace sysfs
