// The library's six operations as one table, handed to the programs' logic
// instead of calling the linked functions by name: the programs fill it from
// the linked library, tests from the simulated watchdog on a clock of their
// own.
#pragma once

#include <cstdint>

#include "wdtDLL.h"

namespace wdt {

struct Operations {
  StatusCode (*initialize_session)();
  StatusCode (*enable_timer)(std::uint32_t timeout, std::int32_t min_sec);
  StatusCode (*disable_timer)();
  StatusCode (*write_timer_value)(std::uint32_t value);
  StatusCode (*read_timer_value)(std::uint32_t* value);
  StatusCode (*close_session)();
  // Optional, the stand-in's own (wdtDLL.h): null where the library lacks
  // them, as a vendor's does. Filled by the platform, which looks them up.
  SetPretimeoutOperation set_pretimeout = nullptr;
  AcceptPretimeoutOperation accept_pretimeout = nullptr;
  DescribeWatchdogOperation describe_watchdog = nullptr;
};

// The linked library's six; for the programs' main functions only, so that
// code built without the library never names them.
inline Operations LinkedOperations() {
  return {.initialize_session = InitializeSession,
          .enable_timer = EnableTimer,
          .disable_timer = DisableTimer,
          .write_timer_value = WriteTimerValue,
          .read_timer_value = ReadTimerValue,
          .close_session = CloseSession};
}

}  // namespace wdt
