#include "watchdog_description.h"

#include <array>

#include "output.h"
#include "printable.h"

namespace check {
namespace {

std::string_view KindName(Watchdog::Kind kind) {
  switch (kind) {
    case Watchdog::Kind::kSimulated: return "simulated";
    case Watchdog::Kind::kDevice: return "device";
    case Watchdog::Kind::kUndescribed: return "undescribed";
  }
  return "undescribed";
}

std::string JsonOrNull(const std::string& text) { return text.empty() ? "null" : JsonString(wdt::Printable(text)); }

}  // namespace

Watchdog ParseWatchdogDescription(std::string_view text) {
  Watchdog watchdog;
  bool device = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, equals);
    const std::string value(line.substr(equals + 1));
    if (key == "kind") {
      watchdog.kind = value == "simulated" ? Watchdog::Kind::kSimulated : Watchdog::Kind::kUndescribed;
      device = value == "device";
    } else if (key == "node") {
      watchdog.node = value;
    } else if (key == "identity") {
      watchdog.identity = value;
    } else if (key == "driver") {
      watchdog.driver = value;
    } else if (key == "software") {
      watchdog.software = value == "1";
    }
  }
  if (device) watchdog.kind = Watchdog::Kind::kDevice;
  if (watchdog.kind != Watchdog::Kind::kDevice) watchdog = {.kind = watchdog.kind};
  return watchdog;
}

Watchdog DescribeWatchdog(const wdt::Operations& wdt) {
  if (wdt.describe_watchdog == nullptr) return {};
  std::array<char, 1024> text{};
  if (wdt.describe_watchdog(text.data(), static_cast<std::uint32_t>(text.size())) != 0) return {};
  text.back() = '\0';
  return ParseWatchdogDescription(text.data());
}

std::string WatchdogText(const Watchdog& watchdog) {
  switch (watchdog.kind) {
    case Watchdog::Kind::kSimulated: return "simulated (the stand-in library)";
    case Watchdog::Kind::kUndescribed: return "the driver's library (it does not describe its watchdog)";
    case Watchdog::Kind::kDevice: break;
  }
  std::string text = wdt::Printable(watchdog.node.empty() ? "a kernel watchdog device" : watchdog.node);
  if (!watchdog.identity.empty()) text += ", " + wdt::Printable(watchdog.identity);
  if (!watchdog.driver.empty() && watchdog.driver != watchdog.identity) {
    text += " (driver " + wdt::Printable(watchdog.driver) + ")";
  }
  if (watchdog.software) text += ", a software watchdog inside the kernel";
  return text;
}

std::string WatchdogJson(const Watchdog& watchdog) {
  return "{\"kind\": " + JsonString(KindName(watchdog.kind)) + ", \"node\": " + JsonOrNull(watchdog.node) +
         ", \"identity\": " + JsonOrNull(watchdog.identity) + ", \"driver\": " + JsonOrNull(watchdog.driver) +
         ", \"software\": " + (watchdog.software ? "true" : "false") +
         ", \"text\": " + JsonString(WatchdogText(watchdog)) + "}";
}

std::vector<std::pair<std::string, std::string>> WatchdogProperties(const Watchdog& watchdog) {
  std::vector<std::pair<std::string, std::string>> properties = {{"watchdog", WatchdogText(watchdog)},
                                                                 {"watchdog.kind", std::string(KindName(watchdog.kind))}};
  for (const auto& [name, value] : {std::pair{"watchdog.node", &watchdog.node},
                                    std::pair{"watchdog.identity", &watchdog.identity},
                                    std::pair{"watchdog.driver", &watchdog.driver}}) {
    if (!value->empty()) properties.emplace_back(name, wdt::Printable(*value));
  }
  if (watchdog.kind == Watchdog::Kind::kDevice) properties.emplace_back("watchdog.software", watchdog.software ? "yes" : "no");
  return properties;
}

}  // namespace check
