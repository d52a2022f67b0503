// The steps of each mode, in the order in which they run: the checks, each
// judged and reported under its name, and between them the actions that
// report no check of their own (the device put back as found).
#pragma once

#include <span>
#include <string_view>

#include "report.h"
#include "settings.h"

namespace check {

class Run;

struct Step {
  std::string_view name;            // the check's, as reported; the action's, for a reader
  Check (*check)(Run&) = nullptr;   // a check; or
  void (*act)(Run&) = nullptr;      // an action, which reports no check
};

std::span<const Step> Steps(Mode mode);

}  // namespace check
