#include "output.h"

#include <algorithm>
#include <cstdio>

#include "parse.h"
#include "printable.h"

namespace check {
namespace {

std::string_view ResultName(Result result) {
  switch (result) {
    case Result::kPass: return "pass";
    case Result::kFail: return "fail";
    case Result::kSkip: return "skip";
  }
  return "fail";
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string_view VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::kPass: return "pass";
    case Verdict::kFail: return "fail";
    case Verdict::kCannotRun: return "cannot-run";
  }
  return "cannot-run";
}

std::string TapHeader(std::size_t planned, const Watchdog& watchdog) {
  return "TAP version 14\n# watchdog: " + WatchdogText(watchdog) + "\n1.." + std::to_string(planned) + "\n";
}

std::string TapLine(const Check& check, std::size_t number) {
  // A '#' in a description would start a directive.
  std::string detail;
  for (const char c : check.detail) {
    if (c == '#' || c == '\\') detail += '\\';
    detail += c;
  }
  const std::string head = std::to_string(number) + " - " + check.name;
  std::string line;
  switch (check.result) {
    case Result::kPass: line = "ok " + head + ": " + detail + "\n"; break;
    case Result::kFail: line = "not ok " + head + ": " + detail + "\n"; break;
    case Result::kSkip: line = "ok " + head + " # SKIP " + detail + "\n"; break;
  }
  if (check.figures.empty()) return line;
  // TAP 14's YAML block; a JSON number or string reads the same in YAML.
  line += "  ---\n";
  for (const Figure& figure : check.figures) line += "  " + figure.name + ": " + figure.value + "\n";
  return line + "  ...\n";
}

std::string_view EvidenceName(Evidence evidence) {
  switch (evidence) {
    case Evidence::kNone: return "none";
    case Evidence::kCallStatus: return "call status";
    case Evidence::kHardware: return "hardware";
    case Evidence::kSimulation: return "simulation";
    case Evidence::kLibrary: return "library";
    case Evidence::kLibraryCount: return "library count";
    case Evidence::kKernelState: return "kernel state";
    case Evidence::kKernelLog: return "kernel log";
    // The reports named it "none" before it had a kind of its own, and CI
    // reads the words as they were.
    case Evidence::kRecord: return "none";
  }
  return "none";
}

std::string Evidences(const Report& report) {
  // On the hardware, the library's own count, the kernel's state, its log,
  // the simulation, a library that does not describe its watchdog.
  std::string lists[6];
  std::size_t measured = 0;
  for (const Check& check : report.checks) {
    const int kind = check.evidence == Evidence::kHardware       ? 0
                     : check.evidence == Evidence::kLibraryCount ? 1
                     : check.evidence == Evidence::kKernelState  ? 2
                     : check.evidence == Evidence::kKernelLog    ? 3
                     : check.evidence == Evidence::kSimulation   ? 4
                     : check.evidence == Evidence::kLibrary      ? 5
                                                                 : -1;
    if (kind < 0) continue;
    measured += kind == 0;
    lists[kind] += (lists[kind].empty() ? "" : ", ") + check.name;
  }
  const std::string rest = (lists[1].empty() ? "" : "; the library's own count: " + lists[1]) +
                           (lists[2].empty() ? "" : "; the kernel's state: " + lists[2]) +
                           (lists[3].empty() ? "" : "; the kernel's log: " + lists[3]);
  if (report.watchdog.kind == Watchdog::Kind::kSimulated) {
    return "on the simulated watchdog: nothing was measured on hardware" +
           (lists[4].empty() ? "" : " (the simulation: " + lists[4] + ")") + rest;
  }
  return "measured on the hardware: " + std::to_string(measured) + " of " + std::to_string(report.checks.size()) +
         " checks" + (lists[0].empty() ? "" : " (" + lists[0] + ")") +
         (lists[5].empty() ? "" : "; the library's word, which does not describe its watchdog: " + lists[5]) + rest;
}

// What the reset proof covers, as the verdict line says it.
std::string CoversText(const Report& report) {
  if (report.covers == "process") {
    return "; covers a process that stops feeding, not a kernel that hangs: " +
           wdt::Printable(report.watchdog.identity.empty() ? "this watchdog" : report.watchdog.identity) +
           " is a timer inside the kernel, which dies with it";
  }
  if (report.covers == "kernel") return "; covers a process that stops feeding and a kernel that hangs";
  return "";
}

std::string TapSummary(const Report& report) {
  const std::string left_running = LeftRunning(report);
  std::size_t counts[3] = {0, 0, 0};
  for (const Check& check : report.checks) ++counts[static_cast<int>(check.result)];
  return (left_running.empty() ? "" : "# warning: " + left_running + "\n") +
         (report.put_back.empty() ? "" : "# put back as found: " + report.put_back + "\n") +
         (report.not_put_back.empty() ? "" : "# warning: not put back as found: " + report.not_put_back + "\n") +
         "# " + Evidences(report) + "\n" +
         "# verdict: " + std::string(VerdictName(report.verdict)) + ": passed " +
         std::to_string(counts[0]) + ", failed " + std::to_string(counts[1]) + ", skipped " +
         std::to_string(counts[2]) + " in " + wdt::Fixed(report.duration_s, 3) + " s" +
         (report.stopped.empty() ? "" : ", " + report.stopped) + CoversText(report) + "\n";
}

std::string Json(const Report& report, const Settings& settings) {
  std::string json = "{\"verdict\": " + JsonString(VerdictName(report.verdict)) + ", \"checks\": [";
  for (std::size_t i = 0; i < report.checks.size(); ++i) {
    const Check& check = report.checks[i];
    json += (i == 0 ? "\n  {" : ",\n  {");
    json += "\"name\": " + JsonString(check.name) + ", \"result\": " + JsonString(ResultName(check.result)) +
            ", \"detail\": " + JsonString(check.detail) + ", \"evidence\": " + JsonString(EvidenceName(check.evidence));
    for (const Figure& figure : check.figures) json += ", " + JsonString(figure.name) + ": " + figure.value;
    json += "}";
  }
  const std::size_t measured = std::count_if(report.checks.begin(), report.checks.end(),
                                             [](const Check& c) { return c.evidence == Evidence::kHardware; });
  json += "\n], \"timeout\": " + std::to_string(settings.timeout) +
          ", \"duration_s\": " + wdt::Fixed(report.duration_s, 3) +
          ", \"measured_on_hardware\": " + std::to_string(measured) +
          ", \"watchdog\": " + WatchdogJson(report.watchdog);
  if (!report.covers.empty()) json += ", \"covers\": " + JsonString(report.covers);
  if (report.left_running_s) {
    json += ", \"left_running_s\": " + std::to_string(*report.left_running_s) +
            ", \"warning\": " + JsonString(LeftRunning(report));
  }
  if (!report.put_back.empty()) json += ", \"put_back\": " + JsonString(report.put_back);
  if (!report.not_put_back.empty()) json += ", \"not_put_back\": " + JsonString(report.not_put_back);
  if (!report.stopped.empty()) json += ", \"ended_early\": " + JsonString(report.stopped);
  json += "}\n";
  return json;
}

std::string JsonRefusal(std::string_view error) {
  return "{\"verdict\": \"cannot-run\", \"error\": " + JsonString(error) + ", \"checks\": []}\n";
}

}  // namespace check
