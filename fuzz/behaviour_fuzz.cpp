// Fuzz target over the WDT_SIM_BEHAVIOUR parser. The parser must never crash,
// must accept exactly the texts that the grammar allows (read here a second,
// plain way, with exact whole-number arithmetic for the rate), an accepted
// list must set what it names and nothing else, and a refused one nothing, with
// printable bytes only in its reason.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "behaviour.h"
#include "property.h"

namespace {

using fuzz::Require;

// The grammar read a second way: the behaviour it means, or nothing if refused.
std::optional<sim::Behaviour> Expected(std::string_view text) {
  sim::Behaviour meant;
  std::vector<std::string_view> names;
  for (const std::string_view entry : fuzz::Entries(text)) {
    const std::string_view name = entry.substr(0, entry.find('='));
    if (std::find(names.begin(), names.end(), name) != names.end()) return std::nullopt;
    names.push_back(name);
    const std::string_view value = entry.substr(std::min(entry.size(), name.size() + 1));
    if (entry == "frozen") {
      meant.frozen = true;
    } else if (entry == "ignore-reload") {
      meant.ignore_reload = true;
    } else if (entry == "ignore-disarm") {
      meant.ignore_disarm = true;
    } else if (entry == "round=up" || entry == "round=down") {
      meant.round_down = value == "down";
    } else if (name == "grant" && entry.size() > name.size()) {
      const auto grant = fuzz::Digits(value, 255);
      if (!grant || *grant == 0) return std::nullopt;
      meant.grant = static_cast<std::uint32_t>(*grant);
    } else if (name == "stall" && entry.size() > name.size()) {
      // 0.001 to 255 in thousandths.
      const auto stall = fuzz::Scaled(value, 3, 3);
      if (!stall || *stall < 1 || *stall > 255'000) return std::nullopt;
      meant.stall = static_cast<double>(*stall) / 1e3;
    } else if (name == "jump" && entry.size() > name.size()) {
      const auto jump = fuzz::Digits(value, 255);
      if (!jump || *jump == 0) return std::nullopt;
      meant.jump = static_cast<std::uint32_t>(*jump);
    } else if (name == "step" && entry.size() > name.size()) {
      // 0.01 to 10 in thousandths.
      const auto step = fuzz::Scaled(value, 2, 3);
      if (!step || *step < 10 || *step > 10'000) return std::nullopt;
      meant.step = static_cast<double>(*step) / 1e3;
    } else if (name == "rate" && entry.size() > name.size()) {
      // 0.01 to 100 in millionths.
      const auto rate = fuzz::Scaled(value, 3, 6);
      if (!rate || *rate < 10'000 || *rate > 100'000'000) return std::nullopt;
      meant.rate = static_cast<double>(*rate) / 1e6;
    } else {
      return std::nullopt;
    }
  }
  return meant;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const sim::BehaviourList parsed = sim::ParseBehaviour(text);
  const auto expected = Expected(text);

  if (!expected) {
    fuzz::RequireRefused(parsed.error, parsed.behaviour == sim::Behaviour{});
    return 0;
  }
  Require(parsed.error.empty(), "refused a text that the grammar allows");
  Require(std::abs(parsed.behaviour.rate - expected->rate) <= 1e-12 * expected->rate,
          "the parsed rate differs from the text");
  Require(std::abs(parsed.behaviour.step - expected->step) <= 1e-12 * expected->step,
          "the parsed step differs from the text");
  Require(std::abs(parsed.behaviour.stall - expected->stall) <= 1e-12 * expected->stall,
          "the parsed stall differs from the text");
  sim::Behaviour same_rate = parsed.behaviour;
  same_rate.rate = expected->rate;
  same_rate.step = expected->step;
  same_rate.stall = expected->stall;
  Require(same_rate == *expected, "the parsed behaviour differs from the text");
  return 0;
}
