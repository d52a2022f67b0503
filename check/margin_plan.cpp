#include "margin_plan.h"

#include <algorithm>

#include "judged.h"

namespace check {

std::uint32_t FoundPretimeout(const Settings& settings) {
  return settings.device ? static_cast<std::uint32_t>(std::clamp<long>(settings.device->pretimeout.value_or(0), 0,
                                                                         kMaxTimeout))
                         : 0;
}

MarginPlan::MarginPlan(std::uint32_t timeout, std::uint32_t pretimeout, double tolerance_pct)
    : timeout_(timeout), pretimeout_(pretimeout), tolerated_(1 - tolerance_pct / 100), fastest_(tolerated_) {}

std::uint32_t MarginPlan::Before(std::uint32_t loaded) const {
  return pretimeout_ > 0 && pretimeout_ < loaded ? pretimeout_ : 0;
}

std::string MarginPlan::Crowded(std::uint32_t loaded) const {
  const std::uint32_t before = Before(loaded);
  if (before == 0 || (static_cast<double>(loaded - before) - 1) * fastest_ >= Seconds(kKeep)) return {};
  return "the pretimeout of " + Whole(before) + " s fires " + Whole(loaded - before) + " s after a load of " +
         Whole(loaded) + ", too soon to keep " + Short(Seconds(kKeep)) +
         " s from it; a longer --timeout gives room";
}

Clock::time_point MarginPlan::Expiry(Clock::time_point at, std::uint32_t shown, std::uint32_t loaded) const {
  return at + Duration(std::max(0.0, (static_cast<double>(shown) - 1 - Before(loaded)) * fastest_));
}

Clock::time_point MarginPlan::FastExpiry(Clock::time_point at, std::uint32_t shown, double seconds_per_unit) {
  return at + Duration((shown - 1) * seconds_per_unit);
}

bool MarginPlan::ReloadKeepsMargin(std::uint32_t value) const { return !((value - 1) * fastest_ < Seconds(kKeep)); }

void MarginPlan::SeenCounting(double seconds_per_unit) {
  if (seconds_per_unit > 0) fastest_ = std::min(tolerated_, seconds_per_unit);
}

bool MarginPlan::NearEnd(std::uint32_t shown) const { return shown <= kMarginUnits + 1 + Before(timeout_); }

bool MarginPlan::KeepsMarginFor(double wait_s) const {
  return !((timeout_ - 1) * fastest_ - wait_s < Seconds(kKeep));
}

}  // namespace check
