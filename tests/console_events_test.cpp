// What each of the Windows console's control events does to each program's
// run: the table that the console's handler follows, with the events that no
// test under Wine can send.
#include "console_events.h"

#include <gtest/gtest.h>

namespace {

using platform::ConsoleEventAction;
using platform::StopSignals;

struct Row {
  unsigned long event;
  ConsoleEventAction exerciser;  // StopSignals::kHangUpAndTerminate
  ConsoleEventAction check;      // StopSignals::kAlsoInterrupt
};

TEST(ConsoleEvents, EachEventEndsEachProgramsRunAsOnLinux) {
  constexpr Row kRows[] = {
      {platform::kCtrlCEvent, ConsoleEventAction::kEndInterrupted, ConsoleEventAction::kStop},
      {platform::kCtrlBreakEvent, ConsoleEventAction::kStop, ConsoleEventAction::kStop},
      {platform::kCloseEvent, ConsoleEventAction::kStopAndHold, ConsoleEventAction::kStopAndHold},
      {platform::kLogoffEvent, ConsoleEventAction::kStopAndHold, ConsoleEventAction::kStopAndHold},
      {platform::kShutdownEvent, ConsoleEventAction::kStopAndHold, ConsoleEventAction::kStopAndHold},
      // Numbers that no event has: the next handler's.
      {3, ConsoleEventAction::kPassOn, ConsoleEventAction::kPassOn},
      {4, ConsoleEventAction::kPassOn, ConsoleEventAction::kPassOn},
      {7, ConsoleEventAction::kPassOn, ConsoleEventAction::kPassOn},
      {0xFFFFFFFF, ConsoleEventAction::kPassOn, ConsoleEventAction::kPassOn},
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.event);
    EXPECT_EQ(platform::ActionFor(row.event, StopSignals::kHangUpAndTerminate), row.exerciser);
    EXPECT_EQ(platform::ActionFor(row.event, StopSignals::kAlsoInterrupt), row.check);
  }
}

}  // namespace
