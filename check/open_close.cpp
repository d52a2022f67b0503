// The session's two calls, judged on their statuses alone: open (with the
// consent to a pretimeout that the run plans for) and close.
#include "checks.h"
#include "judged.h"
#include "margin_plan.h"
#include "run.h"

namespace check {

Check Open(Run& run) {
  if (run.Stop()) return run.Stopped("open");
  const wdt::Operations& wdt = run.wdt();
  // The checks plan every margin against a pretimeout that sysfs shows: the
  // library need not refuse it.
  if (FoundPretimeout(run.settings()) > 0 && wdt.accept_pretimeout != nullptr) {
    if (const StatusCode status = wdt.accept_pretimeout(); status != 0) {
      return CallFailed("open", WDT_ACCEPT_PRETIMEOUT_NAME "()", status);
    }
  }
  if (const StatusCode status = wdt.initialize_session(); status != 0) {
    return CallFailed("open", "InitializeSession()", status);
  }
  return Judged("open", true, "InitializeSession() returned 0", {}, Evidence::kCallStatus);
}

Check Close(Run& run) {
  if (const StatusCode status = run.wdt().close_session(); status != 0) {
    return CallFailed("close", "CloseSession()", status);
  }
  return Judged("close", true, "CloseSession() returned 0", {}, Evidence::kCallStatus);
}

}  // namespace check
