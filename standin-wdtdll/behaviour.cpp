#include "behaviour.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "parse.h"
#include "printable.h"

namespace sim {
namespace {

// Applies one entry to behaviour; says what is wrong with it, or nothing.
std::string ParseEntry(std::string_view entry, Behaviour& behaviour) {
  if (entry.empty()) return "empty entry";
  const std::size_t equals = entry.find('=');
  const std::string_view name = entry.substr(0, equals);
  const bool has_value = equals != std::string_view::npos;
  const std::string_view value = has_value ? entry.substr(equals + 1) : "";

  const std::array<std::pair<std::string_view, bool*>, 3> flags = {{
      {"frozen", &behaviour.frozen},
      {"ignore-reload", &behaviour.ignore_reload},
      {"ignore-disarm", &behaviour.ignore_disarm},
  }};
  for (const auto& [flag, set] : flags) {
    if (name != flag) continue;
    if (has_value) return "'" + wdt::Printable(name) + "' takes no value";
    *set = true;
    return {};
  }
  if (name != "rate" && name != "grant" && name != "round" && name != "step" && name != "stall" &&
      name != "jump") {
    return "unknown behaviour '" + wdt::Printable(name) + "'";
  }
  if (!has_value) return "'" + wdt::Printable(name) + "' needs '=' and a value";
  if (name == "rate") {
    const auto rate = wdt::DecimalNumber(value, 3, 6);
    if (!rate || *rate < kMinRate || *rate > kMaxRate) {
      return "rate is not a decimal number " + wdt::FromTo(kMinRate, kMaxRate);
    }
    behaviour.rate = *rate;
  } else if (name == "grant") {
    const auto grant = wdt::WholeNumber(value, kMinGrant, wdt::kMaxTimeout);
    if (!grant) return "grant is not a whole number " + wdt::FromTo(kMinGrant, wdt::kMaxTimeout);
    behaviour.grant = *grant;
  } else if (name == "stall") {
    const auto stall = wdt::DecimalNumber(value, 3, 3);
    const double most = wdt::kMaxTimeout;
    if (!stall || *stall < kMinStall || *stall > most) return "stall is not a decimal number " + wdt::FromTo(kMinStall, most);
    behaviour.stall = *stall;
  } else if (name == "jump") {
    const auto jump = wdt::WholeNumber(value, kMinJump, wdt::kMaxTimeout);
    if (!jump) return "jump is not a whole number " + wdt::FromTo(kMinJump, wdt::kMaxTimeout);
    behaviour.jump = *jump;
  } else if (name == "step") {
    const auto step = wdt::DecimalNumber(value, 2, 3);
    if (!step || *step < kMinStep || *step > kMaxStep) {
      return "step is not a decimal number " + wdt::FromTo(kMinStep, kMaxStep);
    }
    behaviour.step = *step;
  } else {
    if (value != "up" && value != "down") return "round is neither 'up' nor 'down'";
    behaviour.round_down = value == "down";
  }
  return {};
}

}  // namespace

BehaviourList ParseBehaviour(std::string_view text) {
  BehaviourList list;
  const std::vector<std::string_view> entries = wdt::SplitList(text);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string_view name = entries[i].substr(0, entries[i].find('='));
    std::string why = ParseEntry(entries[i], list.behaviour);
    if (why.empty() && std::any_of(entries.begin(), entries.begin() + i, [&](std::string_view earlier) {
          return earlier.substr(0, earlier.find('=')) == name;
        })) {
      why = "the same behaviour is given twice";
    }
    if (!why.empty()) {
      list.behaviour = {};
      list.error = "entry " + std::to_string(i + 1) + " '" + wdt::Printable(entries[i]) + "': " + why;
      return list;
    }
  }
  return list;
}

}  // namespace sim
