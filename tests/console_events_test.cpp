// What each of the Windows console's control events does to each program's
// run, asked of the table that the console's handler follows (ActionFor),
// with the events that no test under Wine can send. The events come as the
// console numbers them, so a name in the header with a wrong number fails
// here too; each program asks for its stops as it does on Linux.
#include "console_events.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

namespace {

using platform::ConsoleEventAction;
using platform::StopSignals;

struct Row {
  const char* event;             // the console's name for it
  unsigned long number;          // as the console sends it
  unsigned long named;           // the header's name for it
  ConsoleEventAction exerciser;  // StopSignals::kHangUpAndTerminate, as the exerciser asks
  ConsoleEventAction check;      // StopSignals::kAlsoInterruptAndSuspend, as wdt-check asks
  ConsoleEventAction interrupt;  // StopSignals::kAlsoInterrupt
};

// Ctrl+C is the interrupt that the exerciser leaves to the system: it ends
// the process, the watchdog left as it is. After a close, a log-off or a
// shutdown Windows ends the process as soon as the handler returns, so the
// handler holds until the run has ended.
constexpr Row kEvents[] = {
    {.event = "CTRL_C_EVENT",
     .number = 0,
     .named = platform::kCtrlCEvent,
     .exerciser = ConsoleEventAction::kEndInterrupted,
     .check = ConsoleEventAction::kStop,
     .interrupt = ConsoleEventAction::kStop},
    {.event = "CTRL_BREAK_EVENT",
     .number = 1,
     .named = platform::kCtrlBreakEvent,
     .exerciser = ConsoleEventAction::kStop,
     .check = ConsoleEventAction::kStop,
     .interrupt = ConsoleEventAction::kStop},
    {.event = "CTRL_CLOSE_EVENT",
     .number = 2,
     .named = platform::kCloseEvent,
     .exerciser = ConsoleEventAction::kStopAndHold,
     .check = ConsoleEventAction::kStopAndHold,
     .interrupt = ConsoleEventAction::kStopAndHold},
    {.event = "CTRL_LOGOFF_EVENT",
     .number = 5,
     .named = platform::kLogoffEvent,
     .exerciser = ConsoleEventAction::kStopAndHold,
     .check = ConsoleEventAction::kStopAndHold,
     .interrupt = ConsoleEventAction::kStopAndHold},
    {.event = "CTRL_SHUTDOWN_EVENT",
     .number = 6,
     .named = platform::kShutdownEvent,
     .exerciser = ConsoleEventAction::kStopAndHold,
     .check = ConsoleEventAction::kStopAndHold,
     .interrupt = ConsoleEventAction::kStopAndHold},
};

TEST(ConsoleEvents, EachEventEndsEachProgramsRunAsOnLinux) {
  for (const Row& row : kEvents) {
    SCOPED_TRACE(row.event);
    EXPECT_EQ(row.named, row.number);
    EXPECT_EQ(platform::ActionFor(row.number, StopSignals::kHangUpAndTerminate), row.exerciser);
    EXPECT_EQ(platform::ActionFor(row.number, StopSignals::kAlsoInterruptAndSuspend), row.check);
    EXPECT_EQ(platform::ActionFor(row.number, StopSignals::kAlsoInterrupt), row.interrupt);
  }
}

TEST(ConsoleEvents, ANumberThatNoEventHasIsTheNextHandlers) {
  constexpr unsigned long kFar[] = {0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
  std::vector<unsigned long> numbers(kFar, kFar + std::size(kFar));
  for (unsigned long number = 0; number < 1024; ++number) numbers.push_back(number);
  for (const unsigned long number : numbers) {
    if (std::any_of(std::begin(kEvents), std::end(kEvents), [&](const Row& row) { return row.number == number; })) {
      continue;
    }
    SCOPED_TRACE(number);
    for (const StopSignals which :
         {StopSignals::kHangUpAndTerminate, StopSignals::kAlsoInterrupt, StopSignals::kAlsoInterruptAndSuspend}) {
      EXPECT_EQ(platform::ActionFor(number, which), ConsoleEventAction::kPassOn);
    }
  }
}

}  // namespace
