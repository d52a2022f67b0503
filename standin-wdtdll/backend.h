// The watchdog behind the library's C exports: the simulated one or a kernel
// watchdog device, chosen once by exports.cpp. Each backend takes calls from
// the program's two threads at once behind a lock of its own.
#pragma once

#include <cstdint>
#include <string>

#include "status_codes.h"
#include "wdtDLL.h"

namespace standin {

class Backend {
 public:
  virtual ~Backend() = default;
  Backend(const Backend&) = delete;
  Backend& operator=(const Backend&) = delete;

  // The driver's six operations, as wdtDLL.h describes them.
  virtual StatusCode InitializeSession() = 0;
  virtual StatusCode EnableTimer(std::uint32_t timeout, std::int32_t min_sec) = 0;
  virtual StatusCode DisableTimer() = 0;
  virtual StatusCode WriteTimerValue(std::uint32_t value) = 0;
  virtual StatusCode ReadTimerValue(std::uint32_t* value) = 0;
  virtual StatusCode CloseSession() = 0;

  // The library's optional operations. A backend without a pretimeout cannot
  // set one, and has none that would need consent.
  virtual StatusCode SetPretimeout(std::uint32_t /*seconds*/) { return wdt::kNoCommunication; }
  virtual StatusCode AcceptPretimeout() { return wdt::kOk; }
  // What the watchdog is, as DescribeWatchdog gives it (wdtDLL.h), without
  // opening anything: "key=value" lines.
  virtual std::string Describe() const = 0;

  // At the end of the process, with nothing destroyed: says what the
  // watchdog is left doing, where that matters.
  virtual void AtExit() {}

 protected:
  Backend() = default;
};

}  // namespace standin
