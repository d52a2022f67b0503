#include "list.h"

#include <optional>
#include <vector>

#include "output.h"
#include "printable.h"

namespace check {
namespace {

using sysfs::Facts;

std::string Number(const std::optional<long>& value) { return value ? std::to_string(*value) : "null"; }

std::string Text(const std::optional<std::string>& value) {
  return value ? JsonString(wdt::Printable(*value)) : "null";
}

// 0 is no bound: a maximum of 0 means that the watchdog core pings the
// hardware for longer timeouts itself.
std::string Range(const Facts& w) {
  const long low = w.min_timeout.value_or(0);
  const long high = w.max_timeout.value_or(0);
  if (high > 0) return " (the driver takes " + std::to_string(low) + " s to " + std::to_string(high) + " s)";
  return low > 0 ? " (the driver takes at least " + std::to_string(low) + " s)" : "";
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text.empty() ? "none" : text;
}

std::string Block(const Facts& w, const std::vector<sysfs::Holder>& holders) {
  const std::vector<std::string> nodes = sysfs::Reader::Nodes(w);
  std::string block = w.name + ": " + nodes[0] + (nodes.size() > 1 ? " (also " + nodes[1] + ")" : "") + "\n";
  const auto row = [&](const char* name, const std::string& value) {
    block += "  " + std::string(name) + std::string(13 - std::string_view(name).size(), ' ') + value + "\n";
  };
  const std::string unknown = "not in sysfs";
  row("identity", w.identity ? wdt::Printable(*w.identity) : unknown);
  row("kind", w.software ? "software: a timer inside the kernel, which a dead kernel cannot fire"
              : w.driver ? "a device of its own, driven by " + wdt::Printable(*w.driver)
                         : "a device of its own");
  row("state", w.state ? wdt::Printable(*w.state) : unknown);
  row("timeout", w.timeout ? std::to_string(*w.timeout) + " s" + Range(w) : unknown);
  row("time left", w.timeleft ? std::to_string(*w.timeleft) + " s" : "not reported by the driver");
  row("nowayout", !w.nowayout ? unknown : *w.nowayout ? "yes: once started, it cannot be stopped" : "no");
  row("pretimeout", !w.pretimeout        ? "not in sysfs: the driver has none"
                    : *w.pretimeout == 0 ? "none (0 s)"
                                         : std::to_string(*w.pretimeout) + " s before the timeout runs out");
  if (w.pretimeout) {
    row("governor", !w.pretimeout_governor         ? unknown
                    : w.pretimeout_governor->empty() ? "none"
                                                     : wdt::Printable(*w.pretimeout_governor));
    row("governors", w.pretimeout_governors ? wdt::Printable(Joined(*w.pretimeout_governors)) : unknown);
  }
  row("boot status",
      w.bootstatus ? sysfs::BootStatusText(*w.bootstatus) + " (" + std::to_string(*w.bootstatus) + ")" : unknown);
  row("held by", holders.empty() ? "no process found" : wdt::Printable(sysfs::HolderText(holders)));
  return block;
}

std::string Json(const Facts& w, const std::vector<sysfs::Holder>& holders) {
  std::string nodes;
  for (const std::string& node : sysfs::Reader::Nodes(w)) nodes += (nodes.empty() ? "" : ", ") + JsonString(node);
  std::string governors = w.pretimeout_governors ? "[" : "null";
  if (w.pretimeout_governors) {
    for (const std::string& name : *w.pretimeout_governors) {
      governors += (governors.size() == 1 ? "" : ", ") + JsonString(wdt::Printable(name));
    }
    governors += "]";
  }
  std::string held;
  for (const sysfs::Holder& h : holders) {
    held += (held.empty() ? "" : ", ") + std::string("{\"pid\": ") + std::to_string(h.pid) +
            ", \"name\": " + JsonString(wdt::Printable(h.name)) + "}";
  }
  return "{\"name\": " + JsonString(w.name) + ", \"nodes\": [" + nodes + "], \"identity\": " + Text(w.identity) +
         ", \"driver\": " + Text(w.driver) + ", \"software\": " + (w.software ? "true" : "false") +
         ", \"state\": " + Text(w.state) + ", \"timeout_s\": " + Number(w.timeout) +
         ", \"min_timeout_s\": " + Number(w.min_timeout) + ", \"max_timeout_s\": " + Number(w.max_timeout) +
         ", \"timeleft_s\": " + Number(w.timeleft) +
         ", \"nowayout\": " + (w.nowayout ? (*w.nowayout ? "true" : "false") : "null") +
         ", \"pretimeout_s\": " + Number(w.pretimeout) +
         ", \"pretimeout_governor\": " + Text(w.pretimeout_governor) + ", \"pretimeout_governors\": " + governors +
         ", \"bootstatus\": " + (w.bootstatus ? std::to_string(*w.bootstatus) : "null") +
         ", \"boot_cause\": " + (w.bootstatus ? JsonString(sysfs::BootStatusText(*w.bootstatus)) : "null") +
         ", \"held_by\": [" + held + "]}";
}

}  // namespace

Listing ListWatchdogs(const sysfs::Reader& reader, bool json) {
  const std::vector<Facts> watchdogs = reader.List();
  Listing listing;
  std::string error;
  if (watchdogs.empty()) {
    error = reader.ClassExists() ? "the watchdog class in sysfs holds no watchdog"
                                 : "there is no watchdog class in sysfs (/sys/class/watchdog): no watchdog "
                                   "driver is loaded, sysfs is not mounted, or this system has none";
    listing.err = "wdt-check: " + error + "\n";
    listing.exit_status = 2;
  }
  std::string body;
  for (const Facts& w : watchdogs) {
    const std::vector<sysfs::Holder> holders = reader.Holders(sysfs::Reader::Nodes(w));
    body += json ? (body.empty() ? "\n  " : ",\n  ") + Json(w, holders) : Block(w, holders);
  }
  if (json) {
    listing.out = "{\"watchdogs\": [" + body + (body.empty() ? "]" : "\n]") +
                  (error.empty() ? "" : ", \"error\": " + JsonString(error)) + "}\n";
  } else {
    listing.out = body;
  }
  return listing;
}

}  // namespace check
