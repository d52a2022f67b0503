// How a check is judged and said: passed or failed on what, skipped with
// why, a call that failed with its status line; and the numbers and
// durations as the details write them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "report.h"
#include "settings.h"
#include "wdtDLL.h"

namespace check {

inline constexpr const char* kNotArmed = "the watchdog was not armed with a value read back";

Check Judged(std::string_view name, bool pass, std::string detail, std::vector<Figure> figures = {},
             Evidence evidence = Evidence::kHardware);
Check Skipped(std::string_view name, std::string why);
// A call that failed, with the status line of the shared table.
Check CallFailed(std::string_view name, const std::string& call, StatusCode status);

// Drivers round a part of a unit either way: right after a load of
// `loaded`, the counter may show loaded or loaded - 1.
inline bool JustLoaded(std::uint32_t shown, std::uint32_t loaded) {
  return shown == loaded || shown + 1 == loaded;
}

inline double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }
inline Clock::duration Duration(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}
// As short as it reads: 5, 2.5, 0.1.
std::string Short(double value);
inline std::string Whole(std::uint32_t value) { return std::to_string(value); }

}  // namespace check
