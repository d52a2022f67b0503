// What wdt-check prints: TAP version 14 on standard output, one line per
// check as it is judged and a summary; or, with --json, one JSON document.
#pragma once

#include <cstddef>
#include <string>

#include "report.h"
#include "settings.h"

namespace check {

// "TAP version 14", the watchdog checked ("# watchdog: /dev/watchdog0,
// iTCO_wdt") and the plan: 1..planned.
std::string TapHeader(std::size_t planned, const Watchdog& watchdog);
// "ok 3 - countdown: 1.002 s per unit over 4 edges (tolerance 5 %)",
// "not ok 4 - reload: wrote 20, read 25; ...", "ok 3 - countdown # SKIP why";
// then the check's figures, if it has any, in a YAML block:
// "  ---\n  wrote: 20\n  read: 25\n  ...\n".
std::string TapLine(const Check& check, std::size_t number);
// "# verdict: pass: passed 6, failed 0, skipped 0 in 6.712 s", and what
// ended the run early, if anything: ", stopped by SIGTSTP".
std::string TapSummary(const Report& report);

// {"verdict": ..., "checks": [{"name", "result", "detail", figures...}],
//  "timeout": ..., "duration_s": ..., "ended_early": ... if anything did}
std::string Json(const Report& report, const Settings& settings);

std::string_view VerdictName(Verdict verdict);
std::string_view EvidenceName(Evidence evidence);

// For a command line refused with --json: one document that says so.
std::string JsonRefusal(std::string_view error);

// A JSON string of text: quotes, backslashes and control bytes escaped.
std::string JsonString(std::string_view text);

}  // namespace check
