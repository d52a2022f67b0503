#include "judged.h"

#include <cstdio>
#include <utility>

#include "status_messages.h"

namespace check {

Check Judged(std::string_view name, bool pass, std::string detail, std::vector<Figure> figures, Evidence evidence) {
  return {std::string(name), pass ? Result::kPass : Result::kFail, std::move(detail), std::move(figures), 0,
          evidence};
}

Check Skipped(std::string_view name, std::string why) {
  return {std::string(name), Result::kSkip, std::move(why), {}, 0, Evidence::kNone};
}

Check CallFailed(std::string_view name, const std::string& call, StatusCode status) {
  std::string line = wdt::StatusMessage(status);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return Judged(name, false, call + " returned " + std::to_string(status) + ": " + line, {}, Evidence::kCallStatus);
}

std::string Short(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

}  // namespace check
